#pragma once
// The demo portal: an HTTP server on two loopback ports (the main host and the
// script host) that serves the synthetic catalogue, signs accounts in, keeps
// slot states and bookings, injects faults and logs every request.
//
//   quilora::portal::PortalOptions o;
//   o.port = o.scriptPort = 0;               // ephemeral
//   quilora::portal::DemoPortal portal(o);
//   portal.Start();
//   auto open = portal.FindSlot(quilora::portal::state::kOpen);
//   ... requests to portal.BaseUrl() + "/Doctor.aspx?id=" ...
//   portal.Stop();                           // also done by the destructor
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "portal/accounts.h"
#include "portal/catalogue.h"
#include "portal/portal_options.h"
#include "portal/request_log.h"

namespace quilora::portal {

// A slot with the doctor it belongs to.
struct SlotOfDoctor {
    Doctor doctor;
    Slot slot;
};

struct Booking {
    int numberId = 0;
    int sn = 0;
    std::string cardNumber;
    int clinicNumber = 0;
};

class DemoPortal {
public:
    // Builds the catalogue and reads the accounts file; throws std::runtime_error
    // on a bad accounts file, log file or charset.
    explicit DemoPortal(PortalOptions options);
    ~DemoPortal();
    DemoPortal(const DemoPortal&) = delete;
    DemoPortal& operator=(const DemoPortal&) = delete;

    // Listens on 127.0.0.1 on both ports; throws std::runtime_error when a port
    // cannot be bound.
    void Start();
    // Ends stalls and waits, closes the ports and joins the server threads.
    void Stop();

    int Port() const;
    int ScriptPort() const;
    std::string BaseUrl() const;   // "http://127.0.0.1:PORT"
    std::string ScriptUrl() const; // "http://127.0.0.1:SCRIPT_PORT"

    const PortalOptions& Options() const;
    const Catalogue& GetCatalogue() const;
    const Account& DemoAccount() const;
    const std::vector<Account>& Accounts() const; // the demo account first

    // The doctor's slots with their states as the doctor page shows them now.
    std::vector<Slot> SlotsOf(int doctorId) const;
    // The first doctor (in catalogue order) with a slot in this state now.
    std::optional<SlotOfDoctor> FindSlot(int state) const;
    // Indexes of the numbers of a slot still free now.
    std::vector<int> FreeNumbers(int sn) const;
    // A not-yet-released slot: the first `polls` number-list requests answer
    // "|未放号|", the next one opens it (0: never by polls).
    void ReleaseAfterPolls(int sn, int polls);
    // ... or the first one arriving at or after `when`, on the portal clock.
    void ReleaseAt(int sn, std::chrono::system_clock::time_point when);
    int PollsOf(int sn) const;
    std::vector<Booking> Bookings() const;

    // The portal clock: this machine's clock moved by Options().clockOffset.
    std::chrono::system_clock::time_point Now() const;
    // Forgets every session, as a restart of the portal does.
    void ForgetSessions();

    std::vector<RequestLogEntry> RequestLog() const;
    void ClearRequestLog();

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace quilora::portal
