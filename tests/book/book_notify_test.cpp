// quilora-book's notifications: notify-test, and the mail and webhook that
// follow a booking's outcome, against servers on loopback.
#include <QElapsedTimer>
#include <QThread>
#include <functional>

#include "book_fixture.h"
#include "support/mail_decode.h"
#include "support/smtp_server.h"
#include "support/webhook_server.h"

namespace quilora::test {
namespace {

using nlohmann::json;

const std::string kSmtpPassword = "Sm7p-密码-s3cret";
const std::string kBooked = "预约成功, 请进入网页查看！";

bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class BookNotify : public BookToolTest {
protected:
    // Config.ini with the portal, the card and this [Notify] section.
    void WriteNotify(const std::string& notify, bool withCard = true) const {
        WriteConfig("Passwd=" + account().password + "\n[Notify]\n" + notify, withCard);
    }
    static std::string MailLines(const SmtpServer& smtp) {
        return "SmtpUrl=" + smtp.Url() + "\nSmtpUser=bot\nSmtpPassword=" + kSmtpPassword +
               "\nMailFrom=bot@example.com\nMailTo=me@example.com; her@example.org\n";
    }
    static std::string HookLines(const WebhookServer& hook, const std::string& body = {}) {
        return "WebhookUrl=" + hook.Url("/send?token=T0KEN") + "\n" +
               (body.empty() ? "" : "WebhookBody=" + body + "\n");
    }
    static void ExpectNoSecret(const ToolRun& r) {
        EXPECT_FALSE(Has(r.out + r.err, kSmtpPassword)) << r.out << r.err;
        EXPECT_FALSE(Has(r.out + r.err, "T0KEN")) << r.out << r.err;
    }
};

TEST_F(BookNotify, NotifyTestSendsToEveryChannelAndSaysHowEachWent) {
    SmtpServer smtp;
    SmtpServer refusing(SmtpServer::Mode::RefuseRecipients);
    WebhookServer hook;
    const std::string mailTarget =
        "127.0.0.1:" + std::to_string(smtp.Port()) + " → me@example.com, her@example.org";
    const std::string hookTarget = "127.0.0.1:" + std::to_string(hook.Port());
    const struct {
        const char* what;
        std::string notify;
        int exitCode;
        std::vector<std::string> lines;
    } cases[] = {
        {"both work",
         MailLines(smtp) + HookLines(hook),
         0,
         {"邮件（" + mailTarget + "）：发送成功", "Webhook（" + hookTarget + "）：发送成功"}},
        {"the mail is refused",
         MailLines(refusing) + HookLines(hook),
         1,
         {"邮件（127.0.0.1:" + std::to_string(refusing.Port()) +
              " → me@example.com, her@example.org）：服务器拒绝（550）",
          "Webhook（" + hookTarget + "）：发送成功"}},
        {"only a webhook that is no web address",
         "WebhookUrl=file:///etc/passwd\n",
         1,
         {"Webhook（）：WebhookUrl 应以 http:// 或 https:// 开头"}},
        {"nothing configured", "NotifyOn=booked\n", 2, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // No card and no password needed: nothing goes to the portal.
        WriteConfig("[Notify]\n" + c.notify, false);
        const ToolRun r = Run({"notify-test"});
        EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
        EXPECT_EQ(r.Lines(), c.lines) << r.out << r.err;
        if (c.lines.empty()) {
            EXPECT_TRUE(Has(r.err, "[Notify]")) << r.err;
        }
        ExpectNoSecret(r);
    }
    EXPECT_TRUE(portal->RequestLog().empty());

    // The test mail and post themselves.
    ASSERT_EQ(smtp.Messages().size(), 1u);
    EXPECT_EQ(DecodeWords(Header(smtp.Messages()[0].data, "Subject")), "Quilora自动预约：测试通知");
    ASSERT_EQ(hook.Posts().size(), 2u);
    EXPECT_EQ(json::parse(hook.Posts()[0].body)["event"], "test");
    EXPECT_EQ(hook.Posts()[0].path, "/send");

    // --json: one notify event per channel.
    WriteConfig("[Notify]\n" + MailLines(refusing), false);
    const ToolRun j = Run({"--json", "notify-test"});
    EXPECT_EQ(j.exitCode, 1);
    const auto events = j.EventsNamed("notify");
    ASSERT_EQ(events.size(), 1u) << j.out;
    EXPECT_EQ(events[0]["channel"], "邮件");
    EXPECT_EQ(events[0]["ok"], false);
    EXPECT_EQ(events[0]["message"], "服务器拒绝（550）");
    ExpectNoSecret(j);
}

TEST_F(BookNotify, AWatchThatBooksSendsOneMailAndOnePost) {
    SmtpServer smtp;
    WebhookServer hook;
    // A custom body, in the shape of a chat bot's.
    WriteNotify(
        MailLines(smtp) +
        HookLines(hook, R"({"msgtype":"text","text":{"content":"{title}\n{text}"},"kind":"{event}"})"));
    const auto later = portal->FindSlot(portal::state::kNotReleased);
    ASSERT_TRUE(later);
    portal->ReleaseAfterPolls(later->slot.sn, 2);
    const ToolRun r = Run({"-v", "watch", "--doctor", Arg(later->doctor.id), "--slot", Arg(later->slot.sn)});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    ASSERT_EQ(portal->Bookings().size(), 1u);

    const std::string patient = account().patients[0].name;
    ASSERT_EQ(smtp.Messages().size(), 1u);
    const std::string mail = smtp.Messages()[0].data;
    EXPECT_EQ(DecodeWords(Header(mail, "Subject")), "Quilora自动预约：预约成功 " + patient);
    const std::string body = MailBody(mail);
    EXPECT_TRUE(body.starts_with(kBooked + "\r\n就诊人：" + patient + "\r\n时段：" + later->slot.date))
        << body;
    EXPECT_TRUE(Has(body, "\r\n时间：")) << body;

    ASSERT_EQ(hook.Posts().size(), 1u);
    const json posted = json::parse(hook.Posts()[0].body, nullptr, false);
    ASSERT_TRUE(posted.is_object()) << hook.Posts()[0].body;
    EXPECT_EQ(posted["msgtype"], "text");
    EXPECT_EQ(posted["kind"], "booked");
    std::string text = body; // the same text, with the mail's CRLF line ends as LF
    for (auto at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
        text.replace(at, 2, "\n");
    EXPECT_EQ(posted["text"]["content"], "Quilora自动预约：预约成功 " + patient + "\n" + text);
    // -v shows what was sent; nothing shows the password or the hook's token.
    EXPECT_TRUE(Has(r.err, "通知已发送：邮件（127.0.0.1:")) << r.err;
    ExpectNoSecret(r);
}

TEST_F(BookNotify, ABrokenChannelCostsTheBookingNothingButALine) {
    SmtpServer refusing(SmtpServer::Mode::RefuseRecipients);
    SmtpServer hung(SmtpServer::Mode::Hang);
    WebhookServer hook;
    const auto open = portal->FindSlot(portal::state::kOpen);
    ASSERT_TRUE(open);

    // Refused: the booking stands, stderr has the one line.
    WriteNotify(MailLines(refusing) + HookLines(hook));
    const ToolRun refused = Run({"book", "--doctor", Arg(open->doctor.id), "--slot", Arg(open->slot.sn)});
    EXPECT_EQ(refused.exitCode, 0) << refused.out << refused.err;
    EXPECT_TRUE(Has(refused.out, kBooked)) << refused.out;
    EXPECT_TRUE(Has(refused.err, "通知发送失败：邮件（127.0.0.1:" + std::to_string(refusing.Port()) +
                                     " → me@example.com, her@example.org）：服务器拒绝（550）"))
        << refused.err;
    EXPECT_EQ(hook.Posts().size(), 1u);
    ExpectNoSecret(refused);

    // Hung: the outcome is out while the mail server still says nothing. (Another
    // patient: the portal books one patient once per slot.)
    WriteNotify(MailLines(hung) + HookLines(hook));
    QProcess p;
    Start(p, {"--json", "book", "--doctor", Arg(open->doctor.id), "--slot", Arg(open->slot.sn), "--patient",
              Arg(portal->DemoAccount().patients[1].clinicNumber)});
    std::string seen;
    QElapsedTimer timer;
    timer.start();
    while (!Has(seen, "\"event\":\"booked\"") && timer.elapsed() < 20000) {
        p.waitForReadyRead(100);
        seen += p.readAllStandardOutput().toStdString();
    }
    EXPECT_TRUE(Has(seen, "\"event\":\"booked\"")) << seen;
    EXPECT_EQ(portal->Bookings().size(), 2u);
    while (hung.Connections() == 0 && timer.elapsed() < 20000)
        QThread::msleep(10); // the notice goes out just after the outcome
    EXPECT_EQ(hung.Connections(), 1);
    EXPECT_EQ(p.state(), QProcess::Running); // still sending its notification
    hung.Release();                          // the retry is served
    ToolRun r = Finish(p);
    r.out = seen + r.out;
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    const auto notified = r.EventsNamed("notify");
    ASSERT_EQ(notified.size(), 2u) << r.out;
    EXPECT_EQ(notified[0]["channel"], "邮件");
    EXPECT_EQ(notified[0]["ok"], true); // on the second attempt
    EXPECT_EQ(hung.Messages().size(), 1u);
    ExpectNoSecret(r);
}

} // namespace
} // namespace quilora::test
