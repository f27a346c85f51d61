#pragma once
// One signed-in conversation with the portal: each operation builds its address
// with a fresh stamp, fetches it, normalises the answer as its reader expects
// and reads it, in one place. The window and the command-line tools share it.
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/fetcher.h"
#include "net/portal_address.h"
#include "workflow/booking.h"
#include "workflow/patients.h"
#include "workflow/schedule_slot.h"
#include "workflow/slot_poll.h"

namespace quilora {

// One poll of a slot's number list.
struct PollResult {
    PollAnswer answer = PollAnswer::ServerTrouble;
    std::string line; // the log line: the normalised answer, or the failure
    long status = 0;  // 0 when no answer came
    std::chrono::milliseconds took{0};
    // The exchange's times and the answer's Date header, when an answer came.
    std::optional<FetchedPage> timing;
};

class PortalSession {
public:
    PortalSession(HttpClient& http, PortalHosts hosts);

    HttpClient& Http() { return http_; }
    const PortalHosts& Hosts() const { return hosts_; }
    // Sees every answer but the polls' (whose timing the poll result carries):
    // their Date headers keep the portal's clock.
    void SetAnswerObserver(std::function<void(const FetchedPage&)> observer) {
        observer_ = std::move(observer);
    }

    // The sign-in: true unless the answer holds "错误". A success keeps the card
    // number and the password for signing in again when the portal forgets the session.
    // An error page (status 400 or above) or no answer is the server's trouble,
    // never the portal's word: tried again, then FetchError.
    bool SignIn(const std::string& cardNo, const std::string& password,
                FetchMode mode = FetchMode::Interactive);
    // Signs in again with the last successful card number and password; false
    // when there were none or the portal refused them.
    bool SignInAgain(FetchMode mode);

    std::vector<PatientRecord> Patients();
    // The doctor's slots, in page order (see ScanSchedule); pageIn runs once the
    // page has arrived, before the first slot is read.
    std::size_t Schedule(int hospitalId, int doctorId, std::string_view doctorName,
                         std::string_view hospitalName, const std::function<void()>& pageIn,
                         const std::function<void(ScheduleSlot)>& onSlot);
    // One short attempt; never throws for the portal's trouble.
    PollResult Poll(const ScheduleSlot& slot);
    // The booking transaction, retrying while the portal is in trouble;
    // stopRequested is read just before the registration goes out.
    BookingResult Book(const SlotRef& slot, const std::function<int()>& memberId,
                       const std::function<void(std::string_view)>& log,
                       const std::function<bool()>& stopRequested = nullptr);

private:
    FetchedPage Observed(FetchedPage page) const;

    HttpClient& http_;
    std::function<void(const FetchedPage&)> observer_;
    PortalHosts hosts_;
    std::string cardNo_;
    std::string password_;
};

} // namespace quilora
