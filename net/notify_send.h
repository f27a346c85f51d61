#pragma once
// Sending one notice over each configured channel: mail through libcurl's SMTP
// and a JSON POST to a webhook. Each send is bounded and tried once more after
// a failure that may pass; the result says, in one line, what happened.
#include <atomic>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "common/settings.h"

namespace quilora {

// What a notification says.
struct Notice {
    std::string event; // one of kNotifyEvents, or "test"
    std::string title;
    std::string text; // may hold line breaks
};

struct SendLimits {
    std::chrono::milliseconds timeout{10000}; // one attempt, connection included
    int attempts = 2;
};

struct ChannelResult {
    std::string channel; // "邮件" or "Webhook"
    // Host and recipients only: never a user, password, path or query.
    std::string target;
    bool ok = false;
    std::string reason; // when not ok: one line, in Chinese
    // "邮件（mail.example.com:587 → a@example.com）：发送成功"
    std::string Line() const;
};

inline constexpr std::string_view kNotifyFailedPrefix = "通知发送失败：";
// "通知发送失败：…" or "通知已发送：…", for the log.
std::string NoticeLine(const ChannelResult& result);

// The webhook's body: the template (the default when empty) with {title},
// {text} and {event} replaced by their JSON-escaped values.
inline constexpr std::string_view kDefaultWebhookBody =
    R"({"title":"{title}","text":"{text}","event":"{event}"})";
std::string FillWebhookBody(std::string_view tmpl, const Notice& notice);

// "host[:port]" of a URL, without user, password, path or query.
std::string UrlHost(std::string_view url);

// A send stops soon after *cancel turns true (may be null).
ChannelResult SendMail(const NotifySettings& settings, const Notice& notice, const SendLimits& limits,
                       const std::atomic<bool>* cancel = nullptr);
ChannelResult SendWebhook(const NotifySettings& settings, const Notice& notice, const SendLimits& limits,
                          const std::atomic<bool>* cancel = nullptr);
// Every configured channel in turn (mail, then webhook); empty when none is.
std::vector<ChannelResult> SendToChannels(const NotifySettings& settings, const Notice& notice,
                                          const SendLimits& limits,
                                          const std::atomic<bool>* cancel = nullptr);

} // namespace quilora
