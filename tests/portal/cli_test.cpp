// The command line, and the program's start and clean stop.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <sstream>
#include <thread>
#include <tuple>
#include <vector>

#include "portal/demo_portal.h"
#include "portal/portal_cli.h"

#ifndef _WIN32
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace quilora::portal {
namespace {

struct Parsed {
    CliResult result;
    std::string out, err;
};

Parsed Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "quilora-portal");
    std::ostringstream out, err;
    Parsed p{ParseCommandLine(int(args.size()), args.data(), out, err), {}, {}};
    p.out = out.str();
    p.err = err.str();
    return p;
}

TEST(Cli, DefaultsAndGivenValues) {
    const Parsed defaults = Parse({});
    EXPECT_FALSE(defaults.result.exitCode);
    EXPECT_EQ(defaults.result.options.port, 18080);
    EXPECT_EQ(defaults.result.options.scriptPort, 8010);
    EXPECT_EQ(defaults.result.options.charset, "gbk");
    EXPECT_EQ(defaults.result.options.scale, Scale::Demo);
    EXPECT_EQ(defaults.result.options.busyAfterRelease, 0);
    EXPECT_EQ(defaults.result.options.forgetSessionsAfterPolls, 0);
    EXPECT_EQ(defaults.result.options.clockOffset, std::chrono::milliseconds(0));

    const Parsed p = Parse({"--port",
                            "0",
                            "--script-port",
                            "9001",
                            "--scale",
                            "national",
                            "--charset",
                            "UTF-8",
                            "--seed",
                            "42",
                            "--release-after-polls",
                            "0",
                            "--release-at",
                            "+30",
                            "--latency",
                            "20",
                            "--error-rate",
                            "0.25",
                            "--drop-rate",
                            "0.25",
                            "--first-day",
                            "2030-03-04",
                            "--busy-after-release",
                            "3",
                            "--forget-sessions-after-polls",
                            "7",
                            "--clock-offset",
                            "-1500"});
    ASSERT_FALSE(p.result.exitCode) << p.err;
    const PortalOptions& o = p.result.options;
    EXPECT_EQ(o.port, 0);
    EXPECT_EQ(o.scriptPort, 9001);
    EXPECT_EQ(o.scale, Scale::National);
    EXPECT_EQ(o.charset, "utf-8");
    EXPECT_EQ(o.seed, 42u);
    EXPECT_EQ(o.releaseAfterPolls, 0);
    ASSERT_TRUE(o.releaseAt);
    EXPECT_GT(*o.releaseAt, std::chrono::system_clock::now() + std::chrono::seconds(25));
    EXPECT_EQ(o.faults.latencyMs, 20);
    EXPECT_DOUBLE_EQ(o.faults.errorRate, 0.25);
    EXPECT_EQ(o.firstDay, (Date{2030, 3, 4}));
    EXPECT_EQ(o.busyAfterRelease, 3);
    EXPECT_EQ(o.forgetSessionsAfterPolls, 7);
    EXPECT_EQ(o.clockOffset, std::chrono::milliseconds(-1500));
}

TEST(Cli, BadOptionsEndWithAMessageAndNonZeroExit) {
    const std::vector<std::vector<const char*>> bad = {
        {"--no-such-option"},
        {"--port", "70000"},
        {"--scale", "city"},
        {"--charset", "latin1"},
        {"--error-rate", "1.5"},
        {"--error-rate", "0.6", "--drop-rate", "0.6"},
        {"--release-at", "25:00"},
        {"--first-day", "tomorrow"},
        {"--busy-after-release", "-1"},
        {"--forget-sessions-after-polls", "many"},
        {"--clock-offset", "soon"},
        {"--clock-offset", "99999999999999"},
        {"--accounts", "/no/such/file"},
        {"--port"},
    };
    for (const auto& args : bad) {
        const Parsed p = Parse(args);
        ASSERT_TRUE(p.result.exitCode) << args[0];
        EXPECT_NE(*p.result.exitCode, 0) << args[0];
        EXPECT_FALSE(p.err.empty()) << args[0];
    }
}

TEST(Cli, HelpNamesTheOptionsTheAccountsFormatAndTheDemoAccount) {
    const Parsed p = Parse({"--help"});
    const std::string card = DemoAccount().cardNumber;
    ASSERT_TRUE(p.result.exitCode);
    EXPECT_EQ(*p.result.exitCode, 0);
    for (const char* word : {"--port", "--script-port", "--accounts", "--release-after-polls", "--release-at",
                             "--busy-after-release", "--forget-sessions-after-polls", "--clock-offset",
                             "--stall-rate", "--log", "patient|NAME", card.c_str()})
        EXPECT_NE(p.out.find(word), std::string::npos) << word;
}

TEST(Cli, ReleaseTimes) {
    const auto now = std::chrono::system_clock::now();
    EXPECT_EQ(ParseReleaseTime("+0", now), now);
    EXPECT_TRUE(ParseReleaseTime("07:30", now));
    EXPECT_TRUE(ParseReleaseTime("07:30:15", now));
    for (const char* bad : {"", "+", "+-3", "7", "07:60", "24:00", "07:30:15x"})
        EXPECT_FALSE(ParseReleaseTime(bad, now)) << bad;
}

// --release-at names a moment of the portal clock, whichever way it runs.
TEST(Cli, ReleaseAtIsReadOnThePortalClock) {
    using std::chrono::system_clock;
    auto localTm = [](system_clock::time_point t) {
        const std::time_t tt = system_clock::to_time_t(t);
        return *std::localtime(&tt);
    };
    for (const char* offset : {"86400000", "-86400000", "0"}) {
        const auto portalNow = system_clock::now() + std::chrono::milliseconds(std::stoll(offset));

        const Parsed in30 = Parse({"--clock-offset", offset, "--release-at", "+30"});
        ASSERT_FALSE(in30.result.exitCode) << in30.err;
        const auto fromNow = *in30.result.options.releaseAt - portalNow;
        EXPECT_GE(fromNow, std::chrono::seconds(29)) << offset;
        EXPECT_LE(fromNow, std::chrono::seconds(31)) << offset;

        const Parsed atNoon = Parse({"--release-at", "12:00:05", "--clock-offset", offset});
        ASSERT_FALSE(atNoon.result.exitCode) << atNoon.err;
        const std::tm want = localTm(portalNow);
        const std::tm got = localTm(*atNoon.result.options.releaseAt);
        EXPECT_EQ(std::make_tuple(got.tm_year, got.tm_mon, got.tm_mday, got.tm_hour, got.tm_min, got.tm_sec),
                  std::make_tuple(want.tm_year, want.tm_mon, want.tm_mday, 12, 0, 5))
            << offset;
    }
}

#ifndef _WIN32
// Starts the program with these arguments; 0 when it could not be started.
pid_t StartProgram(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    return posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) == 0 ? pid : 0;
}

// The program listens, writes its request log, and ends cleanly on SIGTERM and SIGINT.
TEST(Program, StopsCleanlyOnSignals) {
    for (int sig : {SIGTERM, SIGINT}) {
        const std::string log = ::testing::TempDir() + "portal_program_" + std::to_string(sig) + ".jsonl";
        std::remove(log.c_str());
        const pid_t pid =
            StartProgram({QUILORA_PORTAL_PROGRAM, "--port", "0", "--script-port", "0", "--log", log});
        ASSERT_NE(pid, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        ASSERT_EQ(kill(pid, sig), 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status)) << sig;
        EXPECT_EQ(WEXITSTATUS(status), 0) << sig;
    }
}

TEST(Program, ABusyPortEndsWithAnError) {
    PortalOptions o;
    o.port = 0;
    o.scriptPort = 0;
    DemoPortal holder(o);
    holder.Start();
    const pid_t pid =
        StartProgram({QUILORA_PORTAL_PROGRAM, "--port", std::to_string(holder.Port()), "--script-port", "0"});
    ASSERT_NE(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0);
}
#endif

} // namespace
} // namespace quilora::portal
