#include "portal/portal_cli.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "portal/charset.h"

namespace quilora::portal {

std::optional<std::chrono::system_clock::time_point>
ParseReleaseTime(std::string_view text, std::chrono::system_clock::time_point now) {
    const std::string s(text);
    char tail = 0;
    if (!s.empty() && s.front() == '+') {
        long seconds = -1;
        if (std::sscanf(s.c_str(), "+%ld%c", &seconds, &tail) != 1 || seconds < 0)
            return std::nullopt;
        return now + std::chrono::seconds(seconds);
    }
    int h = -1, m = -1, sec = 0;
    const int n = std::sscanf(s.c_str(), "%2d:%2d:%2d%c", &h, &m, &sec, &tail);
    if ((n != 2 && n != 3) || h < 0 || h > 23 || m < 0 || m > 59 || sec < 0 || sec > 59)
        return std::nullopt;
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    local.tm_hour = h;
    local.tm_min = m;
    local.tm_sec = sec;
    local.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&local));
}

CliResult ParseCommandLine(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
    CliResult result;
    PortalOptions& o = result.options;
    CLI::App app{"quilora-portal: a demo appointment portal on loopback, for trying and testing the client."};
    app.footer(std::string(AccountsFileHelp()) + "\nDemo account: card number " + DemoAccount().cardNumber +
               ", password " + DemoAccount().password + ".\nStop with Ctrl+C (SIGINT) or SIGTERM.");
    app.add_option("--port", o.port, "Main host port on 127.0.0.1 (0: any free port)")
        ->capture_default_str()
        ->check(CLI::Range(0, 65535));
    app.add_option("--script-port", o.scriptPort, "Script host port on 127.0.0.1 (0: any free port)")
        ->capture_default_str()
        ->check(CLI::Range(0, 65535));
    app.add_option("--seed", o.seed, "Seed of the catalogue and of the faults")->capture_default_str();
    std::string scale = "demo";
    app.add_option("--scale", scale, "Catalogue size: demo or national")
        ->capture_default_str()
        ->check(CLI::IsMember({"demo", "national"}));
    std::string firstDay;
    app.add_option("--first-day", firstDay, "First day with slots, YYYY-MM-DD (default: today)");
    app.add_option("--accounts", o.accountsFile, "Accounts file (format below)")->check(CLI::ExistingFile);
    app.add_option("--charset", o.charset, "Charset of answers and query values: gbk or utf-8")
        ->capture_default_str()
        ->check(CLI::IsMember({"gbk", "utf-8"}, CLI::ignore_case));
    app.add_option("--release-after-polls", o.releaseAfterPolls,
                   "A not-yet-released slot opens after N polls of its number list (0: never by polls)")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    std::string releaseAt;
    app.add_option("--release-at", releaseAt,
                   "Not-yet-released slots open at TIME of the portal clock: HH:MM[:SS] today, or "
                   "+SECONDS from start");
    app.add_option("--busy-after-release", o.busyAfterRelease,
                   "The first N number-list answers of a slot after its release are HTTP 503 "
                   "Server Too Busy")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    app.add_option("--forget-sessions-after-polls", o.forgetSessionsAfterPolls,
                   "At the Nth number-list request forget every session, as a restart does; once "
                   "(0: never)")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);
    constexpr long long kYearMs = 366LL * 24 * 3600 * 1000;
    long long clockOffsetMs = 0;
    app.add_option("--clock-offset", clockOffsetMs,
                   "Milliseconds the portal clock runs ahead of this machine's (negative: behind); "
                   "used by releases, the Date header and the log")
        ->capture_default_str()
        ->check(CLI::Range(-kYearMs, kYearMs));
    app.add_option("--latency", o.faults.latencyMs, "Milliseconds added to every answer")
        ->capture_default_str()
        ->check(CLI::Range(0, 600000));
    app.add_option("--empty-body-rate", o.faults.emptyBodyRate, "Share of answers with an empty body")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--error-rate", o.faults.errorRate,
                   "Share of answers that are HTTP 500 with an error page")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--drop-rate", o.faults.dropRate,
                   "Share of requests whose connection closes without an answer")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--stall-rate", o.faults.stallRate,
                   "Share of requests left without an answer for --stall-ms")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--stall-ms", o.faults.stallMs, "How long a stalled request waits")
        ->capture_default_str()
        ->check(CLI::Range(0, 3600000));
    std::string registerFault;
    app.add_option("--register-fault", registerFault,
                   "KIND:WHEN[:COUNT]: registrations get this fault. KIND 500 (error page), 503 (Server Too "
                   "Busy, before only), drop (connection closed), empty (empty body), slow (answer held "
                   "--register-slow-ms) or mixed (500, drop or empty, drawn each time); WHEN before or after "
                   "the number is taken; COUNT the first COUNT registrations (default: every one)");
    double registerFaultRate = 1;
    app.add_option("--register-fault-rate", registerFaultRate,
                   "The share of those registrations that get the fault (seeded)")
        ->capture_default_str()
        ->check(CLI::Range(0.0, 1.0));
    app.add_option("--register-slow-ms", o.registerFault.slowMs,
                   "How long a slow registration keeps its answer")
        ->capture_default_str()
        ->check(CLI::Range(0, 600000));
    std::vector<std::string> errorPaths;
    app.add_option("--error-path", errorPaths,
                   "PATH[:STATUS]: every request of this path (e.g. /Action/CardLogin.ashx) is answered "
                   "with STATUS (default 500) and an error page; repeatable");
    std::string dateMode = "normal";
    app.add_option("--date", dateMode,
                   "What the Date header says: normal (the portal clock), frozen (the start time, for "
                   "ever), half-speed (a clock at half speed from the start), far-future (year 9999) or "
                   "1970")
        ->capture_default_str()
        ->check(CLI::IsMember({"normal", "frozen", "half-speed", "far-future", "1970"}));
    app.add_option("--log", o.logFile,
                   "Append one JSON line per request to FILE (time: arrival, in ms on the portal clock)");
    app.add_option("--threads", o.threads, "Worker threads per host")
        ->capture_default_str()
        ->check(CLI::Range(2, 256));

    try {
        app.parse(argc, argv);
        o.scale = scale == "national" ? Scale::National : Scale::Demo;
        for (char& ch : o.charset)
            ch = char(std::tolower(static_cast<unsigned char>(ch)));
        if (!firstDay.empty()) {
            o.firstDay = ParseDate(firstDay);
            if (!o.firstDay)
                throw CLI::ValidationError("--first-day", "expected YYYY-MM-DD, got '" + firstDay + "'");
        }
        o.clockOffset = std::chrono::milliseconds(clockOffsetMs);
        if (!releaseAt.empty()) {
            o.releaseAt = ParseReleaseTime(releaseAt, std::chrono::system_clock::now() + o.clockOffset);
            if (!o.releaseAt)
                throw CLI::ValidationError("--release-at",
                                           "expected HH:MM[:SS] or +SECONDS, got '" + releaseAt + "'");
        }
        if (!registerFault.empty()) {
            const int slowMs = o.registerFault.slowMs;
            const auto parsed = ParseRegisterFault(registerFault);
            if (!parsed)
                throw CLI::ValidationError("--register-fault",
                                           "expected KIND:WHEN[:COUNT], got '" + registerFault + "'");
            o.registerFault = *parsed;
            o.registerFault.slowMs = slowMs;
            o.registerFault.rate = registerFaultRate;
        }
        for (const std::string& given : errorPaths) {
            const std::size_t colon = given.rfind(':');
            std::string path = given;
            int status = 500;
            if (colon != std::string::npos) {
                path = given.substr(0, colon);
                status = std::atoi(given.c_str() + colon + 1);
            }
            if (path.empty() || path.front() != '/' || status < 400 || status > 599)
                throw CLI::ValidationError("--error-path", "expected PATH[:STATUS], got '" + given + "'");
            for (char& ch : path)
                ch = char(std::tolower(static_cast<unsigned char>(ch)));
            o.errorPaths[path] = status;
        }
        o.dateMode = dateMode == "frozen"       ? DateMode::Frozen
                     : dateMode == "half-speed" ? DateMode::HalfSpeed
                     : dateMode == "far-future" ? DateMode::FarFuture
                     : dateMode == "1970"       ? DateMode::Epoch
                                                : DateMode::Normal;
        const FaultOptions& f = o.faults;
        if (f.dropRate + f.stallRate + f.errorRate + f.emptyBodyRate > 1.0 + 1e-9)
            throw CLI::ValidationError("fault rates", "--drop-rate, --stall-rate, --error-rate and "
                                                      "--empty-body-rate add up to more than 1");
    } catch (const CLI::ParseError& e) {
        result.exitCode = app.exit(e, out, err);
    }
    return result;
}

} // namespace quilora::portal
