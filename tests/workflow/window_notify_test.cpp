// The window's notifications: an auto-booking's outcome by mail and webhook,
// a broken channel as a line and never a box, and the "通知设置" dialog.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/dialogs.h"
#include "app/notify_dialog.h"
#include "app/schedule_list.h"
#include "app/tmain.h"
#include "app/window_notify.h"
#include "common/profile.h"
#include "common/settings.h"
#include "portal/demo_portal.h"
#include "support/crawled_catalogue.h"
#include "support/mail_decode.h"
#include "support/smtp_server.h"
#include "support/webhook_server.h"

namespace quilora {
namespace {

using test::SmtpServer;
using test::WebhookServer;

const std::string kPassword = "Sm7p-密码-s3cret";
const std::string kBooked = "预约成功, 请进入网页查看！";

portal::PortalOptions Options() {
    portal::PortalOptions o;
    o.port = o.scriptPort = 0;
    o.releaseAfterPolls = 0;
    return o;
}

const QString& Catalogue() {
    static QTemporaryDir dir;
    static const QString path = [] {
        portal::DemoPortal source(Options());
        source.Start();
        test::CrawlIntoSqlite(source, dir.path().toStdString(), "template.db");
        return dir.filePath(QStringLiteral("template.db"));
    }();
    return path;
}

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class WindowNotifyTest : public ::testing::Test {
protected:
    void Open(const std::string& notify) {
        demo = std::make_unique<portal::DemoPortal>(Options());
        demo->Start();
        ASSERT_TRUE(QFile::copy(Catalogue(), dir.filePath(QStringLiteral("cat.db"))));
        std::ofstream(dir.filePath(QStringLiteral("Config.ini")).toStdString())
            << "[Data]\nConnect=Provider=SQLite;Data Source=cat.db\nCardNo=" << demo->DemoAccount().cardNumber
            << "\nPortalUrl=" << demo->BaseUrl() << "\nScriptUrl=" << demo->ScriptUrl() << "\n[Notify]\n"
            << notify;
        window = std::make_unique<TMain>(dir.path());
        window->tmrOrder->setInterval(3600 * 1000); // no tick but the test's own
        window->notify->SetLimits({std::chrono::milliseconds(500), 2});
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void TearDown() override {
        window.reset();
        demo.reset();
    }

    // Signs in, lists a not-yet-released slot, arms it, releases it and ticks once.
    void BookByAutoBooking() {
        QTest::keyClicks(window->edtPasswd, QString::fromStdString(demo->DemoAccount().password));
        QTest::mouseClick(window->btnLogin, Qt::LeftButton);
        const auto found = demo->FindSlot(portal::state::kNotReleased);
        ASSERT_TRUE(found);
        const portal::Hospital* hospital = demo->GetCatalogue().FindHospital(found->doctor.hospitalId);
        ASSERT_NE(hospital, nullptr);
        const auto choose = [](QComboBox* box, int tag) {
            const int index = box->findData(tag);
            ASSERT_GE(index, 0);
            box->setCurrentIndex(index);
            emit box->activated(index);
        };
        choose(window->cbxArea, hospital->cityId);
        choose(window->cbxHospital, found->doctor.hospitalId);
        choose(window->cbxClass, found->doctor.departmentId);
        choose(window->cbxDoctor, found->doctor.id);
        QTest::mouseClick(window->btnRefreshData, Qt::LeftButton);
        for (int row = 0; row < window->lvLog->RowCount(); ++row)
            if (window->lvLog->SlotAt(row)->sn == found->slot.sn)
                window->lvLog->SelectRow(row);
        QTest::mouseClick(window->btnOrder, Qt::LeftButton);
        ASSERT_TRUE(window->tmrOrder->isActive()) << ::testing::PrintToString(boxes);
        demo->ReleaseAt(found->slot.sn, demo->Now());
        window->tmrOrderTimer();
        ASSERT_EQ(demo->Bookings().size(), 1u);
    }

    std::string Log() const { return window->mmo->toPlainText().toStdString(); }

    static std::string MailLines(const SmtpServer& smtp) {
        return "SmtpUrl=" + smtp.Url() + "\nSmtpUser=bot\nSmtpPassword=" + kPassword +
               "\nMailFrom=bot@example.com\nMailTo=me@example.com\n";
    }

    QTemporaryDir dir;
    std::vector<std::string> boxes;
    std::function<void()> onBox; // sees each box while it is open
    ScopedResponder responder{[this](const MessageRequest& r) {
        boxes.push_back(r.text);
        if (onBox)
            onBox();
        return (r.flags & kMbButtonMask) == kMbOk ? kIdOk : kIdYes;
    }};
    std::unique_ptr<portal::DemoPortal> demo;
    std::unique_ptr<TMain> window;
};

TEST_F(WindowNotifyTest, AnAutoBookingsOutcomeGoesOutByMailAndWebhook) {
    SmtpServer smtp;
    WebhookServer hook;
    Open(MailLines(smtp) + "WebhookUrl=" + hook.Url() + "\n");
    BookByAutoBooking();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Has(Log(), "通知已发送：Webhook"); }, 15000)) << Log();
    ASSERT_EQ(smtp.Messages().size(), 1u);
    const std::string subject = test::DecodeWords(test::Header(smtp.Messages()[0].data, "Subject"));
    EXPECT_TRUE(subject.starts_with("Quilora自动预约：预约成功")) << subject;
    EXPECT_TRUE(test::MailBody(smtp.Messages()[0].data).starts_with(kBooked + "\r\n就诊人："));
    ASSERT_EQ(hook.Posts().size(), 1u);
    const auto posted = nlohmann::json::parse(hook.Posts()[0].body, nullptr, false);
    EXPECT_EQ(posted.value("event", ""), "booked") << hook.Posts()[0].body;
    EXPECT_TRUE(
        Has(Log(), "通知已发送：邮件（127.0.0.1:" + std::to_string(smtp.Port()) + " → me@example.com）"));
    EXPECT_FALSE(Has(Log(), kPassword));
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), kBooked), 1);
}

TEST_F(WindowNotifyTest, ABrokenChannelIsALineInTheLogAndTheStatusNeverABox) {
    SmtpServer refusing(SmtpServer::Mode::RefuseRecipients);
    SmtpServer hung(SmtpServer::Mode::Hang);
    for (const SmtpServer* smtp : {&refusing, &hung}) {
        SCOPED_TRACE(smtp == &hung ? "hung" : "refusing");
        boxes.clear();
        Open(MailLines(*smtp));
        int attemptsAtTheBox = -1;
        onBox = [&] { attemptsAtTheBox = smtp->Connections(); };
        BookByAutoBooking();
        EXPECT_EQ(boxes.back(), kBooked);
        // The outcome's box came with the mail still on its way: no wait for its retry.
        EXPECT_LT(attemptsAtTheBox, 2);
        const std::string failed =
            "通知发送失败：邮件（127.0.0.1:" + std::to_string(smtp->Port()) + " → me@example.com）：";
        ASSERT_TRUE(QTest::qWaitFor([&] { return Has(Log(), failed); }, 15000)) << Log();
        EXPECT_TRUE(window->lblStatus->text().toStdString().starts_with(failed))
            << window->lblStatus->text().toStdString();
        EXPECT_EQ(boxes.back(), kBooked); // no box for the failure
        EXPECT_FALSE(Has(Log(), kPassword));
        EXPECT_FALSE(Has(window->lblStatus->text().toStdString(), kPassword));
        onBox = nullptr;
        TearDown();
        dir.remove();
        ASSERT_TRUE(QDir().mkpath(dir.path()));
    }
}

TEST_F(WindowNotifyTest, TheDialogSavesTheSectionAndTestsEveryChannelOffTheWindowsThread) {
    WebhookServer hook;
    SmtpServer hung(SmtpServer::Mode::Hang);
    Open("");
    for (QPushButton* button : {window->btnNotify, window->btnNotifyOrder}) {
        QTest::mouseClick(button, Qt::LeftButton);
        ASSERT_NE(window->findChild<NotifyDialog*>(), nullptr);
    }
    auto* dialog = window->findChild<NotifyDialog*>();
    EXPECT_EQ(window->findChildren<NotifyDialog*>().size(), 1); // the second button found it open
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("通知设置"));
    EXPECT_EQ(dialog->edtSmtpPassword->echoMode(), QLineEdit::Password);
    // The defaults: every event but stopped.
    for (std::size_t i = 0; i < std::size(kNotifyEvents); ++i)
        EXPECT_EQ(dialog->chkEvents[i]->isChecked(), kNotifyEvents[i] != "stopped") << kNotifyEvents[i];

    QTest::keyClicks(dialog->edtSmtpUrl, QString::fromStdString(hung.Url()));
    dialog->edtSmtpPassword->insert(QString::fromStdString(kPassword)); // keyClicks types ASCII only
    QTest::keyClicks(dialog->edtSmtpUser, QStringLiteral("bot"));
    QTest::keyClicks(dialog->edtMailFrom, QStringLiteral("bot@example.com"));
    QTest::keyClicks(dialog->edtMailTo, QStringLiteral("me@example.com; her@example.org"));
    QTest::keyClicks(dialog->edtWebhookUrl, QString::fromStdString(hook.Url()));
    dialog->chkEvents[3]->setChecked(true); // stopped
    QTest::mouseClick(dialog->btnSave, Qt::LeftButton);
    const NotifySettings saved = ReadNotifySettings(ProfileFile(window->SettingsPath().toStdString()));
    EXPECT_EQ(saved.smtpPassword, kPassword);
    EXPECT_EQ(saved.mailTo, (std::vector<std::string>{"me@example.com", "her@example.org"}));
    EXPECT_EQ(saved.webhookUrl, hook.Url());
    EXPECT_EQ(saved.notifyOn.size(), std::size(kNotifyEvents));

    dialog->SetLimits({std::chrono::milliseconds(500), 2});
    QTest::mouseClick(dialog->btnSendTest, Qt::LeftButton);
    // Back from the click while the mail server still says nothing.
    EXPECT_FALSE(dialog->btnSendTest->isEnabled());
    EXPECT_EQ(dialog->mmoResult->toPlainText(), QStringLiteral("正在发送测试通知…"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->btnSendTest->isEnabled(); }, 15000));
    const std::string result = dialog->mmoResult->toPlainText().toStdString();
    EXPECT_EQ(result, "邮件（127.0.0.1:" + std::to_string(hung.Port()) +
                          " → me@example.com, her@example.org）：等待 1 秒仍无应答\nWebhook（127.0.0.1:" +
                          std::to_string(hook.Port()) + "）：发送成功");
    EXPECT_TRUE(boxes.empty()) << boxes.front();
    EXPECT_FALSE(Has(Log(), kPassword));

    // Closing while a test still waits does not hang the window.
    QTest::mouseClick(dialog->btnSendTest, Qt::LeftButton);
    dialog->close();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->findChild<NotifyDialog*>() == nullptr; }, 5000));
}

} // namespace
} // namespace quilora
