#pragma once
// The main window. It owns the widgets, the catalogue connection and the
// portal worker (its own thread); its handlers stay thin: check, start a job
// of the worker or call the engines of catalogue/, show what comes back. Each
// subsystem's handlers have a file of their own here (tmain_*.cpp).
#include <QMainWindow>
#include <QString>
#include <QThread>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/database.h"
#include "net/fetcher.h"
#include "net/portal_address.h"
#include "workflow/auto_booking.h"
#include "workflow/booking_record.h"
#include "workflow/portal_session.h"
#include "workflow/portal_worker.h"
#include "workflow/schedule_slot.h"
#include "workflow/watch_list.h"

class QTabWidget;
class QWidget;
class QGroupBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QPlainTextEdit;
class QTimer;
class QProgressBar;
class QCheckBox;
class QTableWidget;

namespace quilora {
namespace catalogue {
class CrawlWorker;
}

class RadioGroup;
class ScheduleList;
class WindowNotify;
struct ChannelResult;

class TMain : public QMainWindow, public LogTarget {
    Q_OBJECT
public:
    // settingsDir: folder of Config.ini; the executable's folder when empty.
    explicit TMain(const QString& settingsDir = QString(), QWidget* parent = nullptr);
    ~TMain() override;

    // LogTarget: the crawler's address lines (synchronous, same thread).
    void LogUrl(std::string_view line) override;
    void BeginWait() override;
    void EndWait() override;

    // A line in the log memo.
    void Log(std::string_view line);

    QString SettingsPath() const; // full path of Config.ini
    void ActivatePage(int index); // 0 sign-in, 1 booking, 2 maintenance, 3 help

    // ---- widgets (named as on screen; owned by Qt parents) ----
    QTabWidget* pcl = nullptr;
    QWidget* tstLogin = nullptr;
    QWidget* tstreserve = nullptr;
    QWidget* tstOrder = nullptr;
    QWidget* tstHelp = nullptr;
    QGroupBox* gbxLogin = nullptr;
    QComboBox* cbxUserTypeArea = nullptr;
    QComboBox* cbxUserTypeCard = nullptr; // entries carry an identifier text (TStringObject)
    QLabel* lblUserName = nullptr;
    QLineEdit* edtUserID = nullptr;
    QLineEdit* edtPasswd = nullptr;
    QPushButton* btnLogin = nullptr;
    RadioGroup* rgpUser = nullptr;
    QPushButton* btnGetUser = nullptr;
    QComboBox* cbxArea = nullptr;
    QComboBox* cbxHospital = nullptr;
    QComboBox* cbxClass = nullptr;
    QComboBox* cbxDoctor = nullptr;
    QPushButton* btnGoWebsite = nullptr;
    QPushButton* btnRefreshData = nullptr;
    QPushButton* btnOrder = nullptr;
    QLineEdit* edtReleaseTime = nullptr; // "放号时间": optional, HH:MM[:SS] on the portal's clock
    ScheduleList* lvLog = nullptr;
    QPushButton* btnGetData = nullptr;
    QPushButton* btnGetHospital = nullptr;
    QPushButton* btnKeshi = nullptr;
    QPushButton* btnGetDoctor = nullptr;
    QPushButton* btnTest = nullptr;
    QPlainTextEdit* mmo = nullptr;
    QPlainTextEdit* mmoHelp = nullptr;
    QTimer* tmrOrder = nullptr;
    QLabel* lblStatus = nullptr;           // the auto-booking status, at the foot of every page
    QPushButton* btnStopAuto = nullptr;    // "停止自动预约", shown while auto-booking is armed
    QLabel* lblWait = nullptr;             // "正在登录… 3 秒" while a job the user started waits
    QPushButton* btnCancel = nullptr;      // "取消": abandons that wait
    QTimer* tmrWait = nullptr;             // counts the seconds waited
    QProgressBar* crawlProgress = nullptr; // a crawl's pages
    QPushButton* btnStopCrawl = nullptr;
    QPushButton* btnAddWatch = nullptr;    // "加入自动预约列表", beside the order button
    QWidget* tstWatch = nullptr;           // the page "自动预约列表"
    QTableWidget* tblWatch = nullptr;      // the list, named "自动预约列表"
    QPushButton* btnStartWatch = nullptr;  // "开始自动预约"
    QPushButton* btnStopWatch = nullptr;   // "停止自动预约"
    QPushButton* btnRemoveWatch = nullptr; // "移除"
    QCheckBox* chkStopOthers = nullptr;    // "预约成功后停止其余", on by default
    QWidget* tstRecord = nullptr;          // the page "预约记录"
    QTableWidget* tblRecord = nullptr;     // the record, newest first, named "预约记录"
    QPlainTextEdit* mmoRecordAnswer =
        nullptr; // the selected attempt's answer in full   // "停止": ends a crawl, its table keeps its rows

    // ---- non-visual components ----
    db::Connection ADOC;
    db::Query qryTmp{ADOC};
    db::Query qryLoc{ADOC};
    db::Command cmd{ADOC};
    PortalHosts portal;
    // The card's auto-booking list, on ADOC; null until start-up opened it.
    std::unique_ptr<WatchList> watchList;
    // The crawler of the maintenance page, on crawlThread; deleted there when
    // that ends; null when start-up failed first.
    catalogue::CrawlWorker* crawler = nullptr;
    catalogue::CrawlWorker& Crawler();
    // The portal session, the auto-booking engine and its ticks, on portalThread.
    // Deleted on its own thread when that ends; null when start-up failed first.
    PortalWorker* worker = nullptr;
    PortalWorker& Worker();
    // The worker's client (its limits may be set while nothing waits).
    HttpClient& PortalHttp() { return Worker().Http(); }

    // ---- window state ----
    // orderBusy, stopRequested, orderSlot (shared with the row that listed it),
    // whether auto-booking runs and its status, as the worker last told them.
    OrderState order;
    std::string loginCardNo;
    // A job the user started is under way (its controls are disabled).
    bool Waiting() const { return waitJob_ != 0; }
    // A crawl of the maintenance page is under way.
    bool Crawling() const { return crawling_; }

    // ---- app/: start-up, settings, small handlers ----
    void FormCreate();
    void SaveSettings();
    void RestoreSettings();
    void tstLoginShow();
    void btnGoWebsiteClick();

    // ---- catalogue/: selection cascade and crawler ----
    void BuildAreaList();
    void RestoreCascade();
    void cbxAreaChange();
    void cbxHospitalChange();
    void cbxClassChange();
    void btnGetDataClick();
    void btnGetHospitalClick();
    void btnKeshiClick();
    void btnGetDoctorClick();
    void btnTestClick();
    void btnStopCrawlClick();

    // ---- workflow/: sign-in, patients, schedule, booking, order ----
    void btnLoginClick();
    void LoadPatients(bool mayFetch = true);
    void btnGetUserClick();
    void btnRefreshDataClick();
    void BookSlot(const ScheduleSlot& slot);
    void btnOrderClick();
    void tmrOrderTimer();
    void btnStopAutoClick();
    void btnCancelClick();

    // ---- the auto-booking list and the booking record (tmain_watchlist.cpp) ----
    void btnAddWatchClick();
    void btnStartWatchClick();
    void btnStopWatchClick();
    void btnRemoveWatchClick();
    void tblRecordSelect();
    void ShowWatchList();
    void ShowRecord();
    // The release time typed beside the order button, on the portal's clock;
    // none when the field is empty, a hint that ends the order when it is no time.
    std::optional<std::chrono::system_clock::time_point> ReleaseTime();

    // ---- notifications of outcomes (tmain_notify.cpp) ----
    QPushButton* btnNotify = nullptr;      // "通知设置" on the sign-in page
    QPushButton* btnNotifyOrder = nullptr; // and on the maintenance page
    WindowNotify* notify = nullptr;        // owned by the window
    void BuildNotify();
    void btnNotifyClick();
    // A channel's result: a line in the log; a failure in the status line too, never a box.
    void NotifyShown(const ChannelResult& result);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildWidgets();
    void BuildWatchPages();
    void ConnectWatchHandlers();
    // Start-up: attempts cut short become 未能确认, the list is read, and an
    // armed list is asked about.
    void OpenWatchList(const std::string& connectionString);
    void StartWatchList();
    void ResumeWatchAfterSignIn();
    void WatchSlotPolled(int index, const QString& answer);
    void WatchEnded(const TickOutcome& out);
    void ConnectHandlers();
    void StartWorker();
    void StartCrawler(const std::string& connectionString);
    void Crawl(int kind);
    void ShowCrawl(int kind, qulonglong done, qulonglong total, qulonglong rows);
    void CrawlFinished(int kind, bool stopped, const QString& error);

    // ---- the worker's answers ----
    void WorkerState(const OrderState& state);
    void JobDone(const JobOutcome& out);
    void TickEnded(const TickOutcome& out);
    void SignInDone(const JobOutcome& out);
    void PatientsDone(const JobOutcome& out);
    void ScheduleDone(const JobOutcome& out);
    void ShowOrderState();
    void PushPatient();

    // ---- order commands to the worker; the mirror follows at once ----
    bool RequestStop(); // gives whether a new order may go on
    void StartOrder(std::shared_ptr<const ScheduleSlot> slot);
    void Confirm();
    void Decline();
    void Arm(std::optional<std::chrono::system_clock::time_point> release);

    // ---- the wait of a job the user started ----
    void StartWait(JobKind kind, std::uint64_t job);
    void FinishWait();
    void ShowWait();

    QThread portalThread_;
    QThread crawlThread_;
    bool crawling_ = false;
    std::uint64_t commandSent_ = 0;      // the last order command sent to the worker
    std::uint64_t waitJob_ = 0;          // the job waited for; 0: none
    std::uint64_t abandonedBooking_ = 0; // the last "2、立刻预约" left with 取消
    JobKind waitKind_ = JobKind::SignIn;
    std::chrono::steady_clock::time_point waitStart_{};
    bool registrationSent_ = false;
    std::chrono::steady_clock::time_point bookingSince_{};
    std::chrono::steady_clock::time_point publishedAt_{}; // when order came from the worker
    bool autoBooking_ = false;                            // the booking under way was started by auto-booking
    bool endedByAutoBooking_ = false;                     // the phase shown now was reached by auto-booking
    std::string signingInAs_;                             // the card number of the sign-in under way
    QString settingsDir_;
    // The list indexes of the slots the worker watches for the list; empty: none.
    std::vector<std::size_t> watching_;
    bool resumeWatch_ = false;               // Yes at start-up: arm the list once signed in
    std::vector<std::string> recordAnswers_; // of the record's rows, in order
};

} // namespace quilora
