// The window on the offscreen platform: start-up, its failures, the sign-in
// page's behaviour, the address log and what assistive technology sees.
#include <QAbstractButton>
#include <QComboBox>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOption>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <QUrl>

#include "app/application.h"
#include "app/radio_group.h"
#include "app/schedule_list.h"
#include "app_fixture.h"
#include "net/fetcher.h"

namespace quilora::testing {
namespace {

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.push_back(url); }
};

class WindowTest : public WindowFixture {};

TEST_F(WindowTest, StartsOnTheSignInPageWithListsFilledAndTheMaintenanceTabHidden) {
    CreateCatalogue();
    WriteConfig(std::string(kSqlite) + "CardNo=88001234\nUserTypeArea=0x1F\nPasswd=se cret\n");
    auto w = Start();

    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text;
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Brenvik Quilora自动预约系统 - VER 2.2"));
    // The auto-booking list and the record come after the others: the page numbers stay.
    EXPECT_EQ(w->pcl->count(), 6);
    EXPECT_EQ(w->pcl->widget(4), w->tstWatch);
    EXPECT_EQ(w->pcl->widget(5), w->tstRecord);
    EXPECT_EQ(w->pcl->currentWidget(), w->tstLogin);
    EXPECT_FALSE(w->pcl->isTabVisible(2));
    EXPECT_EQ(w->pcl->widget(2), w->tstOrder);
    ASSERT_NE(w->worker, nullptr);
    ASSERT_NE(w->crawler, nullptr);
    EXPECT_FALSE(w->order.OrderBusy());
    EXPECT_FALSE(w->tmrOrder->isActive());
    EXPECT_EQ(w->tmrOrder->interval(), 800);

    EXPECT_EQ(w->lblUserName->text(), QStringLiteral("88001234"));
    EXPECT_EQ(w->edtUserID->text(), QStringLiteral("88001234"));
    EXPECT_EQ(w->cbxUserTypeArea->count(), 3);
    EXPECT_EQ(w->cbxUserTypeArea->currentText(), QStringLiteral("外地用户"));
    EXPECT_EQ(w->cbxUserTypeCard->count(), 3);
    EXPECT_EQ(w->cbxUserTypeCard->currentIndex(), 0);
    EXPECT_EQ(w->edtPasswd->text(), QStringLiteral("se cret"));

    const Qt::WindowFlags flags = w->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);

    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    EXPECT_EQ(w->focusWidget(), w->edtPasswd);
    EXPECT_EQ(w->edtPasswd->selectedText(), QStringLiteral("se cret"));
}

TEST_F(WindowTest, UnreachableDatabaseGivesOneBoxAndAWindowWithEmptyLists) {
    const std::string unreachable[] = {
        "Connect=Provider=SQLite;Data Source=no-such-folder/cat.db\n",
        "Connect=DSN=QuiloraNoSuchDataSource;UID=sa\n",
    };
    for (const std::string& connect : unreachable) {
        SCOPED_TRACE(connect);
        boxes.shown.clear();
        WriteConfig(connect + "CardNo=42\nPasswd=secret\n");
        auto w = Start();

        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text, "连接数据库失败！.");
        EXPECT_EQ(boxes.shown[0].caption, "Quilora自动预约系统");
        EXPECT_EQ(boxes.shown[0].flags, kMbIconError | kMbOk);
        EXPECT_EQ(w->windowTitle(), QStringLiteral("Brenvik Quilora自动预约系统 - VER 2.2"));
        EXPECT_EQ(w->pcl->currentIndex(), 0);
        EXPECT_EQ(w->edtUserID->text(), QStringLiteral("42"));
        EXPECT_NE(w->worker, nullptr);
        EXPECT_EQ(w->cbxUserTypeArea->count(), 0);
        EXPECT_EQ(w->cbxUserTypeCard->count(), 0);
        EXPECT_EQ(w->cbxArea->count(), 0);
        EXPECT_TRUE(w->edtPasswd->text().isEmpty()); // nothing restored
    }
}

TEST_F(WindowTest, ALaterUseOpensTheConnectionThatFailedAtStartUp) {
    WriteConfig("Connect=Provider=SQLite;Data Source=later/cat.db\n");
    auto w = Start();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "连接数据库失败！.");

    // Still unreachable: the driver's own text this time.
    RunGuarded([&] { db::OpenQuery(w->qryTmp, "Select * From TUserTypeArea"); });
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].caption, "Quilora自动预约系统");
    EXPECT_EQ(boxes.shown[1].text.find("连接数据库失败"), std::string::npos) << boxes.shown[1].text;
    EXPECT_FALSE(boxes.shown[1].text.empty());

    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("later")));
    RunGuarded([&] { db::OpenQuery(w->qryTmp, "Select * From TUserTypeArea"); });
    EXPECT_EQ(boxes.shown.size(), 2u);
    EXPECT_TRUE(w->ADOC.IsOpen());
    EXPECT_EQ(w->qryTmp.RecordCount(), 2u); // a new file, with its seed rows
}

TEST_F(WindowTest, AFailingQueryEndsStartUpAtItsStepAndKeepsWhatWasFilled) {
    const std::string province =
        "Insert Into TCity (CityID, FatherID, CityName, LevelIndex) Values (1, 0, '北京', 0)";
    const std::string city =
        "Insert Into TCity (CityID, FatherID, CityName, LevelIndex) Values (11, 1, '东城', 1)";
    const struct {
        const char* what;
        std::vector<std::string> sql;
        const char* config;
        const char* inBox;
        int userTypes, userTypeSelected, cardTypes, areas;
        const char* passwd; // "" when the restore never ran
    } cases[] = {
        {"step 9, no table", {"Drop Table TUserTypeArea"}, "", "TUserTypeArea", 0, -1, 0, 0, ""},
        {"step 9, a tag that is no integer",
         {"Insert Into TUserTypeArea (UserTypeID, UserTypeName) Values ('abc', '坏')"},
         "",
         "'abc'",
         3,
         -1, // the fill ended before it selected anything
         0,
         0,
         ""},
        {"step 10", {"Drop Table TUserTypeCard"}, "", "TUserTypeCard", 3, 0, 0, 0, ""},
        {"step 11", {"Drop Table TCity"}, "", "TCity", 3, 0, 3, 0, ""},
        {"step 12, the cascade",
         {province, city, "Drop Table THospital"},
         "AreaID=11\nUserTypeArea=31\n",
         "THospital",
         3,
         1,
         3,
         2,
         "secret"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(dir.path()).remove(QStringLiteral("cat.db"));
        boxes.shown.clear();
        CreateCatalogue(c.sql);
        WriteConfig(std::string(kSqlite) + "Passwd=secret\n" + c.config);
        auto w = Start();

        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_NE(boxes.shown[0].text.find(c.inBox), std::string::npos) << boxes.shown[0].text;
        EXPECT_EQ(boxes.shown[0].caption, "Quilora自动预约系统");
        EXPECT_EQ(boxes.shown[0].flags, kMbIconError | kMbOk);
        EXPECT_EQ(w->cbxUserTypeArea->count(), c.userTypes);
        EXPECT_EQ(w->cbxUserTypeArea->currentIndex(), c.userTypeSelected);
        EXPECT_EQ(w->cbxUserTypeCard->count(), c.cardTypes);
        EXPECT_EQ(w->cbxArea->count(), c.areas);
        EXPECT_EQ(w->edtPasswd->text(), QString::fromUtf8(c.passwd));
        EXPECT_EQ(w->cbxHospital->count(), 0);
        EXPECT_EQ(w->pcl->currentIndex(), 0);
    }
}

TEST_F(WindowTest, EnterInThePasswordDoesWhatClickingTheLoginButtonDoes) {
    CreateCatalogue();
    // The sign-ins that the clicks run go to a closed port on this machine.
    WriteConfig(std::string(kSqlite) + "PortalUrl=http://127.0.0.1:9\n");
    auto w = Start();
    QSignalSpy clicked(w->btnLogin, &QPushButton::clicked);
    QSignalSpy returned(w->edtPasswd, &QLineEdit::returnPressed);

    // Each sign-in is refused at once; the button is back before the next key.
    const auto signInOver = [&] { return QTest::qWaitFor([&] { return !w->Waiting(); }, 10000); };
    QTest::keyClick(w->edtPasswd, Qt::Key_Return);
    ASSERT_TRUE(signInOver());
    QTest::keyClick(w->edtPasswd, Qt::Key_Enter, Qt::KeypadModifier);
    ASSERT_TRUE(signInOver());
    EXPECT_EQ(clicked.count(), 2);
    EXPECT_EQ(returned.count(), 2); // the key still reaches the edit

    QTest::keyClicks(w->edtPasswd, "ab");
    EXPECT_EQ(clicked.count(), 2);
    EXPECT_EQ(w->edtPasswd->text(), QStringLiteral("ab"));

    QTest::mouseClick(w->btnLogin, Qt::LeftButton);
    EXPECT_EQ(clicked.count(), 3);
}

TEST_F(WindowTest, ReturningToTheSignInPageSelectsAndFocusesThePassword) {
    CreateCatalogue();
    WriteConfig(std::string(kSqlite) + "Passwd=abc\n");
    auto w = Start();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));

    w->edtPasswd->deselect();
    w->ActivatePage(1);
    w->cbxArea->setFocus();
    EXPECT_FALSE(w->edtPasswd->hasSelectedText());

    w->ActivatePage(0);
    EXPECT_EQ(w->focusWidget(), w->edtPasswd);
    EXPECT_EQ(w->edtPasswd->selectedText(), QStringLiteral("abc"));

    // and by the tab itself
    w->ActivatePage(3);
    const QTabBar* tabs = w->pcl->tabBar();
    QTest::mouseClick(const_cast<QTabBar*>(tabs), Qt::LeftButton, {}, tabs->tabRect(0).center());
    EXPECT_EQ(w->pcl->currentIndex(), 0);
    EXPECT_EQ(w->focusWidget(), w->edtPasswd);
    EXPECT_EQ(w->edtPasswd->selectedText(), QStringLiteral("abc"));
}

TEST_F(WindowTest, EachLoggedAddressBecomesOneNewLastLineOfTheLog) {
    CreateCatalogue();
    WriteConfig(kSqlite);
    auto w = Start();
    w->LogUrl("http://127.0.0.1/first");
    w->LogUrl("http://127.0.0.1/Doctor.aspx?id=1&doctid=2&d=3");

    const QTextDocument* log = w->mmo->document();
    ASSERT_EQ(log->blockCount(), 2);
    EXPECT_EQ(log->firstBlock().text(), QStringLiteral("http://127.0.0.1/first"));
    EXPECT_EQ(log->lastBlock().text(), QStringLiteral("http://127.0.0.1/Doctor.aspx?id=1&doctid=2&d=3"));
}

TEST_F(WindowTest, MaintainerShortcutRevealsAndHidesTheMaintenancePage) {
    CreateCatalogue();
    WriteConfig(kSqlite);
    auto w = Start();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));

    QTest::keyClick(w.get(), Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(w->pcl->isTabVisible(2));
    EXPECT_EQ(w->pcl->currentWidget(), w->tstOrder);
    QTest::keyClick(w.get(), Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(w->pcl->isTabVisible(2));
    EXPECT_NE(w->pcl->currentWidget(), w->tstOrder);
}

TEST_F(WindowTest, WebsiteButtonOpensThePortalHomeAndHelpQuotesIt) {
    CreateCatalogue();
    WriteConfig(std::string(kSqlite) + "PortalUrl=http://127.0.0.1:18080/\n");
    auto w = Start();
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
    QTest::mouseClick(w->btnGoWebsite, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));

    ASSERT_EQ(catcher.opened.size(), 1);
    EXPECT_EQ(catcher.opened[0], QUrl(QStringLiteral("http://127.0.0.1:18080/")));
    EXPECT_EQ(w->portal.scriptUrl, "http://www.quilora.com:8010");

    const char* const lines[] = {
        "使用说明",
        "本软件是Quilora(http://127.0.0.1:18080/)自动预约助手。",
        "排队取号是不是很辛苦？",
        "网上预约操作麻烦？？",
        "热门医生的号老是抢不到？？？",
        "本助手帮你解决所有问题！",
        "",
        "本助手使用非常简单，按照如下几步即可:",
        "1、先进入Quilora,完善个人资料;",
        "   强烈建议手动正常预约一个号，可以输入必要的资料(测试成功后可取消)",
        "2、登入系统。首次使用时请点击“刷新就诊人”按钮，显示卡内所有就诊人",
        "3、选择就诊人、地区、医院、科室及医生，点击“刷新预约状态”",
        "   可得出当前医生所有的排班。",
        "4、选择想要就诊的医生班次，点“立刻预约”按钮进行预约即可。",
        "   A: 如果当前医生班次可以预约（可预约状态且有余号），则直接帮你预约",
        "   B: "
        "若未到预约时间，则弹出提示询问是否自动抢号预约，确认之后，等到到可预约时间即可第一时间帮你抢号。",
        "",
        "祝你健康！",
        "",
        "Brenvik",
    };
    const QStringList help = w->mmoHelp->toPlainText().split(QLatin1Char('\n'));
    ASSERT_EQ(help.size(), static_cast<qsizetype>(std::size(lines)));
    for (std::size_t i = 0; i < std::size(lines); ++i)
        EXPECT_EQ(help[static_cast<qsizetype>(i)].toStdString(), lines[i]) << "line " << i + 1;
    EXPECT_TRUE(w->mmoHelp->isReadOnly());
}

TEST_F(WindowTest, ControlsCarryTheirNamesForAssistiveTechnology) {
    CreateCatalogue();
    WriteConfig(kSqlite);
    auto w = Start();
    const struct {
        const char* object;
        const char* accessible;
    } named[] = {
        {"cbxUserTypeArea", "用户类型"},
        {"edtPasswd", "用户密码"},
        {"cbxArea", "地区"},
        {"cbxHospital", "医院"},
        {"cbxClass", "科室"},
        {"cbxDoctor", "医生"},
        {"rgpUser", "请选择就诊人"},
        {"btnLogin", "登入"},
        {"btnGetUser", "刷新就诊人"},
        {"btnGoWebsite", "访问Quilora---->"},
        {"btnRefreshData", "1、刷新预约状态"},
        {"btnOrder", "2、立刻预约    "},
        {"btnGetData", "获取城市"},
        {"btnGetHospital", "获取医院"},
        {"btnKeshi", "获取科室"},
        {"btnGetDoctor", "获取医生"},
        {"btnTest", "btnTest"},
    };
    for (const auto& n : named) {
        SCOPED_TRACE(n.object);
        const auto* widget = w->findChild<QWidget*>(QString::fromLatin1(n.object));
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->accessibleName(), QString::fromUtf8(n.accessible));
    }
    EXPECT_EQ(w->btnOrder->text(), QStringLiteral("2、立刻预约    "));
    for (const char* name :
         {"pcl", "tstLogin", "tstreserve", "tstOrder", "tstHelp", "gbxLogin", "lblUserName", "edtUserID",
          "cbxUserTypeCard", "lvLog", "mmo", "mmoHelp", "tmrOrder"})
        EXPECT_NE(w->findChild<QObject*>(QString::fromLatin1(name)), nullptr) << name;
    EXPECT_EQ(w->edtPasswd->echoMode(), QLineEdit::Password);
    QStyleOptionFrame frame;
    frame.initFrom(w->edtPasswd);
    EXPECT_EQ(w->edtPasswd->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, &frame, w->edtPasswd),
              '*');
    EXPECT_EQ(w->cbxArea->maxVisibleItems(), 16);
    EXPECT_FALSE(w->cbxArea->isEditable());
    EXPECT_TRUE(w->edtUserID->isReadOnly());
    EXPECT_FALSE(w->edtUserID->isEnabled());
    EXPECT_EQ(w->edtPasswd->nextInFocusChain(), w->btnLogin);
}

TEST_F(WindowTest, EveryPageRendersItsChineseTextsAtTheDesignedSize) {
    CreateCatalogue();
    WriteConfig(std::string(kSqlite) + "CardNo=88001234\nPasswd=abc\n");
    auto w = Start();
    w->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w.get()));

    // The client area keeps its design size; the status bar adds its height below it.
    EXPECT_EQ(w->centralWidget()->size(), QSize(688, 434));
    EXPECT_EQ(w->size(), QSize(688, 434 + w->statusBar()->height()));
    EXPECT_GT(w->statusBar()->height(), 0);
    EXPECT_EQ(w->pcl->geometry(), QRect(8, 9, 673, 416));
    EXPECT_EQ(w->pcl->tabBar()->height(), 18);
    EXPECT_EQ(w->font().pixelSize(), 12);
    EXPECT_EQ(w->font().families().value(0), QStringLiteral("宋体"));

    // What the workflow puts on the booking page renders as well.
    w->rgpUser->AddItem("张三", 1);
    w->rgpUser->AddItem("李四", 2);
    w->rgpUser->SetItemIndex(0);
    w->lvLog->AddRow(std::make_shared<ScheduleSlot>(), {"2024-03-05", "上午", "专家诊", "星期二", "未放号"});
    w->lvLog->AddRow(std::make_shared<ScheduleSlot>(), {"2024-03-06", "下午", "平诊", "星期三", "正常"});
    w->lvLog->SelectRow(1);

    // Every character of every caption is in the font that draws it (no boxes).
    QStringList texts;
    for (int i = 0; i < w->pcl->count(); ++i)
        texts << w->pcl->tabText(i);
    for (const auto* l : w->findChildren<QLabel*>())
        texts << l->text();
    for (const auto* b : w->findChildren<QAbstractButton*>())
        texts << b->text();
    for (const auto* g : w->findChildren<QGroupBox*>())
        texts << g->title();
    for (int c = 0; c < w->lvLog->columnCount(); ++c) {
        texts << w->lvLog->headerItem()->text(c);
        for (int r = 0; r < w->lvLog->RowCount(); ++r)
            texts << QString::fromStdString(w->lvLog->CellText(r, c));
    }
    texts << w->mmoHelp->toPlainText();
    const QFontMetrics metrics(w->font());
    for (const QString& text : texts)
        for (const char32_t ch : text.toUcs4())
            EXPECT_TRUE(ch < 0x80 || metrics.inFontUcs4(ch)) << text.toStdString();

    const QString out = qEnvironmentVariable("QUILORA_RENDER_DIR");
    w->pcl->setTabVisible(2, true); // as a maintainer sees it
    for (int i = 0; i < w->pcl->count(); ++i) {
        w->ActivatePage(i);
        const QPixmap shot = w->grab();
        EXPECT_EQ(shot.size(), w->size());
        if (!out.isEmpty())
            shot.save(QDir(out).filePath(QStringLiteral("page%1.png").arg(i)));
    }
}

} // namespace
} // namespace quilora::testing

#include "window_test.moc"
