#pragma once
// Everything a demo portal is built from; the command line fills the same struct.
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "portal/accounts.h"
#include "portal/calendar.h"
#include "portal/catalogue.h"
#include "portal/faults.h"

namespace quilora::portal {

// A fault of the registration requests, as an overloaded portal gives them:
// before the number is taken (nothing booked) or after it (booked, but the
// answer is lost).
struct RegisterFault {
    // Mixed: 500, drop or empty, drawn for each registration.
    enum class Kind { None, Error500, Busy503, Drop, Empty, Slow, Mixed };
    Kind kind = Kind::None;
    bool afterTaking = true;
    int count = 0;     // the first COUNT registrations; 0: every one
    int slowMs = 3000; // how long a slow registration keeps its answer
    double rate = 1;   // the share of those registrations that get it (seeded)
};

// What the Date header of every answer says.
enum class DateMode {
    Normal,    // the portal clock
    Frozen,    // the moment the portal started, for ever
    HalfSpeed, // a clock running at half speed from the start
    FarFuture, // 31 Dec 9999
    Epoch,     // 1 Jan 1970
};

// "500:after", "drop:before:2", ... (KIND 500, 503, drop, empty or slow; WHEN
// before or after; COUNT optional). nullopt when the text is none of these.
std::optional<RegisterFault> ParseRegisterFault(const std::string& text);

struct PortalOptions {
    int port = 18080;       // main host; 0 picks a free port
    int scriptPort = 8010;  // script host; 0 picks a free port
    std::uint64_t seed = 1; // catalogue and faults
    Scale scale = Scale::Demo;
    std::optional<Date> firstDay;  // first day with slots; today when unset
    std::string accountsFile;      // besides the demo account
    std::vector<Account> accounts; // more accounts, for in-process use
    std::string charset = "gbk";   // of answers and query values: gbk or utf-8
    // A not-yet-released slot opens after this many polls of its number list
    // (0: not by polls), or at releaseAt (on the portal clock), whichever comes first.
    int releaseAfterPolls = 5;
    std::optional<std::chrono::system_clock::time_point> releaseAt;
    // The first this many number-list answers of a slot after its release are
    // HTTP 503 "Server Too Busy", as a real release rush gets.
    int busyAfterRelease = 0;
    // The Nth number-list request (any state) finds every session forgotten, as
    // after a portal restart; once only. 0: never.
    int forgetSessionsAfterPolls = 0;
    // How far the portal clock runs ahead of this machine's (behind when
    // negative): releases, the Date header and the request log go by it.
    std::chrono::milliseconds clockOffset{0};
    FaultOptions faults;
    RegisterFault registerFault;
    // Paths (lower case) answered with this status and an error page, always.
    std::map<std::string, int> errorPaths;
    DateMode dateMode = DateMode::Normal;
    std::string logFile;
    int threads = 16; // per host
};

} // namespace quilora::portal
