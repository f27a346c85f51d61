// The main window: start-up, the log of requested addresses and the small
// handlers of the sign-in page.
#include "app/tmain.h"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>

#include "app/application.h"
#include "app/combo_sink.h"
#include "app/help_text.h"
#include "app/radio_group.h"
#include "app/schedule_list.h"
#include "catalogue/crawl_worker.h"
#include "catalogue/schema.h"
#include "common/errors.h"
#include "common/profile.h"
#include "common/settings.h"

namespace quilora {
namespace {

constexpr int kLoginPage = 0;
constexpr int kMaintenancePage = 2;

} // namespace

TMain::TMain(const QString& settingsDir, QWidget* parent)
    : QMainWindow(parent),
      settingsDir_(settingsDir.isEmpty() ? QCoreApplication::applicationDirPath() : settingsDir) {
    BuildWidgets();
    ConnectHandlers();
    BuildNotify();
    RunGuarded([this] { FormCreate(); });
}

TMain::~TMain() {
    if (worker)
        worker->Shutdown(); // a hung request is cut off; a registration runs to its end
    if (crawler)
        crawler->Shutdown(); // a crawl under way rolls back
    portalThread_.quit();
    crawlThread_.quit();
    portalThread_.wait();
    crawlThread_.wait();
}

void TMain::FormCreate() {
    // 1-4 (the window becomes the log of the HTTP client's addresses as soon as
    // the client exists, in step 6)
    setWindowTitle(QStringLiteral("Brenvik ") + windowTitle());
    ActivatePage(kLoginPage);

    // 5: the installation's card number and the portal's hosts
    const ProfileFile profile(SettingsPath().toStdString());
    const QString cardNo = QString::fromStdString(ReadCardNo(profile));
    lblUserName->setText(cardNo);
    edtUserID->setText(cardNo);
    portal = ReadPortalHosts(profile);
    mmoHelp->setPlainText(HelpLines(portal.HomeAddress()).join(QLatin1Char('\n')));

    // 6
    StartWorker();

    // 7-8: relative SQLite paths are taken from the folder of Config.ini
    ADOC.SetOnOpened(&catalogue::PrepareCatalogue);
    const std::string connectionString = ReadConnect(profile);
    try {
        ADOC.SetConnectionString(connectionString, settingsDir_.toStdString());
        ADOC.Open();
    } catch (const std::exception&) {
        throw QuiloraError("连接数据库失败！");
    }
    StartCrawler(connectionString);

    // 9-10
    db::OpenQuery(qryTmp, "Select * From TUserTypeArea");
    ComboBoxSink userTypes(*cbxUserTypeArea);
    db::FillCombo(qryTmp, "UserTypeName", "UserTypeID", userTypes);
    db::OpenQuery(qryTmp, "Select * From TUserTypeCard");
    ComboBoxSink cardTypes(*cbxUserTypeCard);
    db::FillComboText(qryTmp, "UserTypeName", "UserTypeID", cardTypes);

    // 11-12
    BuildAreaList();
    RestoreSettings();
    RestoreCascade();
    OpenWatchList(connectionString);
}

void TMain::ConnectHandlers() {
    edtPasswd->installEventFilter(this);
    tstLogin->installEventFilter(this);

    connect(btnLogin, &QPushButton::clicked, this, Guarded(this, &TMain::btnLoginClick));
    connect(btnGetUser, &QPushButton::clicked, this, Guarded(this, &TMain::btnGetUserClick));
    // activated: only a choice by mouse or keyboard, never a selection from code
    connect(cbxArea, &QComboBox::activated, this, Guarded(this, &TMain::cbxAreaChange));
    connect(cbxHospital, &QComboBox::activated, this, Guarded(this, &TMain::cbxHospitalChange));
    connect(cbxClass, &QComboBox::activated, this, Guarded(this, &TMain::cbxClassChange));
    connect(btnGoWebsite, &QPushButton::clicked, this, Guarded(this, &TMain::btnGoWebsiteClick));
    connect(btnRefreshData, &QPushButton::clicked, this, Guarded(this, &TMain::btnRefreshDataClick));
    connect(btnOrder, &QPushButton::clicked, this, Guarded(this, &TMain::btnOrderClick));
    connect(btnGetData, &QPushButton::clicked, this, Guarded(this, &TMain::btnGetDataClick));
    connect(btnGetHospital, &QPushButton::clicked, this, Guarded(this, &TMain::btnGetHospitalClick));
    connect(btnKeshi, &QPushButton::clicked, this, Guarded(this, &TMain::btnKeshiClick));
    connect(btnGetDoctor, &QPushButton::clicked, this, Guarded(this, &TMain::btnGetDoctorClick));
    connect(btnTest, &QPushButton::clicked, this, Guarded(this, &TMain::btnTestClick));
    // tmrOrder mirrors the worker's tick timer (which runs the ticks): it runs
    // while auto-booking does and fires into nothing.
    connect(btnStopAuto, &QPushButton::clicked, this, Guarded(this, &TMain::btnStopAutoClick));
    connect(btnCancel, &QPushButton::clicked, this, Guarded(this, &TMain::btnCancelClick));
    connect(btnStopCrawl, &QPushButton::clicked, this, Guarded(this, &TMain::btnStopCrawlClick));
    ConnectWatchHandlers();
    connect(tmrWait, &QTimer::timeout, this, [this] { ShowWait(); });
    connect(rgpUser, &RadioGroup::Changed, this, [this] { PushPatient(); });

    // Maintainers reveal (and hide again) the maintenance page with Ctrl+Shift+F12.
    auto* maintenance = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F12), this);
    maintenance->setObjectName(QStringLiteral("maintenanceShortcut"));
    connect(maintenance, &QShortcut::activated, this, [this] {
        const bool show = !pcl->isTabVisible(kMaintenancePage);
        pcl->setTabVisible(kMaintenancePage, show);
        if (show)
            ActivatePage(kMaintenancePage);
    });
}

void TMain::ActivatePage(int index) {
    pcl->setCurrentIndex(index);
}

void TMain::LogUrl(std::string_view line) {
    mmo->appendPlainText(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
}

void TMain::Log(std::string_view line) {
    LogUrl(line); // the same memo, one line
}

void TMain::BeginWait() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
}

void TMain::EndWait() {
    QApplication::restoreOverrideCursor();
}

void TMain::tstLoginShow() {
    edtPasswd->selectAll();
    edtPasswd->setFocus(Qt::OtherFocusReason);
}

void TMain::btnGoWebsiteClick() {
    // The desktop's default browser; its answer is of no interest.
    QDesktopServices::openUrl(QUrl(QString::fromStdString(portal.HomeAddress())));
}

bool TMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tstLogin && event->type() == QEvent::Show) {
        RunGuarded([this] { tstLoginShow(); });
    } else if (watched == edtPasswd && event->type() == QEvent::KeyPress) {
        const int key = static_cast<const QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            btnLogin->click(); // the key itself goes on to the edit
    }
    return QMainWindow::eventFilter(watched, event);
}

PortalWorker& TMain::Worker() {
    if (!worker)
        throw QuiloraError("网络组件初始化失败。");
    return *worker;
}

void TMain::StartWorker() {
    auto owned = std::make_unique<PortalWorker>(portal);
    owned->moveToThread(&portalThread_);
    worker = owned.release(); // from here on deleted on its thread, when that ends
    connect(&portalThread_, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &PortalWorker::LogLine, this,
            [this](const QString& line) { mmo->appendPlainText(line); });
    connect(worker, &PortalWorker::StateChanged, this,
            [this](const OrderState& s) { RunGuarded([&] { WorkerState(s); }); });
    connect(worker, &PortalWorker::JobDone, this,
            [this](const JobOutcome& out) { RunGuarded([&] { JobDone(out); }); });
    connect(worker, &PortalWorker::TickEnded, this,
            [this](const TickOutcome& out) { RunGuarded([&] { TickEnded(out); }); });
    connect(worker, &PortalWorker::SlotPolled, this, [this](int index, const QString& answer) {
        RunGuarded([&] { WatchSlotPolled(index, answer); });
    });
    connect(worker, &PortalWorker::TickFailed, this,
            [](const QString& text) { ReportError(text.toStdString()); });
    portalThread_.setObjectName(QStringLiteral("portal"));
    portalThread_.start();
}

} // namespace quilora
