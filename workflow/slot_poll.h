#pragma once
// What one auto-booking poll of an armed slot's number list found.
#include <string>
#include <string_view>

namespace quilora {

enum class PollAnswer {
    Opened,      // the list shows a number entry: book now
    NotReleased, // the portal's own "not yet released" answer
    Unexpected,  // anything else (an error page, a stray answer): poll on
};

// Classifies the normalised answer. Only a number entry opens the slot; the
// not-yet-released marker only tells the expected answer from the others.
PollAnswer ReadPollAnswer(std::string_view answer);

// The log line of a poll: the answer itself when expected, else marked and,
// for a long page, cut so that an overloaded portal cannot flood the log.
std::string PollLogLine(std::string_view answer, PollAnswer kind);
// The log line of a poll that got no answer.
std::string FailedPollLine(std::string_view reason);

inline constexpr std::string_view kAutoBookingStoppedMessage = "已经停止自动预约！";

} // namespace quilora
