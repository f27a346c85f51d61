// Message boxes, the default error report and the silent abort.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <stdexcept>

#include "app/application.h"
#include "app/dialogs.h"
#include "app_fixture.h"
#include "common/errors.h"

namespace quilora::testing {
namespace {

TEST(Dialogs, ConfirmFlagsFollowCancelAndDefaultButton) {
    const struct {
        bool allowCancel;
        int defaultButton;
        unsigned flags;
    } cases[] = {
        {false, 1, 36},  {false, 0, 36},  {false, 5, 36}, {false, -1, 36}, {false, 2, 292},
        {false, 3, 548}, {false, 4, 804}, {true, 1, 35},  {true, 0, 35},   {true, 2, 291},
        {true, 3, 547},  {true, 4, 803},  {true, 5, 35},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ConfirmFlags(c.allowCancel, c.defaultButton), c.flags)
            << c.allowCancel << " " << c.defaultButton;
    EXPECT_EQ(HintFlags(), 64u);
}

TEST(Dialogs, HintsAndQuestionsCarryTheirCaptionsAndAnswers) {
    Boxes boxes;
    ShowHint("登录失败");
    for (const int answer : {kIdYes, kIdNo, kIdCancel}) {
        boxes.answer = answer;
        EXPECT_EQ(AskConfirm("确定预约吗？", true, 3), answer);
    }
    ASSERT_EQ(boxes.shown.size(), 4u);
    EXPECT_EQ(boxes.shown[0].text, "登录失败");
    EXPECT_EQ(boxes.shown[0].caption, "提示");
    EXPECT_EQ(boxes.shown[0].flags, 64u);
    EXPECT_EQ(boxes.shown[1].caption, "确认");
    EXPECT_EQ(boxes.shown[1].flags, 547u);
}

TEST(Dialogs, AbortWithHintEndsTheHandlerAfterOneHintAndShowsNothingMore) {
    Boxes boxes;
    bool after = false;
    RunGuarded([&] {
        AbortWithHint("请选择医生!");
        after = true;
    });
    EXPECT_FALSE(after);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "请选择医生!");
    EXPECT_EQ(boxes.shown[0].flags, 64u);
}

TEST(ErrorReport, AppendsADotAfterALastByteAboveTheDot) {
    const struct {
        const char* text;
        const char* shown;
    } cases[] = {
        {"", ""},
        {"连接数据库失败！", "连接数据库失败！."},
        {"Unable to write", "Unable to write."},
        {"done.", "done."},
        {"stop!", "stop!"},
        {"(1)", "(1)"},
        {"a-", "a-"},
        {"path/", "path/."},
        {"9", "9."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ErrorReportText(c.text), c.shown) << c.text;
}

class Thrower : public QObject {
public:
    std::function<void()> onEvent;
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) {
            onEvent();
            return true;
        }
        return QObject::event(e);
    }
};

TEST(ErrorReport, EventDispatchReportsErrorsAndSwallowsTheSilentAbort) {
    Boxes boxes;
    Thrower target;
    QEvent event(QEvent::User);

    target.onEvent = [] { throw DatabaseError("no such table: TCity"); };
    QCoreApplication::sendEvent(&target, &event);
    target.onEvent = [] { throw SilentAbort{}; };
    QCoreApplication::sendEvent(&target, &event);
    target.onEvent = [] { throw std::out_of_range("List index out of bounds (-1)"); };
    QCoreApplication::sendEvent(&target, &event);

    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[0].text, "no such table: TCity.");
    EXPECT_EQ(boxes.shown[0].caption, "Quilora自动预约系统");
    EXPECT_EQ(boxes.shown[0].flags, 16u);
    EXPECT_EQ(boxes.shown[1].text, "List index out of bounds (-1)");
}

class Handlers : public QObject {
public:
    int calls = 0;
    void Fail() {
        ++calls;
        throw QuiloraError("连接数据库失败！");
    }
};

TEST(ErrorReport, GuardedHandlersReportAndKeepTheirSignalAlive) {
    Boxes boxes;
    Handlers h;
    QPushButton button;
    QObject::connect(&button, &QPushButton::clicked, &h, Guarded(&h, &Handlers::Fail));
    button.click();
    button.click();
    EXPECT_EQ(h.calls, 2);
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].text, "连接数据库失败！.");
}

// The real responder: answer the open box once it is up.
int AnswerRealBox(const MessageRequest& request, const std::function<void(QMessageBox&)>& inspectAndClose) {
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            poll.stop();
            inspectAndClose(*box);
        }
    });
    poll.start();
    return ShowMessageBox(request);
}

TEST(MessageBox, ShowsTheIconButtonsAndDefaultButtonThatTheFlagsName) {
    const struct {
        unsigned flags;
        QMessageBox::Icon icon;
        QList<QMessageBox::StandardButton> buttons;
        QMessageBox::StandardButton def;
        int answer; // of pressing Enter on the default button
    } cases[] = {
        {64, QMessageBox::Information, {QMessageBox::Ok}, QMessageBox::Ok, kIdOk},
        {16, QMessageBox::Critical, {QMessageBox::Ok}, QMessageBox::Ok, kIdOk},
        {36, QMessageBox::Question, {QMessageBox::Yes, QMessageBox::No}, QMessageBox::Yes, kIdYes},
        {292, QMessageBox::Question, {QMessageBox::Yes, QMessageBox::No}, QMessageBox::No, kIdNo},
        {548, QMessageBox::Question, {QMessageBox::Yes, QMessageBox::No}, QMessageBox::Yes, kIdYes},
        {547,
         QMessageBox::Question,
         {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel},
         QMessageBox::Cancel,
         kIdCancel},
        {291,
         QMessageBox::Question,
         {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel},
         QMessageBox::No,
         kIdNo},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        const int answer = AnswerRealBox({"确定吗？", "确认", c.flags}, [&](QMessageBox& box) {
            EXPECT_EQ(box.windowTitle(), QStringLiteral("确认"));
            EXPECT_EQ(box.text(), QStringLiteral("确定吗？"));
            EXPECT_EQ(box.icon(), c.icon);
            QList<QMessageBox::StandardButton> shown;
            for (QAbstractButton* b : box.buttons())
                shown.push_back(box.standardButton(b));
            std::sort(shown.begin(), shown.end());
            QList<QMessageBox::StandardButton> expected = c.buttons;
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(shown, expected);
            ASSERT_NE(box.defaultButton(), nullptr);
            EXPECT_EQ(box.standardButton(box.defaultButton()), c.def);
            box.defaultButton()->click();
        });
        EXPECT_EQ(answer, c.answer);
    }
}

// Seen: a refusal wrapped in a script tag showed an empty box, read as HTML.
TEST(MessageBox, ShowsItsTextAsPlainText) {
    const std::string refusal = "<script>alert('您已预约过该时段…');</script>";
    for (const unsigned flags : {HintFlags(), kMbIconError | kMbOk, ConfirmFlags(false, 1)}) {
        SCOPED_TRACE(flags);
        AnswerRealBox({refusal, "提示", flags}, [&](QMessageBox& box) {
            const auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
            EXPECT_EQ(label->text().toStdString(), refusal);
            // what a reader sees on screen is the text, not an empty box
            EXPECT_GT(label->sizeHint().width(),
                      QFontMetrics(label->font()).horizontalAdvance(QStringLiteral("<script>")));
            box.buttons().front()->click();
        });
    }
}

TEST(MessageBox, AScreenCentredBoxIsCentredOnTheScreenNotOnTheActiveWindow) {
    QWidget window;
    window.setGeometry(10, 10, 300, 200); // far from the middle
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QPoint screenCentre = QGuiApplication::primaryScreen()->geometry().center();
    for (const bool centre : {true, false}) {
        SCOPED_TRACE(centre);
        MessageRequest request{"1262304086399", "Quilora自动预约系统", kMbOk};
        request.centreOnScreen = centre;
        QApplication::setActiveWindow(&window);
        ASSERT_EQ(QApplication::activeWindow(), &window);
        AnswerRealBox(request, [&](QMessageBox& box) {
            const QPoint boxCentre = box.frameGeometry().center();
            if (centre)
                EXPECT_LE((boxCentre - screenCentre).manhattanLength(), 4)
                    << boxCentre.x() << "," << boxCentre.y();
            else
                EXPECT_GT((boxCentre - screenCentre).manhattanLength(), 40);
            box.buttons().front()->click();
        });
    }
}

TEST(MessageBox, ButtonsSpeakChineseWhereQtHasItsChineseTexts) {
    const QString texts =
        QLibraryInfo::path(QLibraryInfo::TranslationsPath) + QStringLiteral("/qtbase_zh_CN.qm");
    if (!QFile::exists(texts))
        GTEST_SKIP() << "no " << texts.toStdString();
    AnswerRealBox({"确定吗？", "确认", 35}, [](QMessageBox& box) {
        EXPECT_TRUE(box.button(QMessageBox::Yes)->text().contains(QStringLiteral("是")))
            << box.button(QMessageBox::Yes)->text().toStdString();
        EXPECT_TRUE(box.button(QMessageBox::No)->text().contains(QStringLiteral("否")));
        EXPECT_EQ(box.button(QMessageBox::Cancel)->text(), QStringLiteral("取消"));
        box.button(QMessageBox::No)->click();
    });
}

} // namespace
} // namespace quilora::testing
