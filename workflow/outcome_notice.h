#pragma once
// What a notification says about auto-booking: the event, a title and the
// text of the window's outcome box with patient, slot and time. The tracker
// follows the engine's published statuses and gives a notice once per outcome.
#include <chrono>
#include <optional>
#include <string>

#include "net/notify_send.h"
#include "workflow/auto_booking.h"

namespace quilora {

// The notice of a terminal status (Booked, Refused, Unanswered, Stopped).
Notice OutcomeNotice(const AutoBookingStatus& status, std::chrono::system_clock::time_point now);
// Auto-booking (or a booking) ended by an error.
Notice ErrorNotice(const AutoBookingStatus& status, std::chrono::system_clock::time_point now);
// The portal refused the password (while auto-booking, or the tool's own sign-in).
Notice SignInRefusedNotice(const std::string& cardNo, const std::string& patient, const std::string& slot,
                           std::chrono::system_clock::time_point now);
// "发送测试通知".
Notice TestNotice(std::chrono::system_clock::time_point now);

class OutcomeNotices {
public:
    // Call with every status the engine publishes: a notice when this one
    // ends an order (or, once per arming, when a sign-in again was refused).
    std::optional<Notice> Next(const AutoBookingStatus& status,
                               std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

private:
    AutoBookingStatus::Phase last_ = AutoBookingStatus::Phase::Idle;
    bool signInNoticed_ = false;
};

} // namespace quilora
