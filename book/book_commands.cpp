#include "book/book_commands.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <optional>

#include "book/book_settings.h"
#include "book/doctor_lookup.h"
#include "book/stop_signal.h"
#include "book/watch_loop.h"
#include "catalogue/schema.h"
#include "common/database.h"
#include "common/errors.h"
#include "net/fetcher.h"
#include "workflow/auto_booking.h"
#include "workflow/order_policy.h"
#include "workflow/patients.h"
#include "workflow/portal_session.h"

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
            return BookOrWatch();
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
    }

private:
    void OpenCatalogue() {
        connection_.SetOnOpened(&catalogue::ApplySchemaIfEmpty);
        try {
            // Relative SQLite paths are taken from the folder of Config.ini, as in the window.
            connection_.SetConnectionString(settings_.connect,
                                            std::filesystem::absolute(settings_.configPath).parent_path());
            connection_.Open();
        } catch (const std::exception& e) {
            throw UsageError(std::string("连接数据库失败！（") + e.what() + "）");
        }
    }

    bool SignIn() {
        if (!session_.SignIn(settings_.cardNo, settings_.password)) {
            out_.Refused("登录失败");
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
        const DoctorChoice doctor = LookUpDoctor(query_, o_.doctorId, o_.hospitalId);
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
        const DoctorChoice doctor = LookUpDoctor(query_, o_.doctorId, o_.hospitalId);
        // The window's order: sign-in, its patients, the schedule, then the order.
        if (!SignIn() || !ChoosePatient(LoadPatients(false)))
            return kExitRefused;
        const std::vector<ScheduleSlot> schedule = ReadSchedule(doctor);
        std::vector<SlotPtr> chosen;
        for (const int sn : o_.sns) {
            const auto it = std::find_if(schedule.begin(), schedule.end(),
                                         [sn](const ScheduleSlot& s) { return s.sn == sn; });
            if (it == schedule.end())
                throw UsageError("医生 " + std::to_string(o_.doctorId) + " 的排班中没有时段 " +
                                 std::to_string(sn));
            if (const auto refusal = StateRefusal(it->state)) {
                out_.Refused(o_.sns.size() > 1 ? "时段 " + std::to_string(sn) + "：" + *refusal : *refusal);
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

    int BookNow(const SlotPtr& slot) {
        order_.StartOrder(slot);
        order_.Confirm();
        return Outcome(order_.BookNow(session_), slot->sn);
    }

    int Watch(const std::vector<SlotPtr>& watched) {
        std::vector<int> sns;
        for (const SlotPtr& s : watched)
            sns.push_back(s->sn);
        out_.Watching(patient_.name, sns);
        if (o_.releaseAt)
            order_.SetRelease(ReleaseMoment(
                *o_.releaseAt, order_.ServerClock().PortalTime(std::chrono::system_clock::now())));
        order_.Watch(watched);
        const AutoBooking::TickResult tick = RunTicks(order_, session_, [this] { return stop_.Requested(); });
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
    AutoBooking order_{*this};
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
        CheckOptions(options);
        BookRun run(options, output, stop);
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
