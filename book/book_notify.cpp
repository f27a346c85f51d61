#include "book/book_notify.h"

#include <chrono>
#include <filesystem>

#include "book/book_commands.h"
#include "book/book_settings.h"
#include "common/platform.h"
#include "common/settings.h"

namespace quilora::book {

namespace {

// At the end of a run the outcome's notice may still be on its way: each
// channel has 10 s and one retry.
constexpr std::chrono::seconds kExitGrace{45};

NotifySettings ReadNotify(const std::string& configPath) {
    return ReadNotifySettings(ProfileFile(configPath));
}

} // namespace

BookNotify::BookNotify(const BookOptions& options, const std::string& configPath, BookOutput& output)
    : options_(options), configPath_(configPath), out_(output) {}

BookNotify::~BookNotify() {
    notifier_.reset();
    PrintResults();
}

void BookNotify::Status(const AutoBookingStatus& status) {
    if (auto notice = notices_.Next(status))
        Post(std::move(*notice));
    PrintResults();
}

void BookNotify::SignInRefused(const std::string& cardNo) {
    const bool watching =
        options_.command == Command::Watch || (options_.command == Command::Book && options_.wait);
    if (watching)
        Post(SignInRefusedNotice(cardNo, "", "", std::chrono::system_clock::now()));
}

void BookNotify::Post(Notice notice) {
    NotifySettings settings;
    try {
        settings = ReadNotify(configPath_);
    } catch (const std::exception&) {
        return; // a notification never costs the booking its outcome
    }
    if (!notifier_)
        notifier_ = std::make_unique<Notifier>(
            [this](const ChannelResult& r) {
                const std::lock_guard lock(mutex_);
                results_.push_back(r);
            },
            SendLimits{}, kExitGrace);
    notifier_->Post(settings, std::move(notice));
}

void BookNotify::PrintResults() {
    std::vector<ChannelResult> results;
    {
        const std::lock_guard lock(mutex_);
        results.swap(results_);
    }
    for (const ChannelResult& r : results)
        out_.Notified(r);
}

int RunNotifyTest(const BookOptions& options, BookOutput& output) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(platform::PathFromUtf8(options.configPath), ec))
        throw UsageError("找不到配置文件 " + options.configPath);
    const NotifySettings settings = ReadNotify(options.configPath);
    const std::vector<ChannelResult> results =
        SendToChannels(settings, TestNotice(std::chrono::system_clock::now()), SendLimits{});
    if (results.empty()) {
        output.Error("Config.ini 的 [Notify] 中没有设置任何通知渠道（SmtpUrl 或 WebhookUrl）", kExitUsage);
        return kExitUsage;
    }
    bool allOk = true;
    for (const ChannelResult& r : results) {
        output.NotifyTested(r);
        allOk = allOk && r.ok;
    }
    return allOk ? kExitDone : kExitRefused;
}

} // namespace quilora::book
