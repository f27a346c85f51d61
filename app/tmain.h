#pragma once
// The main window. It owns the widgets, the HTTP client, the catalogue
// connection and the workflow state; its handlers stay thin: check, call the
// engines of catalogue/ and workflow/, show. Each subsystem's handlers have a
// file of their own here (tmain_*.cpp).
#include <QMainWindow>
#include <QString>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/database.h"
#include "net/fetcher.h"
#include "net/portal_address.h"
#include "workflow/auto_booking.h"
#include "workflow/portal_session.h"
#include "workflow/schedule_slot.h"

class QTabWidget;
class QWidget;
class QGroupBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QPlainTextEdit;
class QTimer;

namespace quilora {

class RadioGroup;
class ScheduleList;
class WindowNotify;
struct ChannelResult;

class TMain : public QMainWindow, public LogTarget, public AutoBookingHost {
    Q_OBJECT
public:
    // settingsDir: folder of Config.ini; the executable's folder when empty.
    explicit TMain(const QString& settingsDir = QString(), QWidget* parent = nullptr);
    ~TMain() override;

    // LogTarget: the fetcher's address lines (synchronous, same thread).
    void LogUrl(std::string_view line) override;
    void BeginWait() override;
    void EndWait() override;

    // AutoBookingHost: the patient, the log, the timer and the status bar.
    int MemberId() override;
    std::string PatientName() override;
    void Log(std::string_view line) override;
    void TimerChanged(bool enabled) override;
    void StatusChanged(const AutoBookingStatus& status) override;

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
    QLabel* lblStatus = nullptr;        // the auto-booking status, at the foot of every page
    QPushButton* btnStopAuto = nullptr; // "停止自动预约", shown while auto-booking is armed

    // ---- non-visual components ----
    db::Connection ADOC;
    db::Query qryTmp{ADOC};
    db::Query qryLoc{ADOC};
    db::Command cmd{ADOC};
    std::unique_ptr<HttpClient> xmlHttp;
    // xmlHttp, or an error when a failed start-up left none.
    HttpClient& Http();
    PortalHosts portal;
    // The portal conversation over xmlHttp; Session() errs when start-up left none.
    std::unique_ptr<PortalSession> session;
    PortalSession& Session();

    // ---- window state ----
    // orderBusy, stopRequested, orderSlot (shared with the row that listed it)
    // and whether tmrOrder runs.
    AutoBooking order{*this};
    std::string loginCardNo;

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

    // ---- workflow/: sign-in, patients, schedule, booking, order ----
    void btnLoginClick();
    void LoadPatients(bool mayFetch = true);
    void btnGetUserClick();
    void btnRefreshDataClick();
    void BookSlot(const ScheduleSlot& slot);
    void btnOrderClick();
    void tmrOrderTimer();
    void btnStopAutoClick();
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
    void ScheduleNextTick();
    int tickInterval_ = 800; // tmrOrder's own interval, while no release time sets the ticks
    void ConnectHandlers();
    QString settingsDir_;
};

} // namespace quilora
