#pragma once
// Everything a demo portal is built from; the command line fills the same struct.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "portal/accounts.h"
#include "portal/calendar.h"
#include "portal/catalogue.h"
#include "portal/faults.h"

namespace quilora::portal {

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
    std::string logFile;
    int threads = 16; // per host
};

} // namespace quilora::portal
