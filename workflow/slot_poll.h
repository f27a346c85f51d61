#pragma once
// What one auto-booking poll of an armed slot's number list found.
#include <cstddef>
#include <string>
#include <string_view>

namespace quilora {

enum class PollAnswer {
    Opened,        // the list shows a number entry: book now
    NotReleased,   // the portal's own "not yet released" answer
    ServerTrouble, // a status of 400 or above, or no answer at all: poll on
    SignedOut,     // any other answer: what a portal that forgot the session sends
};

// Classifies an answer by its HTTP status and its normalised text.
PollAnswer ReadPollAnswer(long status, std::string_view answer);
// What the status line says of an answer: "已放号", "未放号", "服务器繁忙", "登录已失效".
std::string_view PollAnswerText(PollAnswer answer);

// A line of the log memo: at most this many GBK bytes, cut at a character boundary.
inline constexpr std::size_t kLogLineBytes = 1000;
std::string LogLine(std::string_view text);
// The log line of a poll that got no answer.
std::string FailedPollLine(std::string_view reason);

inline constexpr std::string_view kAutoBookingStoppedMessage = "已经停止自动预约！";

} // namespace quilora
