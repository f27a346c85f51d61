// The [Notify] section of Config.ini: read, written, and refused whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include "support/owner_only.h"

#include <QTemporaryDir>

#include "common/errors.h"
#include "common/settings.h"

namespace quilora {
namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

NotifySettings Filled() {
    NotifySettings n;
    n.smtpUrl = "smtps://smtp.example.com:465";
    n.smtpUser = "bot@example.com";
    n.smtpPassword = "p=a;s#s 密码";
    n.mailFrom = "bot@example.com";
    n.mailTo = {"me@example.com", "her@example.org"};
    n.webhookUrl = "https://push.example.com/send?key=abc&x=1";
    n.webhookBody = R"({"msgtype":"text","text":{"content":"{title}\n{text}"},"tag":"{event}"})";
    n.notifyOn = {"booked", "stopped", "error"};
    return n;
}

void ExpectSame(const NotifySettings& a, const NotifySettings& b) {
    EXPECT_EQ(a.smtpUrl, b.smtpUrl);
    EXPECT_EQ(a.smtpUser, b.smtpUser);
    EXPECT_EQ(a.smtpPassword, b.smtpPassword);
    EXPECT_EQ(a.mailFrom, b.mailFrom);
    EXPECT_EQ(a.mailTo, b.mailTo);
    EXPECT_EQ(a.webhookUrl, b.webhookUrl);
    EXPECT_EQ(a.webhookBody, b.webhookBody);
    EXPECT_EQ(a.notifyOn, b.notifyOn);
}

TEST(NotifySettings, AbsentSectionNotifiesNothingAndNamesAllButStopped) {
    QTemporaryDir dir;
    const ProfileFile profile(dir.filePath("Config.ini").toStdString());
    const NotifySettings n = ReadNotifySettings(profile);
    EXPECT_FALSE(n.MailConfigured());
    EXPECT_FALSE(n.WebhookConfigured());
    EXPECT_EQ(n.notifyOn,
              (std::vector<std::string>{"booked", "refused", "unanswered", "signin_failed", "error"}));
    EXPECT_FALSE(n.Wants("stopped"));
}

TEST(NotifySettings, RoundTripKeepsEveryValueBesideTheDataSection) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("Config.ini").toStdString();
    std::ofstream(path) << "[Data]\nCardNo=6201000000000001\nPasswd=demo1234\n";
    const ProfileFile profile(path);
    WriteNotifySettings(profile, Filled());
    ExpectSame(ReadNotifySettings(profile), Filled());
    EXPECT_EQ(ReadPassword(profile), "demo1234");
    EXPECT_EQ(ReadCardNo(profile), "6201000000000001");
    const std::string text = Slurp(path);
    EXPECT_NE(text.find("[Notify]\n"), std::string::npos) << text;
    EXPECT_NE(text.find("MailTo=me@example.com;her@example.org\n"), std::string::npos) << text;
    EXPECT_NE(text.find("NotifyOn=booked,stopped,error\n"), std::string::npos) << text;
    EXPECT_EQ(test::OwnerOnlyProblem(path), ""); // it holds SmtpPassword

    // Nothing chosen is written as an empty NotifyOn, which reads back as nothing.
    NotifySettings none = Filled();
    none.notifyOn.clear();
    WriteNotifySettings(profile, none);
    EXPECT_TRUE(ReadNotifySettings(profile).notifyOn.empty());
}

TEST(NotifySettings, ALineBreakInAnyValueLeavesTheWholeSectionAsItWas) {
    const std::function<void(NotifySettings&)> breaks[] = {
        [](NotifySettings& n) { n.smtpUrl += "\n[Data]"; },
        [](NotifySettings& n) { n.smtpPassword += "\r\nPasswd=x"; },
        [](NotifySettings& n) { n.mailTo.push_back("x@y\nBcc: z@w"); },
        [](NotifySettings& n) { n.webhookBody = "{\n\"text\":\"{text}\"}"; },
        [](NotifySettings& n) { n.webhookUrl += "\r"; },
    };
    for (const auto& change : breaks) {
        QTemporaryDir dir;
        const std::string path = dir.filePath("Config.ini").toStdString();
        const ProfileFile profile(path);
        WriteNotifySettings(profile, Filled());
        const std::string before = Slurp(path);
        NotifySettings n = Filled();
        n.smtpUser = "changed@example.com"; // written first, were nothing checked ahead
        change(n);
        EXPECT_THROW(WriteNotifySettings(profile, n), QuiloraError);
        EXPECT_EQ(Slurp(path), before);
    }
}

TEST(NotifySettings, HandWrittenListsAreRead) {
    const struct {
        std::string notifyOn;
        std::vector<std::string> events;
    } cases[] = {
        {"booked, REFUSED", {"booked", "refused"}},
        {"stopped;booked", {"booked", "stopped"}},
        {"bogus, error,error", {"error"}},
        {"", {}},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        const std::string path = dir.filePath("Config.ini").toStdString();
        std::ofstream(path) << "[Notify]\nNotifyOn=" << c.notifyOn
                            << "\nMailTo= a@x.cn ; b@y.cn ;; ,c@z.cn\n";
        const NotifySettings n = ReadNotifySettings(ProfileFile(path));
        EXPECT_EQ(n.notifyOn, c.events) << c.notifyOn;
        EXPECT_EQ(n.mailTo, (std::vector<std::string>{"a@x.cn", "b@y.cn", "c@z.cn"}));
    }
}

} // namespace
} // namespace quilora
