#include "workflow/portal_worker.h"

#include <QMetaObject>
#include <QTimer>
#include <algorithm>

#include "common/errors.h"
#include "workflow/slot_poll.h"

namespace quilora {

// The address lines of the worker's client, out to whoever listens.
class PortalWorker::Relay : public LogTarget {
public:
    explicit Relay(PortalWorker& w) : w_(w) {}
    void LogUrl(std::string_view line) override {
        emit w_.LogLine(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
    }

private:
    PortalWorker& w_;
};

// What the engine asks of its host, answered on the worker's thread.
class PortalWorker::Host : public AutoBookingHost {
public:
    explicit Host(PortalWorker& w) : w_(w) {}
    int MemberId() override {
        const std::lock_guard lock(w_.patientMutex_);
        if (!w_.memberId_)
            throw QuiloraError("没有选择就诊人，无法预约。");
        return *w_.memberId_;
    }
    std::string PatientName() override {
        const std::lock_guard lock(w_.patientMutex_);
        return w_.patientName_;
    }
    void Log(std::string_view line) override { w_.relay_->LogUrl(line); }
    void TimerChanged(bool enabled) override { w_.TimerChanged(enabled); }
    void StatusChanged(const AutoBookingStatus&) override { w_.Publish(); }
    void SlotPolled(std::size_t index, const PollResult& poll) override {
        emit w_.SlotPolled(static_cast<int>(index),
                           QString::fromStdString(std::string(PollAnswerText(poll.answer)) + " " +
                                                  std::to_string(poll.took.count()) + " ms"));
    }

private:
    PortalWorker& w_;
};

PortalWorker::PortalWorker(PortalHosts hosts)
    : relay_(std::make_unique<Relay>(*this)), http_(std::make_unique<HttpClient>()),
      session_(std::make_unique<PortalSession>(*http_, std::move(hosts))),
      host_(std::make_unique<Host>(*this)), order_(std::make_unique<AutoBooking>(*host_)),
      tick_(new QTimer(this)) {
    qRegisterMetaType<quilora::OrderState>();
    qRegisterMetaType<quilora::JobOutcome>();
    qRegisterMetaType<quilora::TickOutcome>();
    http_->SetLogWindow(relay_.get());
    http_->SetCancelFlag(&cancel_);
    // Read before the registration goes out: a stop or a 取消 until then ends
    // the booking without it; once it is out, its outcome is awaited.
    order_->SetExternalStop([this] { return stop_.load() || cancel_.load(); });
    session_->SetAnswerObserver([this](const FetchedPage& page) { order_->Observe(page); });
    tick_->setTimerType(Qt::PreciseTimer);
    connect(tick_, &QTimer::timeout, this, &PortalWorker::RunTick);
}

PortalWorker::~PortalWorker() = default;

void PortalWorker::SetPatient(std::optional<int> memberId, std::string name) {
    const std::lock_guard lock(patientMutex_);
    memberId_ = memberId;
    patientName_ = std::move(name);
}

// ---- jobs ----

std::uint64_t PortalWorker::Post(JobKind kind, std::function<void(JobOutcome&)> body) {
    const std::uint64_t id = ++nextJob_;
    QMetaObject::invokeMethod(
        this, [this, id, kind, body = std::move(body)] { RunJob(id, kind, body); }, Qt::QueuedConnection);
    return id;
}

void PortalWorker::RunJob(std::uint64_t id, JobKind kind, const std::function<void(JobOutcome&)>& body) {
    JobOutcome out;
    out.id = id;
    out.kind = kind;
    if (closing_)
        return;
    if (!Begin(Activity::Job, id)) {
        out.cancelled = true; // abandoned while it waited its turn: nothing was sent
        emit JobDone(out);
        return;
    }
    try {
        body(out);
    } catch (const FetchError& e) {
        out.cancelled = e.Failure() == FetchFailure::Cancelled;
        if (!out.cancelled)
            out.error = e.what();
    } catch (const std::exception& e) {
        out.error = e.what();
    } catch (...) {
        out.error = "Unknown error";
    }
    End();
    Publish();
    emit JobDone(out);
}

bool PortalWorker::Begin(Activity activity, std::uint64_t job) {
    const std::lock_guard lock(mutex_);
    if (activity == Activity::Job && job <= cancelledUpTo_)
        return false;
    activity_ = activity;
    currentJob_ = job;
    cancel_ = false;
    return true;
}

void PortalWorker::End() {
    const std::lock_guard lock(mutex_);
    activity_ = Activity::None;
    currentJob_ = 0;
}

PortalWorker::CancelAnswer PortalWorker::Cancel(std::uint64_t job) {
    const std::lock_guard lock(mutex_);
    if (activity_ == Activity::Job && currentJob_ == job) {
        if (http_->RegistrationUnderWay())
            return CancelAnswer::RegistrationUnderWay;
        cancel_ = true;
        http_->Interrupt();
    }
    cancelledUpTo_ = std::max(cancelledUpTo_, job);
    return CancelAnswer::Cancelled;
}

std::uint64_t PortalWorker::SignIn(std::string cardNo, std::string password) {
    return Post(JobKind::SignIn, [this, cardNo = std::move(cardNo), password = std::move(password)](
                                     JobOutcome& out) { out.signedIn = session_->SignIn(cardNo, password); });
}

std::uint64_t PortalWorker::FetchPatients() {
    return Post(JobKind::Patients, [this](JobOutcome& out) { out.patients = session_->Patients(); });
}

std::uint64_t PortalWorker::FetchSchedule(int hospitalId, int doctorId, std::string doctorName,
                                          std::string hospitalName) {
    return Post(JobKind::Schedule, [=, this](JobOutcome& out) {
        session_->Schedule(
            hospitalId, doctorId, doctorName, hospitalName, [&out] { out.pageIn = true; },
            [&out](ScheduleSlot s) { out.schedule.push_back(std::move(s)); });
    });
}

std::uint64_t PortalWorker::BookNow(std::shared_ptr<const ScheduleSlot> slot) {
    return Post(JobKind::BookNow, [this, slot = std::move(slot)](JobOutcome& out) {
        if (order_->OrderSlot() != slot)
            order_->StartOrder(slot);
        out.booking = order_->BookNow(*session_); // lowers orderBusy itself
    });
}

// ---- order commands ----

std::uint64_t PortalWorker::Command(std::function<void()> body) {
    const std::uint64_t seq = ++nextCommand_;
    QMetaObject::invokeMethod(
        this,
        [this, seq, body = std::move(body)] {
            if (closing_)
                return;
            commandDone_ = seq;
            try {
                body();
            } catch (const std::exception& e) {
                emit TickFailed(QString::fromUtf8(e.what()));
            }
            Publish();
        },
        Qt::QueuedConnection);
    return seq;
}

std::uint64_t PortalWorker::StartOrder(std::shared_ptr<const ScheduleSlot> slot) {
    return Command([this, slot = std::move(slot)] {
        stop_ = false;
        order_->StartOrder(slot);
    });
}

std::uint64_t PortalWorker::Confirm() {
    return Command([this] { order_->Confirm(); });
}

std::uint64_t PortalWorker::Decline() {
    return Command([this] { order_->Decline(); });
}

std::uint64_t PortalWorker::Arm(std::optional<AutoBooking::WallClock::time_point> portalRelease, int tickMs) {
    return Command([this, portalRelease, tickMs] {
        stop_ = false;
        tickMs_ = std::max(1, tickMs);
        order_->SetRelease(portalRelease);
        order_->Arm();
    });
}

std::uint64_t PortalWorker::Watch(std::vector<std::shared_ptr<const ScheduleSlot>> watchSlots,
                                  std::vector<std::optional<PatientEntry>> patients,
                                  std::optional<AutoBooking::WallClock::time_point> portalRelease,
                                  bool stopOthers, int tickMs) {
    return Command([this, watchSlots = std::move(watchSlots), patients = std::move(patients), portalRelease,
                    stopOthers, tickMs]() mutable {
        stop_ = false;
        tickMs_ = std::max(1, tickMs);
        order_->SetRelease(portalRelease);
        order_->SetStopOthersOnBooking(stopOthers);
        order_->Watch(std::move(watchSlots), std::move(patients));
    });
}

void PortalWorker::SetRecord(std::string connectionString, std::string baseDir, std::string loginId) {
    QMetaObject::invokeMethod(
        this,
        [this, connectionString = std::move(connectionString), baseDir = std::move(baseDir),
         loginId = std::move(loginId)] {
            // Opened on first use: a catalogue that cannot be reached costs the record, never a booking.
            recordConnection_ = std::make_unique<db::Connection>(QStringLiteral("record"));
            recordConnection_->SetConnectionString(connectionString, baseDir);
            record_ = std::make_unique<BookingRecord>(*recordConnection_);
            order_->SetRecord(record_.get(), loginId);
        },
        Qt::QueuedConnection);
}

std::uint64_t PortalWorker::RequestStop() {
    stop_ = true;
    {
        // A poll or a booking's number list under way ends at once.
        const std::lock_guard lock(mutex_);
        if (activity_ == Activity::Tick) {
            cancel_ = true;
            http_->Interrupt();
        }
    }
    return Command([this] {
        if (!order_->TimerEnabled()) {
            stop_ = false; // over already
            return;
        }
        order_->RequestStop();
        RunTick(); // the stopping tick, now rather than at the timer's next turn
    });
}

void PortalWorker::TickNow() {
    QMetaObject::invokeMethod(
        this, [this] { RunTick(); }, Qt::QueuedConnection);
}

void PortalWorker::Shutdown() {
    closing_ = true;
    const std::lock_guard lock(mutex_);
    cancel_ = true;
    http_->Interrupt();
}

// ---- ticks ----

void PortalWorker::RunTick() {
    if (closing_)
        return;
    Begin(Activity::Tick, 0);
    AutoBooking::TickResult tick;
    try {
        if (stop_ && order_->TimerEnabled())
            order_->RequestStop();
        tick = order_->Tick(*session_);
        const bool goesOn =
            tick.end == AutoBooking::TickEnd::Polled || tick.end == AutoBooking::TickEnd::Rearmed;
        if (goesOn && stop_ && order_->TimerEnabled()) {
            // The stop came during this tick: it acts now, without another request.
            order_->RequestStop();
            tick = order_->Tick(*session_);
        }
    } catch (const std::exception& e) {
        End();
        if (order_->TimerEnabled())
            ScheduleNextTick();
        Publish();
        emit TickFailed(QString::fromUtf8(e.what()));
        return;
    } catch (...) {
        End();
        if (order_->TimerEnabled())
            ScheduleNextTick();
        Publish();
        emit TickFailed(QStringLiteral("Unknown error"));
        return;
    }
    End();
    AfterTick(tick);
}

void PortalWorker::AfterTick(const AutoBooking::TickResult& tick) {
    switch (tick.end) {
    case AutoBooking::TickEnd::Stopped:
    case AutoBooking::TickEnd::Booked: {
        stop_ = false;
        Publish();
        TickOutcome out;
        out.end = tick.end;
        out.booking = tick.booking;
        out.slot = tick.slot;
        out.status = order_->Status();
        out.watchGoesOn = tick.end == AutoBooking::TickEnd::Booked && order_->TimerEnabled();
        if (out.watchGoesOn)
            ScheduleNextTick();
        emit TickEnded(out);
        break;
    }
    case AutoBooking::TickEnd::Polled:
    case AutoBooking::TickEnd::Rearmed:
        if (order_->TimerEnabled())
            ScheduleNextTick();
        Publish();
        break;
    }
}

void PortalWorker::TimerChanged(bool enabled) {
    if (enabled)
        ScheduleNextTick();
    else
        tick_->stop();
    Publish();
}

void PortalWorker::ScheduleNextTick() {
    // With a release time the engine places each tick; else every tickMs_,
    // counted from the last poll of a tick that ran late.
    if (const auto delay = order_->NextTickDelay())
        tick_->start(static_cast<int>(delay->count()));
    else if (!tick_->isActive())
        tick_->start(tickMs_);
    else
        tick_->start(static_cast<int>(order_->DelayAfterTick(std::chrono::milliseconds(tickMs_)).count()));
}

void PortalWorker::Publish() {
    OrderState s;
    s.orderBusy = order_->OrderBusy();
    s.stopRequested = order_->StopRequested() || (stop_ && order_->TimerEnabled());
    s.timerEnabled = order_->TimerEnabled();
    s.orderSlot = order_->OrderSlot();
    s.status = order_->Status();
    s.serverClock = order_->ServerClock();
    s.release = order_->Release();
    s.command = commandDone_;
    emit StateChanged(s);
}

} // namespace quilora
