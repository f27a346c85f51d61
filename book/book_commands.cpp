#include "book/book_commands.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>

#include "book/book_notify.h"
#include "book/book_settings.h"
#include "book/doctor_lookup.h"
#include "book/stop_signal.h"
#include "book/watch_loop.h"
#include "catalogue/schema.h"
#include "common/database.h"
#include "common/errors.h"
#include "common/platform.h"
#include "net/fetcher.h"
#include "workflow/auto_booking.h"
#include "workflow/order_policy.h"
#include "workflow/patients.h"
#include "workflow/portal_session.h"
#include "workflow/release_schedule.h"
#include "workflow/watch_list.h"

namespace quilora::book {

namespace {

using SlotPtr = std::shared_ptr<const ScheduleSlot>;

// Why a slot in this state cannot be booked; none for the states that can.
std::optional<std::string> StateRefusal(int state) {
    OrderDecision d = DecideOrder(state);
    if (d.action == OrderAction::Refuse || d.action == OrderAction::Nothing)
        return std::move(d.refusal);
    return std::nullopt;
}

// One run of one command: the window's session, catalogue and engine.
class BookRun : public AutoBookingHost {
public:
    BookRun(const BookOptions& options, BookOutput& output, const StopSignals& stop)
        : o_(options), out_(output), stop_(stop),
          settings_(ReadBookSettings(options.configPath, options.passwordFile)),
          session_(http_, settings_.hosts) {
        session_.SetAnswerObserver([this](const FetchedPage& page) { order_.Observe(page); });
        http_.SetCancelFlag(stop_.Flag());
        order_.SetExternalStop([this] { return stop_.Requested(); });
    }

    int Run() {
        switch (o_.command) {
        case Command::SignIn:
            return SignIn() ? kExitDone : kExitRefused;
        case Command::Patients:
            return Patients();
        case Command::Schedule:
            return Schedule();
        case Command::Book:
        case Command::Watch:
            return o_.saved ? WatchSaved() : BookOrWatch();
        case Command::History:
            return History();
        case Command::NotifyTest: // runs without a sign-in, see RunCommand
            break;
        }
        return kExitUsage;
    }

    // AutoBookingHost
    int MemberId() override { return patient_.cardNo; }
    std::string PatientName() override { return patient_.name; }
    void Log(std::string_view line) override { out_.Log(line); }
    void TimerChanged(bool) override {}
    void StatusChanged(const AutoBookingStatus& status) override {
        out_.Status(status, AutoBooking::Clock::now());
        notify_.Status(status);
    }
    void SlotPolled(std::size_t index, const PollResult& poll) override {
        if (!saved_ || index >= savedIndexes_.size())
            return;
        const std::size_t at = savedIndexes_[index];
        try {
            saved_->Report(at, watch_state::kWaiting, saved_->Slots()[at].polls + 1,
                           std::string(PollAnswerText(poll.answer)) + " " +
                               std::to_string(poll.took.count()) + " ms");
        } catch (const std::exception& e) {
            // The list's table is the window's to show; polling goes on without it.
            out_.Log(std::string("自动预约列表未能更新：") + e.what());
        }
    }

private:
    void OpenCatalogue() {
        connection_.SetOnOpened(&catalogue::PrepareCatalogue);
        try {
            // Relative SQLite paths are taken from the folder of Config.ini, as in the window.
            connection_.SetConnectionString(
                settings_.connect,
                std::filesystem::absolute(platform::PathFromUtf8(settings_.configPath)).parent_path());
            connection_.Open();
        } catch (const std::exception& e) {
            throw UsageError(std::string("连接数据库失败！（") + e.what() + "）");
        }
        // Attempts cut short by a crash, before this run books anything.
        record_.SettleInterrupted();
        order_.SetRecord(&record_, settings_.cardNo, BookingOrigin::CommandLine);
    }

    int History() {
        OpenCatalogue();
        for (const RecordRow& row : record_.Newest(o_.limit))
            out_.Record(row);
        return kExitDone;
    }

    bool SignIn() {
        if (!session_.SignIn(settings_.cardNo, settings_.password)) {
            out_.Refused("登录失败");
            notify_.SignInRefused(settings_.cardNo);
            return false;
        }
        out_.SignedIn(settings_.cardNo);
        return true;
    }

    // As the window after its sign-in: the cache, fetched when it is empty.
    std::vector<PatientEntry> LoadPatients(bool refresh) {
        std::vector<PatientEntry> cached = CachedPatients(query_, settings_.cardNo);
        if (!cached.empty() && !refresh)
            return cached;
        // The cache is replaced only once the page is in: a fetch that gives up keeps it.
        const std::vector<PatientRecord> fetched = session_.Patients();
        ReplaceCachedPatients(connection_, command_, settings_.cardNo, fetched);
        out_.PatientsFetched(fetched.size());
        return CachedPatients(query_, settings_.cardNo);
    }

    int Patients() {
        OpenCatalogue();
        if (!SignIn())
            return kExitRefused;
        out_.Patients(LoadPatients(o_.refresh));
        return kExitDone;
    }

    // The doctor's slots as the window lists them after a refresh: by date.
    std::vector<ScheduleSlot> ReadSchedule(const DoctorChoice& d) {
        std::vector<ScheduleSlot> listed;
        session_.Schedule(d.hospitalId, d.doctorId, d.doctorText, d.hospitalName, nullptr,
                          [&listed](ScheduleSlot s) { listed.push_back(std::move(s)); });
        std::stable_sort(listed.begin(), listed.end(),
                         [](const ScheduleSlot& a, const ScheduleSlot& b) { return a.date < b.date; });
        return listed;
    }

    int Schedule() {
        OpenCatalogue();
        // The catalogue first: an unknown doctor costs no request.
        const DoctorChoice doctor = LookUpDoctor(query_, *o_.doctorId, o_.hospitalId);
        if (!SignIn())
            return kExitRefused;
        out_.ScheduleHeading(doctor.doctorText, doctor.hospitalName);
        for (const ScheduleSlot& s : ReadSchedule(doctor))
            out_.Slot(s);
        return kExitDone;
    }

    // Throws UsageError for a clinic number the account does not have.
    bool ChoosePatient(const std::vector<PatientEntry>& patients) {
        if (patients.empty()) {
            out_.Refused("此账户没有就诊人，无法预约。");
            return false;
        }
        if (!o_.patient) {
            patient_ = patients.front();
            return true;
        }
        const auto it = std::find_if(patients.begin(), patients.end(),
                                     [this](const PatientEntry& p) { return p.cardNo == *o_.patient; });
        if (it == patients.end())
            throw UsageError("此账户没有就诊卡号为 " + std::to_string(*o_.patient) +
                             " 的就诊人（可用 patients --refresh 重新获取）");
        patient_ = *it;
        return true;
    }

    int BookOrWatch() {
        OpenCatalogue();
        // The catalogue first: an unknown doctor costs no request.
        std::vector<DoctorChoice> doctors;
        for (const SlotTarget& t : o_.targets)
            if (std::none_of(doctors.begin(), doctors.end(),
                             [&t](const DoctorChoice& d) { return d.doctorId == t.doctorId; }))
                doctors.push_back(LookUpDoctor(query_, t.doctorId, o_.hospitalId));
        // The window's order: sign-in, its patients, the schedule, then the order.
        if (!SignIn() || !ChoosePatient(LoadPatients(false)))
            return kExitRefused;
        std::vector<std::vector<ScheduleSlot>> schedules;
        for (const DoctorChoice& d : doctors)
            schedules.push_back(ReadSchedule(d));
        std::vector<SlotPtr> chosen;
        for (const SlotTarget& t : o_.targets) {
            const auto doctor = std::find_if(doctors.begin(), doctors.end(), [&t](const DoctorChoice& d) {
                return d.doctorId == t.doctorId;
            });
            const auto& schedule = schedules[static_cast<std::size_t>(doctor - doctors.begin())];
            const auto it = std::find_if(schedule.begin(), schedule.end(),
                                         [&t](const ScheduleSlot& s) { return s.sn == t.sn; });
            if (it == schedule.end())
                throw UsageError("医生 " + std::to_string(t.doctorId) + " 的排班中没有时段 " +
                                 std::to_string(t.sn));
            if (const auto refusal = StateRefusal(it->state)) {
                out_.Refused(o_.targets.size() > 1 ? "时段 " + std::to_string(t.sn) + "：" + *refusal
                                                   : *refusal);
                return kExitRefused;
            }
            chosen.push_back(std::make_shared<const ScheduleSlot>(*it));
        }

        if (o_.command == Command::Book) {
            const SlotPtr& slot = chosen.front();
            if (slot->state == 4)
                return BookNow(slot);
            if (!o_.wait) {
                out_.NotReleased(*slot);
                return kExitRefused;
            }
        }
        return Watch(chosen);
    }

    // The window's saved list, headless: its armed slots, each for its own
    // patient, every poll and the end kept in the list's table.
    int WatchSaved() {
        OpenCatalogue();
        WatchList list(connection_, settings_.cardNo);
        list.Load(TodayText());
        const std::vector<std::size_t> armed = list.ArmedIndexes();
        if (armed.empty()) {
            out_.Refused(
                "自动预约列表中没有已开始且日期未过的时段（在窗口的“自动预约列表”页点“开始自动预约”）。");
            return kExitRefused;
        }
        if (!SignIn())
            return kExitRefused;
        std::vector<SlotPtr> watchedSlots;
        std::vector<std::optional<PatientEntry>> patients;
        std::optional<std::chrono::system_clock::time_point> release;
        const auto portalNow = order_.ServerClock().PortalTime(std::chrono::system_clock::now());
        for (const std::size_t i : armed) {
            const WatchedSlot& w = list.Slots()[i];
            watchedSlots.push_back(std::make_shared<const ScheduleSlot>(w.slot));
            patients.emplace_back(w.patient);
            // One engine, one schedule: the earliest release of the list places the polls.
            if (!w.releaseAt.empty())
                if (const auto at = ReleaseMoment(w.releaseAt, portalNow); at && (!release || *at < *release))
                    release = at;
        }
        patient_ = list.Slots()[armed.front()].patient;
        saved_ = &list;
        savedIndexes_ = armed;
        const int code = Watch(watchedSlots, patients, release);
        saved_ = nullptr;
        return code;
    }

    // The list's rows after the watch ended (a stop leaves them as they were).
    void SettleSaved(const AutoBooking::TickResult& tick, const std::vector<SlotPtr>& watched) {
        if (!saved_ || tick.end != AutoBooking::TickEnd::Booked)
            return;
        const auto it = std::find(watched.begin(), watched.end(), tick.slot);
        const std::size_t opened = static_cast<std::size_t>(it - watched.begin());
        try {
            for (std::size_t k = 0; k < watched.size(); ++k) {
                const std::size_t at = savedIndexes_[k];
                const BookingOutcome outcome = tick.booking.outcome;
                if (k == opened)
                    saved_->Settle(at, outcome == BookingOutcome::Booked       ? watch_state::kBooked
                                       : outcome == BookingOutcome::Unanswered ? watch_state::kUnconfirmed
                                                                               : watch_state::kRefused);
                else if (outcome == BookingOutcome::Booked)
                    saved_->Settle(at, watch_state::kStopped);
                else if (outcome == BookingOutcome::Unanswered)
                    saved_->Settle(at, saved_->Slots()[at].state); // everything stops, unarmed
            }
        } catch (const std::exception& e) {
            out_.Log(std::string("自动预约列表未能更新：") + e.what());
        }
    }

    int BookNow(const SlotPtr& slot) {
        order_.StartOrder(slot);
        order_.Confirm();
        return Outcome(order_.BookNow(session_), slot->sn);
    }

    int Watch(const std::vector<SlotPtr>& watched, std::vector<std::optional<PatientEntry>> patients = {},
              std::optional<std::chrono::system_clock::time_point> release = std::nullopt) {
        std::vector<int> sns;
        for (const SlotPtr& s : watched)
            sns.push_back(s->sn);
        out_.Watching(patient_.name, sns);
        if (o_.releaseAt)
            release = ReleaseMoment(*o_.releaseAt,
                                    order_.ServerClock().PortalTime(std::chrono::system_clock::now()));
        if (release)
            order_.SetRelease(release);
        order_.Watch(watched, std::move(patients));
        const AutoBooking::TickResult tick = RunTicks(order_, session_, [this] { return stop_.Requested(); });
        SettleSaved(tick, watched);
        if (tick.end == AutoBooking::TickEnd::Stopped) {
            out_.Stopped();
            return kExitStopped;
        }
        return Outcome(tick.booking, tick.slot->sn);
    }

    // The outcome as the portal gave it; a stop that came while the
    // registration was under way ends with 130 once it is told, unless it booked.
    int Outcome(const BookingResult& r, int sn) {
        int code = kExitRefused;
        switch (r.outcome) {
        case BookingOutcome::Booked:
            out_.Booked(sn, r.message);
            return kExitDone;
        case BookingOutcome::Unanswered:
            out_.Unanswered(r.message);
            code = kExitUnreachable;
            break;
        case BookingOutcome::Refused:
        case BookingOutcome::NoNumber:
            out_.Refused(r.message);
            break;
        }
        return stop_.Requested() ? int(kExitStopped) : code;
    }

    const BookOptions& o_;
    BookOutput& out_;
    const StopSignals& stop_;
    BookSettings settings_;
    db::Connection connection_;
    db::Query query_{connection_};
    db::Command command_{connection_};
    HttpClient http_;
    PortalSession session_;
    PatientEntry patient_;
    BookingRecord record_{connection_};
    AutoBooking order_{*this};
    // watch --saved: the list and the list index of each watched slot.
    WatchList* saved_ = nullptr;
    std::vector<std::size_t> savedIndexes_;
    BookNotify notify_{o_, settings_.configPath, out_};
};

} // namespace

int RunCommand(const BookOptions& options, BookOutput& output) {
    const auto fail = [&output](const std::exception& e, int code) {
        output.Error(e.what(), code);
        return code;
    };
    // Installed for every command: a sign-in or a schedule wait ends at once on Ctrl+C too.
    const StopSignals stop;
    try {
        BookOptions checked = options;
        CheckOptions(checked);
        if (checked.command == Command::NotifyTest)
            return RunNotifyTest(checked, output);
        BookRun run(checked, output, stop);
        return run.Run();
    } catch (const UsageError& e) {
        return fail(e, kExitUsage);
    } catch (const FetchError& e) {
        if (e.Failure() == FetchFailure::Cancelled || stop.Requested()) {
            output.Stopped();
            return kExitStopped;
        }
        return fail(e, kExitUnreachable);
    } catch (const std::exception& e) {
        return fail(e, kExitRefused);
    }
}

} // namespace quilora::book
