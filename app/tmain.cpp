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
    RunGuarded([this] { FormCreate(); });
}

TMain::~TMain() = default;

void TMain::FormCreate() {
    // 1-4 (the window becomes the log of the HTTP client's addresses as soon as
    // the client exists, in step 6)
    setWindowTitle(QStringLiteral("Brenvik ") + windowTitle());
    ActivatePage(kLoginPage);
    order.Decline(); // orderBusy lowered

    // 5: the installation's card number and the portal's hosts
    const ProfileFile profile(SettingsPath().toStdString());
    const QString cardNo = QString::fromStdString(ReadCardNo(profile));
    lblUserName->setText(cardNo);
    edtUserID->setText(cardNo);
    portal = ReadPortalHosts(profile);
    mmoHelp->setPlainText(HelpLines(portal.HomeAddress()).join(QLatin1Char('\n')));

    // 6
    xmlHttp = std::make_unique<HttpClient>();
    xmlHttp->SetLogWindow(this);
    session = std::make_unique<PortalSession>(*xmlHttp, portal);
    session->SetAnswerObserver([this](const FetchedPage& page) { order.Observe(page); });

    // 7-8: relative SQLite paths are taken from the folder of Config.ini
    ADOC.SetOnOpened(&catalogue::PrepareCatalogue);
    try {
        ADOC.SetConnectionString(ReadConnect(profile), settingsDir_.toStdString());
        ADOC.Open();
    } catch (const std::exception&) {
        throw QuiloraError("连接数据库失败！");
    }

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
    connect(tmrOrder, &QTimer::timeout, this, Guarded(this, &TMain::tmrOrderTimer));
    connect(btnStopAuto, &QPushButton::clicked, this, Guarded(this, &TMain::btnStopAutoClick));

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

HttpClient& TMain::Http() {
    // A start-up that failed before creating the HTTP client left none.
    if (!xmlHttp)
        throw QuiloraError("网络组件初始化失败。");
    return *xmlHttp;
}

PortalSession& TMain::Session() {
    if (!xmlHttp || !session)
        throw QuiloraError("网络组件初始化失败。");
    return *session;
}

} // namespace quilora
