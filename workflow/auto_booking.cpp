#include "workflow/auto_booking.h"

#include <algorithm>

#include "common/errors.h"
#include "common/gbk.h"
#include "workflow/portal_session.h"
#include "workflow/schedule.h"

namespace quilora {

namespace {

using Phase = AutoBookingStatus::Phase;

std::string Waited(std::chrono::steady_clock::duration d) {
    return Clocktime(std::chrono::duration_cast<std::chrono::system_clock::duration>(d));
}

// Lowers orderBusy however the scope is left.
class LowerBusy {
public:
    explicit LowerBusy(bool& flag) : flag_(flag) {}
    ~LowerBusy() { flag_ = false; }
    LowerBusy(const LowerBusy&) = delete;
    LowerBusy& operator=(const LowerBusy&) = delete;

private:
    bool& flag_;
};

Phase PhaseOf(BookingOutcome outcome) {
    switch (outcome) {
    case BookingOutcome::Booked:
        return Phase::Booked;
    case BookingOutcome::Refused:
    case BookingOutcome::NoNumber:
        return Phase::Refused;
    case BookingOutcome::Unanswered:
        return Phase::Unanswered;
    }
    return Phase::Refused;
}

} // namespace

std::string StatusText(const AutoBookingStatus& s, std::chrono::steady_clock::time_point now) {
    const std::string who = s.patient + " " + s.slot;
    std::string text;
    switch (s.phase) {
    case Phase::Idle:
        return {};
    case Phase::Armed:
    case Phase::StopPending:
        text = (s.phase == Phase::Armed ? "自动预约中：" : "正在停止自动预约：") + who;
        if (s.watched > 1)
            text += "（共 " + std::to_string(s.watched) + " 个时段）";
        if (s.untilRelease && *s.untilRelease > std::chrono::system_clock::duration::zero())
            text += " · 距放号 " + Clocktime(*s.untilRelease);
        if (!s.serverClock.empty())
            text += " · " + s.serverClock;
        text += " · 已查询 " + std::to_string(s.polls) + " 次";
        if (s.lastAnswer)
            text += " · 最近应答：" + std::string(PollAnswerText(*s.lastAnswer)) + " " +
                    std::to_string(s.lastTook.count()) + " ms";
        text += " · 已等待 " + Waited(now - s.armedAt);
        break;
    case Phase::Booking:
        text = "正在预约：" + who;
        break;
    case Phase::Booked:
        text = "已预约成功：" + who;
        break;
    case Phase::Stopped:
        text = "已停止自动预约";
        break;
    case Phase::Refused:
        text = "预约未成功：" + TruncateGbk(s.outcome, 200);
        break;
    case Phase::Unanswered:
        text = "预约结果未知，请进入网页查看：" + who;
        break;
    }
    if (!s.event.empty())
        text += " · " + s.event;
    return text;
}

AutoBooking::AutoBooking(AutoBookingHost& host) : host_(host), clock_([] { return Clock::now(); }) {}

void AutoBooking::SetRelease(std::optional<WallClock::time_point> portalRelease) {
    release_.reset();
    if (portalRelease)
        release_ = ReleaseSchedule{*portalRelease};
}

std::optional<std::chrono::milliseconds> AutoBooking::NextTickDelay() const {
    if (!release_)
        return std::nullopt;
    const WallClock::time_point now = WallClock::now();
    // The last poll on the wall clock, measured on the steady one: a step of the
    // wall clock must not bring the next poll closer.
    std::optional<WallClock::time_point> lastPoll;
    if (lastPoll_)
        lastPoll = now - std::chrono::duration_cast<WallClock::duration>(std::chrono::steady_clock::now() -
                                                                         *lastPoll_);
    const WallClock::time_point next = release_->NextPoll(serverClock_, now, roundTrip_, lastPoll);
    return std::max(std::chrono::milliseconds(0), std::chrono::ceil<std::chrono::milliseconds>(next - now));
}

std::chrono::milliseconds AutoBooking::DelayAfterTick(std::chrono::milliseconds interval) const {
    if (const auto delay = NextTickDelay())
        return *delay;
    if (!lastPoll_)
        return interval;
    const auto due = *lastPoll_ + interval;
    return std::max(std::chrono::milliseconds(0),
                    std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now()));
}

void AutoBooking::Observe(const FetchedPage& page) {
    if (page.dateImplausible && !implausibleDateLogged_) {
        implausibleDateLogged_ = true;
        host_.Log("服务器应答的时间与本机相差超过一天，不可信，已忽略。");
    }
    serverClock_.Add(page);
    // The round trip of the recent answers, for the poll that must arrive on time.
    if (page.answered >= page.sent) {
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(page.answered - page.sent);
        roundTrip_ = (roundTrip_ * 3 + took) / 4;
    }
}

void AutoBooking::UpdateClockStatus() {
    if (serverClock_.Known() || !serverClock_.Trusted())
        status_.serverClock = OffsetText(serverClock_);
    if (release_)
        status_.untilRelease = release_->release - serverClock_.PortalTime(WallClock::now());
    else
        status_.untilRelease.reset();
}

void AutoBooking::SetClock(std::function<Clock::time_point()> clock) {
    if (!clock)
        clock = [] { return Clock::now(); };
    clock_ = std::move(clock);
}

void AutoBooking::SetTimer(bool enabled) {
    if (timerEnabled_ == enabled)
        return;
    timerEnabled_ = enabled;
    host_.TimerChanged(enabled);
}

void AutoBooking::Publish() {
    host_.StatusChanged(status_);
}

void AutoBooking::Finish(Phase phase, std::string outcome) {
    status_.phase = phase;
    status_.outcome = std::move(outcome);
    status_.event.clear();
    Publish();
}

std::string AutoBooking::SlotText(const ScheduleSlot& slot) const {
    return slot.date + " " + HalfDayText(slot.timeid) + " " + slot.doctorName;
}

bool AutoBooking::RequestStop() {
    stopRequested_ = true;
    if (timerEnabled_ && status_.phase == Phase::Armed) {
        status_.phase = Phase::StopPending;
        Publish();
    }
    return !orderBusy_;
}

void AutoBooking::StartOrder(std::shared_ptr<const ScheduleSlot> slot) {
    stopRequested_ = false;
    orderSlot_ = std::move(slot);
}

void AutoBooking::Confirm() {
    orderBusy_ = true;
}

void AutoBooking::Decline() {
    orderBusy_ = false;
}

void AutoBooking::SetRecord(BookingRecord* record, std::string loginId, std::optional<BookingOrigin> origin) {
    record_ = record;
    recordLogin_ = std::move(loginId);
    recordOrigin_ = origin;
}

void AutoBooking::Arm() {
    Arm({orderSlot_}, {}, BookingOrigin::AutoBooking);
}

void AutoBooking::Watch(std::vector<std::shared_ptr<const ScheduleSlot>> watch,
                        std::vector<std::optional<PatientEntry>> patients) {
    Arm(std::move(watch), std::move(patients), BookingOrigin::List);
}

void AutoBooking::Arm(std::vector<std::shared_ptr<const ScheduleSlot>> watch,
                      std::vector<std::optional<PatientEntry>> patients, BookingOrigin origin) {
    watched_ = std::move(watch);
    watchedPatients_ = std::move(patients);
    watchedPatients_.resize(watched_.size());
    watchOrigin_ = origin;
    bookingPatient_ = watchedPatients_.empty() ? std::nullopt : watchedPatients_.front();
    orderSlot_ = watched_.empty() ? nullptr : watched_.front();
    orderBusy_ = true;
    stopRequested_ = false;
    lastSignIn_.reset();
    status_ = AutoBookingStatus{};
    status_.phase = Phase::Armed;
    status_.patient = BookingPatientName();
    status_.slot = orderSlot_ ? SlotText(*orderSlot_) : std::string();
    status_.watched = watched_.size();
    status_.armedAt = clock_();
    UpdateClockStatus();
    SetTimer(true);
    Publish();
}

std::optional<std::string> AutoBooking::BeginRecord(const ScheduleSlot& slot, BookingOrigin origin) {
    if (!record_)
        return std::nullopt;
    try {
        BookingAttempt a;
        a.loginId = recordLogin_;
        a.patientCardNo = BookingMemberId();
        a.patientName = BookingPatientName();
        a.hospitalId = slot.hospitalId;
        a.hospitalName = slot.hospitalName;
        a.doctorId = slot.doctorId;
        a.doctorName = slot.doctorName;
        a.sn = slot.sn;
        a.slotDate = slot.date;
        a.timeid = slot.timeid;
        a.origin = recordOrigin_.value_or(origin);
        return record_->Begin(a);
    } catch (const std::exception& e) {
        host_.Log(LogLine(std::string("预约记录未能写入：") + e.what()));
        return std::nullopt;
    }
}

void AutoBooking::FinishRecord(const std::optional<std::string>& key, const AttemptEnd& end) {
    if (!record_ || !key)
        return;
    try {
        record_->Finish(*key, end);
    } catch (const std::exception& e) {
        host_.Log(LogLine(std::string("预约记录未能写入：") + e.what()));
    }
}

BookingResult AutoBooking::Book(PortalSession& session, const ScheduleSlot& slot, BookingOrigin origin) {
    // The row goes in before the first request: a crash from here on leaves it
    // under way, which the next start tells as 未能确认.
    const std::optional<std::string> key = BeginRecord(slot, origin);
    AttemptEnd end;
    const auto stopOrRegister = [this, &end] {
        if (StopWanted())
            return true;
        if (release_)
            end.releaseToRegister = std::chrono::duration_cast<std::chrono::milliseconds>(
                                        serverClock_.PortalTime(WallClock::now()) - release_->release)
                                        .count();
        return false;
    };
    try {
        BookingResult r = session.Book(
            slot.Ref(), [this] { return BookingMemberId(); },
            [this](std::string_view line) { host_.Log(line); }, stopOrRegister);
        end.requests = r.requests;
        switch (r.outcome) {
        case BookingOutcome::Booked:
            end.outcome = RecordOutcome::Booked;
            end.answer = r.answer;
            break;
        case BookingOutcome::Refused:
            end.outcome = RecordOutcome::Refused;
            end.answer = r.answer;
            break;
        case BookingOutcome::NoNumber:
            end.outcome = RecordOutcome::Refused;
            end.answer = r.message;
            break;
        case BookingOutcome::Unanswered:
            end.outcome = RecordOutcome::Unconfirmed;
            end.answer = r.message;
            break;
        }
        FinishRecord(key, end);
        return r;
    } catch (const FetchError& e) {
        end.outcome = e.Failure() == FetchFailure::Cancelled ? RecordOutcome::Stopped : RecordOutcome::Error;
        end.answer = e.what();
        FinishRecord(key, end);
        throw;
    } catch (const std::exception& e) {
        end.outcome = RecordOutcome::Error;
        end.answer = e.what();
        FinishRecord(key, end);
        throw;
    }
}

BookingResult AutoBooking::BookNow(PortalSession& session) {
    const LowerBusy lower(orderBusy_);
    status_ = AutoBookingStatus{};
    status_.phase = Phase::Booking;
    bookingPatient_.reset();
    status_.patient = host_.PatientName();
    status_.slot = SlotText(*orderSlot_);
    Publish();
    try {
        BookingResult r = Book(session, *orderSlot_, BookingOrigin::BookNow);
        Finish(PhaseOf(r.outcome), r.outcome == BookingOutcome::Booked ? std::string() : r.message);
        return r;
    } catch (const FetchError& e) {
        Finish(e.Failure() == FetchFailure::Cancelled ? Phase::Stopped : Phase::Idle);
        throw;
    } catch (...) {
        Finish(Phase::Idle);
        throw;
    }
}

void AutoBooking::SignInAgain(PortalSession& session) {
    const Clock::time_point now = clock_();
    if (lastSignIn_ && now - *lastSignIn_ < kSignInSpacing) {
        status_.event = "登录已失效，稍后重新登录";
        return;
    }
    lastSignIn_ = now;
    try {
        if (session.SignInAgain(FetchMode::Poll)) {
            status_.event = "已重新登录";
        } else {
            status_.event = "重新登录被拒绝（错误），继续自动预约";
        }
    } catch (const FetchError& e) {
        status_.event = "重新登录失败，继续自动预约";
        host_.Log(LogLine(e.what()));
        return;
    }
    host_.Log(status_.event);
}

void AutoBooking::Rearm(const std::string& why) {
    orderBusy_ = true;
    stopRequested_ = false;
    status_.phase = Phase::Armed;
    status_.event = why;
    host_.Log(why);
    SetTimer(true);
    Publish();
}

AutoBooking::TickResult AutoBooking::Tick(PortalSession& session) {
    TickResult result;
    if (StopWanted() || watched_.empty()) {
        stopRequested_ = false;
        orderBusy_ = false;
        SetTimer(false);
        watched_.clear();
        Finish(Phase::Stopped);
        result.end = TickEnd::Stopped;
        return result;
    }

    status_.event.clear();
    status_.patient = BookingPatientName();
    std::shared_ptr<const ScheduleSlot> opened;
    for (std::size_t i = 0; i < watched_.size(); ++i) {
        const auto& slot = watched_[i];
        lastPoll_ = std::chrono::steady_clock::now();
        const PollResult poll = session.Poll(*slot);
        host_.SlotPolled(i, poll);
        if (poll.timing)
            Observe(*poll.timing);
        ++status_.polls;
        status_.lastAnswer = poll.answer;
        status_.lastTook = poll.took;
        host_.Log(poll.line);
        if (poll.answer == PollAnswer::Opened) {
            opened = slot;
            bookingPatient_ = watchedPatients_[i];
            break;
        }
        if (poll.answer == PollAnswer::ServerTrouble)
            status_.event = "服务器繁忙，继续查询";
        else if (poll.answer == PollAnswer::SignedOut)
            SignInAgain(session);
    }
    if (!opened) {
        UpdateClockStatus();
        Publish();
        return result;
    }

    // Opened: the timer stops before the booking, which runs within this tick.
    stopRequested_ = false;
    orderBusy_ = false;
    SetTimer(false);
    orderSlot_ = opened;
    result.slot = opened;
    status_.phase = Phase::Booking;
    status_.patient = BookingPatientName();
    status_.slot = SlotText(*opened);
    Publish();
    try {
        result.booking = Book(session, *opened, watchOrigin_);
    } catch (const FetchError& e) {
        host_.Log(LogLine(e.what()));
        if (e.Failure() == FetchFailure::Cancelled) {
            // Stopped before the registration went out.
            watched_.clear();
            Finish(Phase::Stopped);
            result.end = TickEnd::Stopped;
            return result;
        }
        // The portal never came right before the registration, or turned the
        // registration away unread: nothing was taken, so the slot is watched on.
        Rearm("预约请求未成功，继续自动预约");
        result.end = TickEnd::Rearmed;
        return result;
    } catch (...) {
        Finish(Phase::Idle);
        watched_.clear();
        throw;
    }
    if (result.booking.outcome == BookingOutcome::NoNumber) {
        // Open, but the numbers are not out yet (or the portal is too busy to list them).
        Rearm("已放号但暂无可选的预约号，继续自动预约");
        result.end = TickEnd::Rearmed;
        return result;
    }
    result.end = TickEnd::Booked;
    if (result.booking.outcome == BookingOutcome::Booked && !stopOthersOnBooking_ && watched_.size() > 1) {
        // The booked slot leaves the watch; the others are watched on.
        const auto at =
            static_cast<std::size_t>(std::find(watched_.begin(), watched_.end(), opened) - watched_.begin());
        watched_.erase(watched_.begin() + static_cast<std::ptrdiff_t>(at));
        watchedPatients_.erase(watchedPatients_.begin() + static_cast<std::ptrdiff_t>(at));
        bookingPatient_ = watchedPatients_.front();
        orderSlot_ = watched_.front();
        status_.watched = watched_.size();
        Rearm("已预约成功：" + status_.patient + " " + SlotText(*opened) + "，继续自动预约其余时段");
        return result;
    }
    watched_.clear();
    Finish(PhaseOf(result.booking.outcome),
           result.booking.outcome == BookingOutcome::Booked ? std::string() : result.booking.message);
    return result;
}

} // namespace quilora
