#pragma once
// The order and auto-booking state of one window or tool, and the auto-booking
// tick: poll the armed slot, read the answer for what it is, sign in again
// when the portal forgot the session, and book in the tick that sees the slot
// open. Message boxes and the timer itself stay with the caller: the engine
// says when the timer runs and what to show.
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workflow/booking.h"
#include "workflow/booking_record.h"
#include "workflow/patients.h"
#include "workflow/portal_clock.h"
#include "workflow/release_schedule.h"
#include "workflow/schedule_slot.h"
#include "workflow/slot_poll.h"

namespace quilora {

class PortalSession;
struct PollResult;

// What the status line shows while auto-booking runs and after it ended.
struct AutoBookingStatus {
    enum class Phase { Idle, Armed, StopPending, Booking, Booked, Stopped, Refused, Unanswered };
    Phase phase = Phase::Idle;
    std::string patient;
    std::string slot; // "2026-12-14 下午 王医生(主任医师)"
    std::size_t watched = 0;
    int polls = 0;
    std::optional<PollAnswer> lastAnswer;
    std::chrono::milliseconds lastTook{0};
    std::chrono::steady_clock::time_point armedAt{};
    std::string serverClock; // "服务器时间 +1.3 s", once an answer told
    // Until the release time the user gave, on the portal's clock.
    std::optional<std::chrono::system_clock::duration> untilRelease;
    std::string event;   // what just happened: signed in again, server trouble, no number yet
    std::string outcome; // after the end: the portal's refusal
};

// The status line's text at `now`.
std::string StatusText(const AutoBookingStatus& status, std::chrono::steady_clock::time_point now);

// What the engine needs from the window or tool that drives it.
class AutoBookingHost {
public:
    virtual ~AutoBookingHost() = default;
    // The patient booked, read as each request is built; throws when none is chosen.
    virtual int MemberId() = 0;
    virtual std::string PatientName() = 0;
    virtual void Log(std::string_view line) = 0;
    virtual void TimerChanged(bool enabled) = 0;
    virtual void StatusChanged(const AutoBookingStatus& status) = 0;
    // Each poll of a watched slot (its index in the watch) as it was answered.
    virtual void SlotPolled(std::size_t /*index*/, const PollResult& /*poll*/) {}
};

class AutoBooking {
public:
    using Clock = std::chrono::steady_clock;
    // A portal that keeps forgetting the session is asked to sign in no more often than this.
    static constexpr std::chrono::seconds kSignInSpacing{30};

    using WallClock = std::chrono::system_clock;

    explicit AutoBooking(AutoBookingHost& host);
    // Test seam: the clock of the sign-in spacing and the time waited.
    void SetClock(std::function<Clock::time_point()> clock);

    // The portal's clock as its answers tell it, kept current while armed.
    const PortalClock& ServerClock() const { return serverClock_; }
    // The release time of the next arming, on the portal's clock (none: poll
    // every tick of the caller's timer, 800 ms).
    void SetRelease(std::optional<WallClock::time_point> portalRelease);
    const std::optional<ReleaseSchedule>& Release() const { return release_; }
    // With a release time: how long until the next tick should run.
    std::optional<std::chrono::milliseconds> NextTickDelay() const;
    // After a tick: how long until the next one, with `interval` the caller's
    // tick when no release time places them. Never sooner than `interval`
    // after the last poll sent, so that a tick that ran late (a slow answer for
    // one slot) cannot bring another slot's polls closer together.
    std::chrono::milliseconds DelayAfterTick(std::chrono::milliseconds interval) const;
    // A portal answer's Date, to keep the portal's clock (the sign-in and the
    // schedule tell it too).
    void Observe(const FetchedPage& page);
    // A stop raised from outside the engine's thread (Ctrl+C, the window's stop
    // button on another thread): read before each registration goes out, so a
    // booking under way stops before it, never after it.
    void SetExternalStop(std::function<bool()> stop) { externalStop_ = std::move(stop); }
    // Whether a confirmed booking of a watched slot ends the watch (the
    // default) or the other slots are watched on. An unknown outcome always
    // ends it.
    void SetStopOthersOnBooking(bool stop) { stopOthersOnBooking_ = stop; }
    // Every booking attempt from now on adds a row to this record, for this
    // installation card; with an origin, every attempt is told as started so
    // (quilora-book), otherwise by how it was ordered. The record's connection
    // must belong to the thread that runs the engine. A failing record is
    // logged and never stops a booking.
    void SetRecord(BookingRecord* record, std::string loginId,
                   std::optional<BookingOrigin> origin = std::nullopt);

    bool OrderBusy() const { return orderBusy_; }
    bool StopRequested() const { return stopRequested_; }
    bool TimerEnabled() const { return timerEnabled_; }
    const std::shared_ptr<const ScheduleSlot>& OrderSlot() const { return orderSlot_; }
    const AutoBookingStatus& Status() const { return status_; }

    // ---- the order command ----
    // Yes to the busy question, or the stop button: the running auto-booking
    // stops at its next tick. Gives whether a new order may go on (nothing is
    // busy any more, because the auto-booking ended while the question was open).
    bool RequestStop();
    // A new order of this slot: stopRequested lowered, orderSlot set.
    void StartOrder(std::shared_ptr<const ScheduleSlot> slot);
    void Confirm(); // the user confirmed: orderBusy raised
    void Decline(); // the order ends without booking or arming: orderBusy lowered
    // Arms auto-booking of orderSlot (orderBusy stays raised).
    void Arm();
    // Arms auto-booking of several slots: each tick polls each once, in order,
    // and books the first that opens. The first becomes orderSlot. A slot may
    // name its own patient (patients parallel to watch); the host's otherwise.
    void Watch(std::vector<std::shared_ptr<const ScheduleSlot>> watch,
               std::vector<std::optional<PatientEntry>> patients = {});
    // Books orderSlot at once; orderBusy is lowered at the end, also on an error.
    BookingResult BookNow(PortalSession& session);

    // ---- one tick of auto-booking ----
    enum class TickEnd {
        Stopped, // a stop was pending (also one that came before the registration): show
                 // kAutoBookingStoppedMessage
        Polled,  // nothing opened: the timer goes on
        Booked,  // a slot opened and the booking ran: show its outcome (the
                 // others go on being watched after a confirmed booking when
                 // they should: the timer stays on)
        Rearmed, // a slot opened but no number could be booked yet: armed again
    };
    struct TickResult {
        TickEnd end = TickEnd::Polled;
        BookingResult booking;                    // with Booked
        std::shared_ptr<const ScheduleSlot> slot; // the slot that opened
    };
    TickResult Tick(PortalSession& session);

private:
    void SetTimer(bool enabled);
    void Publish();
    void Finish(AutoBookingStatus::Phase phase, std::string outcome = {});
    void SignInAgain(PortalSession& session);
    void Rearm(const std::string& why);
    std::string SlotText(const ScheduleSlot& slot) const;
    void UpdateClockStatus();
    bool StopWanted() const { return stopRequested_ || (externalStop_ && externalStop_()); }
    BookingResult Book(PortalSession& session, const ScheduleSlot& slot, BookingOrigin origin);
    void Arm(std::vector<std::shared_ptr<const ScheduleSlot>> watch,
             std::vector<std::optional<PatientEntry>> patients, BookingOrigin origin);
    std::optional<std::string> BeginRecord(const ScheduleSlot& slot, BookingOrigin origin);
    void FinishRecord(const std::optional<std::string>& key, const AttemptEnd& end);
    int BookingMemberId() { return bookingPatient_ ? bookingPatient_->cardNo : host_.MemberId(); }
    std::string BookingPatientName() { return bookingPatient_ ? bookingPatient_->name : host_.PatientName(); }

    AutoBookingHost& host_;
    std::function<Clock::time_point()> clock_;
    bool orderBusy_ = false;
    bool stopRequested_ = false;
    bool timerEnabled_ = false;
    std::shared_ptr<const ScheduleSlot> orderSlot_;
    std::vector<std::shared_ptr<const ScheduleSlot>> watched_;
    std::vector<std::optional<PatientEntry>> watchedPatients_;
    BookingOrigin watchOrigin_ = BookingOrigin::AutoBooking;
    // The patient of the slot being booked, when it names its own.
    std::optional<PatientEntry> bookingPatient_;
    bool stopOthersOnBooking_ = true;
    BookingRecord* record_ = nullptr;
    std::string recordLogin_;
    std::optional<BookingOrigin> recordOrigin_;
    std::optional<Clock::time_point> lastSignIn_;
    AutoBookingStatus status_;
    PortalClock serverClock_;
    std::optional<ReleaseSchedule> release_;
    std::chrono::milliseconds roundTrip_{2};
    std::function<bool()> externalStop_;
    // When the last poll went out (steady): no slot is polled sooner than
    // 800 ms after it, whatever the portal's clock says.
    std::optional<std::chrono::steady_clock::time_point> lastPoll_;
    bool implausibleDateLogged_ = false;
};

} // namespace quilora
