// The window's pages and controls.
#include <QComboBox>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QValidator>

#include "app/no_line_breaks.h"
#include "app/radio_group.h"
#include "app/schedule_list.h"
#include "app/tmain.h"

namespace quilora {
namespace {

constexpr int kTabHeight = 18;
constexpr QSize kClientSize{688, 434}; // the frame brings the outer size to 696 x 468
constexpr QSize kOuterSize{696, 468};

class FixedHeightTabBar : public QTabBar {
public:
    using QTabBar::QTabBar;

protected:
    QSize tabSizeHint(int index) const override {
        QSize size = QTabBar::tabSizeHint(index);
        size.setHeight(kTabHeight);
        return size;
    }
};

class PageControl : public QTabWidget {
public:
    explicit PageControl(QWidget* parent) : QTabWidget(parent) { setTabBar(new FixedHeightTabBar(this)); }
};

QFont WindowFont() {
    // "宋体" where it exists; elsewhere a CJK face that renders the same texts.
    QFont::insertSubstitutions(QStringLiteral("宋体"),
                               {QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Zen Hei")});
    QFont font;
    font.setFamilies({QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("WenQuanYi Zen Hei"),
                      QStringLiteral("Noto Sans CJK SC")});
    font.setPixelSize(12);
    return font;
}

template <class W> W* Named(W* widget, const char* name) {
    widget->setObjectName(QString::fromLatin1(name));
    return widget;
}

QPushButton* Button(const QString& caption, const char* name, QWidget* parent) {
    auto* button = Named(new QPushButton(caption, parent), name);
    button->setAccessibleName(caption);
    button->setAutoDefault(false);
    return button;
}

QLabel* Label(const QString& caption, QWidget* buddy, const char* name, QWidget* parent) {
    auto* label = Named(new QLabel(caption, parent), name);
    label->setBuddy(buddy);
    buddy->setAccessibleName(caption);
    return label;
}

QComboBox* PickList(const char* name, QWidget* parent) {
    auto* box = Named(new QComboBox(parent), name);
    box->setEditable(false);
    box->setMaxVisibleItems(16);
    // Long hospital names must not widen the page.
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(8);
    return box;
}

} // namespace

void TMain::BuildWidgets() {
    setWindowTitle(QStringLiteral("Quilora自动预约系统 - VER 2.2"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFont(WindowFont());
    resize(kClientSize);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(kOuterSize.width() / 2, kOuterSize.height() / 2));
    }

    auto* client = Named(new QWidget(this), "client");
    setCentralWidget(client);
    auto* clientLayout = new QVBoxLayout(client);
    // pcl at 8,9, 673 x 416, anchored on all four sides.
    clientLayout->setContentsMargins(8, 9, kClientSize.width() - 8 - 673, kClientSize.height() - 9 - 416);
    pcl = Named(new PageControl(client), "pcl");
    clientLayout->addWidget(pcl);

    // ---- sign-in page ----
    tstLogin = Named(new QWidget(pcl), "tstLogin");
    pcl->addTab(tstLogin, QStringLiteral("登录"));
    auto* loginPage = new QGridLayout(tstLogin);
    loginPage->setRowStretch(0, 1);
    loginPage->setRowStretch(2, 1);
    loginPage->setColumnStretch(0, 1);
    loginPage->setColumnStretch(2, 1);
    gbxLogin = Named(new QGroupBox(QStringLiteral("系统登录"), tstLogin), "gbxLogin");
    gbxLogin->setFixedSize(300, 170);
    loginPage->addWidget(gbxLogin, 1, 1); // stays in the middle of the page

    cbxUserTypeArea = PickList("cbxUserTypeArea", gbxLogin);
    cbxUserTypeCard = PickList("cbxUserTypeCard", gbxLogin);
    cbxUserTypeCard->setAccessibleName(QStringLiteral("卡类型"));
    cbxUserTypeCard->setVisible(false);
    lblUserName = Named(new QLabel(gbxLogin), "lblUserName");
    lblUserName->setTextInteractionFlags(Qt::TextSelectableByMouse);
    edtUserID = Named(new QLineEdit(gbxLogin), "edtUserID");
    edtUserID->setReadOnly(true);
    edtUserID->setEnabled(false);
    edtUserID->setVisible(false);
    edtUserID->setAccessibleName(QStringLiteral("用户卡号"));
    edtPasswd = Named(new QLineEdit(gbxLogin), "edtPasswd");
    edtPasswd->setEchoMode(QLineEdit::Password);
    edtPasswd->setValidator(new NoLineBreaks(edtPasswd));
    // One "*" per character, whatever the style's own mask character is.
    edtPasswd->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    btnLogin = Button(QStringLiteral("登入"), "btnLogin", gbxLogin);

    auto* form = new QGridLayout(gbxLogin);
    form->setContentsMargins(24, 16, 24, 12);
    form->setHorizontalSpacing(10);
    form->setVerticalSpacing(10);
    form->setColumnStretch(1, 1);
    form->addWidget(Label(QStringLiteral("用户类型"), cbxUserTypeArea, "lblUserType", gbxLogin), 0, 0);
    form->addWidget(cbxUserTypeArea, 0, 1);
    form->addWidget(cbxUserTypeCard, 1, 1);
    auto* cardLabel = Label(QStringLiteral("用户卡号"), edtUserID, "lblCardNo", gbxLogin);
    lblUserName->setAccessibleDescription(cardLabel->text());
    form->addWidget(cardLabel, 2, 0);
    form->addWidget(lblUserName, 2, 1);
    form->addWidget(edtUserID, 3, 1);
    form->addWidget(Label(QStringLiteral("用户密码"), edtPasswd, "lblPasswd", gbxLogin), 4, 0);
    form->addWidget(edtPasswd, 4, 1);
    form->addWidget(btnLogin, 5, 1, Qt::AlignRight);

    // ---- booking page ----
    tstreserve = Named(new QWidget(pcl), "tstreserve");
    pcl->addTab(tstreserve, QStringLiteral("预约挂号"));
    auto* booking = new QVBoxLayout(tstreserve);
    booking->setContentsMargins(6, 6, 6, 6);
    booking->setSpacing(6);

    auto* patients = new QHBoxLayout;
    rgpUser = Named(new RadioGroup(QStringLiteral("请选择就诊人"), tstreserve), "rgpUser");
    rgpUser->setAccessibleName(rgpUser->title());
    rgpUser->setMinimumHeight(58);
    btnGetUser = Button(QStringLiteral("刷新就诊人"), "btnGetUser", tstreserve);
    patients->addWidget(rgpUser, 1);
    patients->addWidget(btnGetUser, 0, Qt::AlignBottom);
    booking->addLayout(patients);

    cbxArea = PickList("cbxArea", tstreserve);
    cbxHospital = PickList("cbxHospital", tstreserve);
    cbxClass = PickList("cbxClass", tstreserve);
    cbxDoctor = PickList("cbxDoctor", tstreserve);
    auto* choice = new QGridLayout;
    choice->setHorizontalSpacing(6);
    choice->setColumnStretch(1, 2);
    choice->setColumnStretch(3, 3);
    choice->addWidget(Label(QStringLiteral("地区"), cbxArea, "lblArea", tstreserve), 0, 0);
    choice->addWidget(cbxArea, 0, 1);
    choice->addWidget(Label(QStringLiteral("医院"), cbxHospital, "lblHospital", tstreserve), 0, 2);
    choice->addWidget(cbxHospital, 0, 3);
    choice->addWidget(Label(QStringLiteral("科室"), cbxClass, "lblClass", tstreserve), 1, 0);
    choice->addWidget(cbxClass, 1, 1);
    choice->addWidget(Label(QStringLiteral("医生"), cbxDoctor, "lblDoctor", tstreserve), 1, 2);
    choice->addWidget(cbxDoctor, 1, 3);
    booking->addLayout(choice);

    auto* commands = new QHBoxLayout;
    btnGoWebsite = Button(QStringLiteral("访问Quilora---->"), "btnGoWebsite", tstreserve);
    btnRefreshData = Button(QStringLiteral("1、刷新预约状态"), "btnRefreshData", tstreserve);
    btnOrder = Button(QStringLiteral("2、立刻预约    "), "btnOrder", tstreserve);
    edtReleaseTime = Named(new QLineEdit(tstreserve), "edtReleaseTime");
    edtReleaseTime->setPlaceholderText(QStringLiteral("HH:MM:SS"));
    edtReleaseTime->setToolTip(
        QStringLiteral("放号时间（服务器时间）：填写后，自动预约在放号前一分钟内每 800 "
                       "毫秒查询一次，并在放号后数十毫秒内查询；之前每 30 秒查询一次。"
                       "不填则一直每 800 毫秒查询。"));
    edtReleaseTime->setMaximumWidth(80);
    commands->addWidget(btnGoWebsite);
    commands->addStretch(1);
    commands->addWidget(btnRefreshData);
    commands->addWidget(Label(QStringLiteral("放号时间"), edtReleaseTime, "lblReleaseTime", tstreserve));
    commands->addWidget(edtReleaseTime);
    commands->addWidget(btnOrder);
    btnAddWatch = Button(QStringLiteral("加入自动预约列表"), "btnAddWatch", tstreserve);
    commands->addWidget(btnAddWatch);
    booking->addLayout(commands);

    lvLog = Named(new ScheduleList(tstreserve), "lvLog");
    lvLog->setAccessibleName(QStringLiteral("预约状态"));
    booking->addWidget(lvLog, 1);

    // ---- maintenance page (tab hidden) ----
    tstOrder = Named(new QWidget(pcl), "tstOrder");
    pcl->addTab(tstOrder, QStringLiteral("系统数据"));
    auto* maintenance = new QVBoxLayout(tstOrder);
    maintenance->setContentsMargins(6, 6, 6, 6);
    auto* crawl = new QHBoxLayout;
    btnGetData = Button(QStringLiteral("获取城市"), "btnGetData", tstOrder);
    btnGetHospital = Button(QStringLiteral("获取医院"), "btnGetHospital", tstOrder);
    btnKeshi = Button(QStringLiteral("获取科室"), "btnKeshi", tstOrder);
    btnGetDoctor = Button(QStringLiteral("获取医生"), "btnGetDoctor", tstOrder);
    btnTest = Button(QStringLiteral("btnTest"), "btnTest", tstOrder);
    for (QPushButton* b : {btnGetData, btnGetHospital, btnKeshi, btnGetDoctor, btnTest})
        crawl->addWidget(b);
    crawl->addStretch(1);
    maintenance->addLayout(crawl);
    mmo = Named(new QPlainTextEdit(tstOrder), "mmo");
    mmo->setAccessibleName(QStringLiteral("日志"));
    mmo->setLineWrapMode(QPlainTextEdit::NoWrap);
    mmo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // An auto-booking logs a line or two a poll for hours: keep the newest lines only.
    mmo->setMaximumBlockCount(10000);
    maintenance->addWidget(mmo, 1);
    pcl->setTabVisible(pcl->indexOf(tstOrder), false);

    // ---- help page ----
    tstHelp = Named(new QWidget(pcl), "tstHelp");
    pcl->addTab(tstHelp, QStringLiteral("使用说明"));
    auto* help = new QVBoxLayout(tstHelp);
    help->setContentsMargins(0, 0, 0, 0);
    mmoHelp = Named(new QPlainTextEdit(tstHelp), "mmoHelp");
    mmoHelp->setAccessibleName(QStringLiteral("使用说明"));
    mmoHelp->setReadOnly(true);
    mmoHelp->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmoHelp->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette helpColours = mmoHelp->palette();
    helpColours.setColor(QPalette::Base, helpColours.color(QPalette::ToolTipBase));
    helpColours.setColor(QPalette::Text, helpColours.color(QPalette::ToolTipText));
    mmoHelp->setPalette(helpColours);
    help->addWidget(mmoHelp);

    tmrOrder = Named(new QTimer(this), "tmrOrder");
    tmrOrder->setInterval(800);
    // A tick placed to the millisecond before a release must not drift by 5 %.
    tmrOrder->setTimerType(Qt::PreciseTimer);

    // ---- status bar, on every page: the page control keeps its place and the
    // window grows by the bar's height ----
    lblStatus = Named(new QLabel(this), "lblStatus");
    lblStatus->setAccessibleName(QStringLiteral("自动预约状态"));
    lblStatus->setTextFormat(Qt::PlainText);
    lblStatus->setMinimumWidth(1); // a long status must not widen the window
    // Two lines, so that the counts and the countdown stay in sight at the
    // window's width; the bar keeps that height, so nothing jumps.
    lblStatus->setMinimumHeight(2 * lblStatus->fontMetrics().lineSpacing());
    btnStopAuto = Button(QStringLiteral("停止自动预约"), "btnStopAuto", this);
    btnStopAuto->setVisible(false);
    lblWait = Named(new QLabel(this), "lblWait");
    lblWait->setAccessibleName(QStringLiteral("等待"));
    lblWait->setTextFormat(Qt::PlainText);
    lblWait->setVisible(false);
    btnCancel = Button(QStringLiteral("取消"), "btnCancel", this);
    btnCancel->setVisible(false);
    tmrWait = Named(new QTimer(this), "tmrWait");
    tmrWait->setInterval(250);
    statusBar()->addWidget(lblWait);
    statusBar()->addWidget(lblStatus, 1);
    crawlProgress = Named(new QProgressBar(this), "crawlProgress");
    crawlProgress->setMaximumWidth(240);
    crawlProgress->setVisible(false);
    btnStopCrawl = Button(QStringLiteral("停止"), "btnStopCrawl", this);
    btnStopCrawl->setVisible(false);
    statusBar()->addPermanentWidget(crawlProgress);
    statusBar()->addPermanentWidget(btnStopCrawl);
    statusBar()->addPermanentWidget(btnCancel);
    statusBar()->addPermanentWidget(btnStopAuto);
    statusBar()->setSizeGripEnabled(true);
    resize(kClientSize.width(), kClientSize.height() + statusBar()->sizeHint().height());

    BuildWatchPages();

    // The password comes first.
    QWidget::setTabOrder(edtPasswd, btnLogin);
    QWidget::setTabOrder(btnLogin, cbxUserTypeArea);
    QWidget* bookingOrder[] = {rgpUser,      btnGetUser,     cbxArea,  cbxHospital, cbxClass, cbxDoctor,
                               btnGoWebsite, btnRefreshData, btnOrder, btnAddWatch, lvLog};
    for (std::size_t i = 1; i < std::size(bookingOrder); ++i)
        QWidget::setTabOrder(bookingOrder[i - 1], bookingOrder[i]);
}

} // namespace quilora
