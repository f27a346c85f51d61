#pragma once
// The portal conversation off the window's thread. The worker owns the HTTP
// client, the portal session, the auto-booking engine and its tick timer, and
// runs one thing at a time from its thread's event queue (a FIFO): a job the
// user started, an order command or a tick. So only one request of the session
// is ever under way, ticks never overlap, and the requests go out in the order
// the window asked for them. Whoever drives it (the window) posts through the
// thread-safe calls below and hears back through queued signals; the worker
// knows nothing of widgets.
#include <QMetaType>
#include <QObject>
#include <QString>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/database.h"
#include "net/fetcher.h"
#include "net/portal_address.h"
#include "workflow/auto_booking.h"
#include "workflow/booking_record.h"
#include "workflow/patients.h"
#include "workflow/portal_clock.h"
#include "workflow/portal_session.h"
#include "workflow/release_schedule.h"
#include "workflow/schedule_slot.h"

class QTimer;

namespace quilora {

// The engine's state as the worker last published it: what the window reads
// to decide (busy question, stop button) and shows (the status line).
struct OrderState {
    bool orderBusy = false;
    bool stopRequested = false;
    bool timerEnabled = false;
    std::shared_ptr<const ScheduleSlot> orderSlot;
    AutoBookingStatus status;
    PortalClock serverClock;
    std::optional<ReleaseSchedule> release;
    // The last order command the worker had taken when it published this.
    std::uint64_t command = 0;

    bool OrderBusy() const { return orderBusy; }
    bool StopRequested() const { return stopRequested; }
    bool TimerEnabled() const { return timerEnabled; }
    const std::shared_ptr<const ScheduleSlot>& OrderSlot() const { return orderSlot; }
    const AutoBookingStatus& Status() const { return status; }
    const PortalClock& ServerClock() const { return serverClock; }
    const std::optional<ReleaseSchedule>& Release() const { return release; }
};

// A job the user waits for.
enum class JobKind { SignIn, Patients, Schedule, BookNow };

struct JobOutcome {
    std::uint64_t id = 0;
    JobKind kind = JobKind::SignIn;
    bool cancelled = false; // abandoned before its answer came; nothing to show
    std::string error;      // the failure's text for the error report; empty on success
    bool signedIn = false;  // SignIn: the portal took the card and password
    std::vector<PatientRecord> patients;
    bool pageIn = false; // Schedule: the page arrived (the old rows go)
    std::vector<ScheduleSlot> schedule;
    BookingResult booking;
};

// How a tick that ended auto-booking ended.
struct TickOutcome {
    AutoBooking::TickEnd end = AutoBooking::TickEnd::Stopped;
    BookingResult booking;
    std::shared_ptr<const ScheduleSlot> slot; // with Booked: the slot that opened
    bool watchGoesOn = false;                 // with Booked: the other slots are watched on
    AutoBookingStatus status;                 // as it stood at the end, for the attention text
};

class PortalWorker : public QObject {
    Q_OBJECT
public:
    // Lives on the caller's thread until moved to its own (moveToThread).
    explicit PortalWorker(PortalHosts hosts);
    ~PortalWorker() override;

    // The worker's HTTP client. Its limits may be set only while no job runs.
    HttpClient& Http() { return *http_; }

    // ---- from any thread ----
    // The patient the engine books, read as each request is built; none: no choice.
    void SetPatient(std::optional<int> memberId, std::string name);

    // Jobs: each gives its id; JobDone tells the outcome.
    std::uint64_t SignIn(std::string cardNo, std::string password);
    std::uint64_t FetchPatients();
    std::uint64_t FetchSchedule(int hospitalId, int doctorId, std::string doctorName,
                                std::string hospitalName);
    std::uint64_t BookNow(std::shared_ptr<const ScheduleSlot> slot);

    enum class CancelAnswer {
        Cancelled,           // the wait ends now; the job ends as failed and sends nothing more
        RegistrationUnderWay // the registration was sent: its outcome will come
    };
    CancelAnswer Cancel(std::uint64_t job);

    // Order commands, taken in the order given; each gives its sequence number.
    std::uint64_t StartOrder(std::shared_ptr<const ScheduleSlot> slot);
    std::uint64_t Confirm();
    std::uint64_t Decline();
    // Arms orderSlot with this release time; ticks every tickMs without one.
    std::uint64_t Arm(std::optional<AutoBooking::WallClock::time_point> portalRelease, int tickMs);
    // Arms the slots of the auto-booking list, each for its own patient: each
    // tick polls them in order and books the first that opens.
    std::uint64_t Watch(std::vector<std::shared_ptr<const ScheduleSlot>> watchSlots,
                        std::vector<std::optional<PatientEntry>> patients,
                        std::optional<AutoBooking::WallClock::time_point> portalRelease, bool stopOthers,
                        int tickMs);
    // Every booking attempt from now on is recorded in this catalogue (a
    // connection of the worker's own, opened on its thread) for this card.
    void SetRecord(std::string connectionString, std::string baseDir, std::string loginId);
    // Stops auto-booking now: a poll or a number list under way is cut off, and
    // the stopping tick runs as soon as the worker is free. A registration
    // already sent runs to its outcome.
    std::uint64_t RequestStop();
    // One tick at once, whatever the timer says.
    void TickNow();

    // Ends the work for good: a request under way is cut off (but a registration).
    void Shutdown();

signals:
    void StateChanged(const quilora::OrderState& state);
    void LogLine(const QString& line);
    void JobDone(const quilora::JobOutcome& outcome);
    // Auto-booking ended: stopped, or a slot opened and its booking ran.
    void TickEnded(const quilora::TickOutcome& outcome);
    // A tick failed with this text (for the error report).
    void TickFailed(const QString& text);
    // A watched slot (its index in the watch) was polled: "未放号 23 ms".
    void SlotPolled(int index, const QString& answer);

private:
    class Host;
    class Relay;
    enum class Activity { None, Tick, Job };

    std::uint64_t Post(JobKind kind, std::function<void(JobOutcome&)> body);
    std::uint64_t Command(std::function<void()> body);
    void RunJob(std::uint64_t id, JobKind kind, const std::function<void(JobOutcome&)>& body);
    bool Begin(Activity activity, std::uint64_t job);
    void End();
    void RunTick();
    void AfterTick(const AutoBooking::TickResult& tick);
    void ScheduleNextTick();
    void TimerChanged(bool enabled);
    void Publish();

    std::unique_ptr<Relay> relay_;
    std::unique_ptr<HttpClient> http_;
    std::unique_ptr<PortalSession> session_;
    std::unique_ptr<Host> host_;
    std::unique_ptr<AutoBooking> order_;
    std::unique_ptr<db::Connection> recordConnection_; // worker thread only
    std::unique_ptr<BookingRecord> record_;
    QTimer* tick_ = nullptr; // child: moves with the worker
    int tickMs_ = 800;

    std::atomic<std::uint64_t> nextJob_{0};
    std::atomic<std::uint64_t> nextCommand_{0};
    std::uint64_t commandDone_ = 0;   // worker thread only
    std::atomic<bool> stop_{false};   // 停止自动预约
    std::atomic<bool> cancel_{false}; // the client's cancel flag: 取消, a stop, the end
    std::atomic<bool> closing_{false};

    // What runs now; guarded by mutex_ with cancelledUpTo_.
    std::mutex mutex_;
    Activity activity_ = Activity::None;
    std::uint64_t currentJob_ = 0;
    std::uint64_t cancelledUpTo_ = 0;

    std::mutex patientMutex_;
    std::optional<int> memberId_;
    std::string patientName_;
};

} // namespace quilora

Q_DECLARE_METATYPE(quilora::OrderState)
Q_DECLARE_METATYPE(quilora::JobOutcome)
Q_DECLARE_METATYPE(quilora::TickOutcome)
