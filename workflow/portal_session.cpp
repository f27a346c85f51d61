#include "workflow/portal_session.h"

#include <utility>

#include "common/errors.h"
#include "common/stamp.h"
#include "workflow/schedule.h"

namespace quilora {

namespace {

using SteadyClock = std::chrono::steady_clock;

std::chrono::milliseconds Since(SteadyClock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start);
}

} // namespace

PortalSession::PortalSession(HttpClient& http, PortalHosts hosts) : http_(http), hosts_(std::move(hosts)) {}

FetchedPage PortalSession::Observed(FetchedPage page) const {
    if (observer_)
        observer_(page);
    return page;
}

bool PortalSession::SignIn(const std::string& cardNo, const std::string& password, FetchMode mode) {
    // The sign-in answer is searched as it comes, not normalised.
    const std::string answer = Observed(Fetch(http_, SignInAddress(hosts_, cardNo, password, EpochMillis()),
                                              mode, AnswerRule::NoErrorStatus))
                                   .text;
    if (answer.find("错误") != std::string::npos)
        return false;
    cardNo_ = cardNo;
    password_ = password;
    return true;
}

bool PortalSession::SignInAgain(FetchMode mode) {
    if (cardNo_.empty())
        return false;
    const std::string card = cardNo_, password = password_;
    return SignIn(card, password, mode);
}

std::vector<PatientRecord> PortalSession::Patients() {
    // An error page is no patient list: it must not empty the account's cache.
    return ReadPatients(Observed(Fetch(http_, PatientsAddress(hosts_, EpochMillis()), FetchMode::Interactive,
                                       AnswerRule::NoErrorStatus))
                            .text);
}

std::size_t PortalSession::Schedule(int hospitalId, int doctorId, std::string_view doctorName,
                                    std::string_view hospitalName, const std::function<void()>& pageIn,
                                    const std::function<void(ScheduleSlot)>& onSlot) {
    const std::string page =
        Observed(ReadPage(http_, DoctorPageAddress(hosts_, hospitalId, doctorId, EpochMillis()),
                          FetchMode::Interactive, AnswerRule::NoErrorStatus))
            .text;
    if (pageIn)
        pageIn();
    return ScanSchedule(page, doctorName, hospitalName, [&](ScheduleSlot slot) {
        slot.doctorId = doctorId;
        slot.hospitalId = hospitalId;
        onSlot(std::move(slot));
    });
}

PollResult PortalSession::Poll(const ScheduleSlot& slot) {
    PollResult r;
    const auto start = SteadyClock::now();
    try {
        FetchedPage page =
            ReadPage(http_, SlotPollAddress(hosts_, slot.Ref(), slot.state, EpochMillis()), FetchMode::Poll);
        r.took = Since(start);
        r.status = page.status;
        r.answer = ReadPollAnswer(r.status, page.text);
        r.line = LogLine(page.text);
        page.text.clear();
        r.timing = std::move(page);
    } catch (const FetchError& e) {
        // A busy or silent portal costs a line, not the auto-booking.
        r.took = Since(start);
        r.answer = PollAnswer::ServerTrouble;
        r.status = e.Status();
        r.line = FailedPollLine(e.what());
    }
    return r;
}

BookingResult PortalSession::Book(const SlotRef& slot, const std::function<int()>& memberId,
                                  const std::function<void(std::string_view)>& log,
                                  const std::function<bool()>& stopRequested) {
    BookingIo io;
    io.fetch = [this](const PortalAddress& a, AnswerRule rule) {
        return Observed(Fetch(http_, a, FetchMode::Booking, rule));
    };
    io.log = log;
    io.memberId = memberId;
    io.stopRequested = stopRequested;
    return RunBooking(hosts_, slot, io);
}

} // namespace quilora
