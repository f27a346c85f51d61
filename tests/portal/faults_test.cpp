// Fault injection: each flag does what it says, the same way on every run.
#include <httplib.h>

#include <chrono>

#include "portal_client.h"

namespace quilora::portal::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

struct Outcome {
    bool answered = false;
    int status = 0;
    std::size_t bodySize = 0;
    friend bool operator==(const Outcome&, const Outcome&) = default;
};

// One request on a fresh connection, as a client sees it.
Outcome Ask(const DemoPortal& portal, const std::string& path, milliseconds timeout = milliseconds(2000)) {
    httplib::Client c("127.0.0.1", portal.Port());
    c.set_read_timeout(timeout);
    c.set_connection_timeout(milliseconds(1000));
    const auto res = c.Get(path.c_str());
    if (!res)
        return {};
    return Outcome{true, res->status, res->body.size()};
}

std::unique_ptr<DemoPortal> StartWith(FaultOptions faults, std::uint64_t seed = 1) {
    PortalOptions o = TestOptions();
    o.faults = faults;
    o.seed = seed;
    auto portal = std::make_unique<DemoPortal>(o);
    portal->Start();
    return portal;
}

constexpr const char* kDoctors = "/Action/DoctorByHosdept.ashx?id=10001";

TEST(Faults, EachFlagAtRateOneDoesWhatItSays) {
    const struct {
        std::string_view name;
        FaultOptions faults;
        Outcome expected;
        std::string_view logged;
    } cases[] = {
        {"none", {}, {true, 200, 1}, "none"},
        {"error", {.errorRate = 1}, {true, 500, 1}, "error"},
        {"empty body", {.emptyBodyRate = 1}, {true, 200, 0}, "empty"},
        {"drop", {.dropRate = 1}, {false, 0, 0}, "drop"},
    };
    for (const auto& c : cases) {
        const auto portal = StartWith(c.faults);
        Outcome got = Ask(*portal, kDoctors);
        got.bodySize = std::min<std::size_t>(got.bodySize, 1);
        EXPECT_EQ(got, c.expected) << c.name;
        ASSERT_EQ(portal->RequestLog().size(), 1u) << c.name;
        EXPECT_EQ(portal->RequestLog()[0].fault, c.logged) << c.name;
    }
}

TEST(Faults, TheErrorPageIsAServerErrorPage) {
    const auto portal = StartWith({.errorRate = 1});
    PortalHosts hosts{portal->BaseUrl(), portal->ScriptUrl(), "gbk"};
    HttpClient client;
    // The fetcher hands over any answer with a body; this one carries no marks.
    const std::string text = NormalisePage(FetchPage(client, DoctorsAddress(hosts, 10001)));
    EXPECT_NE(text.find("服务器错误"), std::string::npos);
    EXPECT_FALSE(MatchOne(pattern::kDoctor, text, 3));
}

TEST(Faults, AStalledRequestGetsNoAnswerUntilItsTimeIsUp) {
    const auto portal = StartWith({.stallRate = 1, .stallMs = 800});
    auto start = steady_clock::now();
    EXPECT_FALSE(Ask(*portal, kDoctors, milliseconds(300)).answered);
    EXPECT_GE(steady_clock::now() - start, milliseconds(300));
    start = steady_clock::now();
    const Outcome late = Ask(*portal, kDoctors, milliseconds(3000));
    EXPECT_TRUE(late.answered);
    EXPECT_EQ(late.status, 200);
    EXPECT_GE(steady_clock::now() - start, milliseconds(750));
}

TEST(Faults, StopEndsAStallAtOnce) {
    auto portal = StartWith({.stallRate = 1, .stallMs = 60000});
    std::thread asker([&] { EXPECT_FALSE(Ask(*portal, kDoctors, milliseconds(10000)).answered); });
    while (portal->RequestLog().empty())
        std::this_thread::sleep_for(milliseconds(5));
    const auto start = steady_clock::now();
    portal->Stop();
    asker.join();
    EXPECT_LT(steady_clock::now() - start, milliseconds(3000));
}

TEST(Faults, LatencyIsAddedToEveryAnswer) {
    const auto portal = StartWith({.latencyMs = 150});
    for (int i = 0; i < 2; ++i) {
        const auto start = steady_clock::now();
        EXPECT_EQ(Ask(*portal, kDoctors).status, 200);
        EXPECT_GE(steady_clock::now() - start, milliseconds(150));
    }
}

std::vector<Outcome> Sequence(std::uint64_t seed, int n) {
    const auto portal = StartWith(
        {.emptyBodyRate = 0.15, .errorRate = 0.15, .dropRate = 0.15, .stallRate = 0.1, .stallMs = 0}, seed);
    std::vector<Outcome> outcomes;
    for (int i = 0; i < n; ++i) {
        Outcome o = Ask(*portal, kDoctors);
        o.bodySize = std::min<std::size_t>(o.bodySize, 1);
        outcomes.push_back(o);
    }
    return outcomes;
}

TEST(Faults, MixedFaultsRepeatForTheSameSeed) {
    const std::vector<Outcome> first = Sequence(7, 60);
    EXPECT_EQ(Sequence(7, 60), first);
    EXPECT_NE(Sequence(8, 60), first);
    int errors = 0, empties = 0, drops = 0, fine = 0;
    for (const Outcome& o : first) {
        errors += o.status == 500;
        empties += o.answered && o.status == 200 && o.bodySize == 0;
        drops += !o.answered;
        fine += o.answered && o.status == 200 && o.bodySize > 0;
    }
    // Each kind shows up; a stall of 0 ms ends in a normal answer.
    EXPECT_GT(errors, 0);
    EXPECT_GT(empties, 0);
    EXPECT_GT(drops, 0);
    EXPECT_GT(fine, 0);
}

TEST(Faults, RatesMatchTheirShareOverManyRequests) {
    FaultPlan plan(3,
                   FaultOptions{.emptyBodyRate = 0.1, .errorRate = 0.2, .dropRate = 0.05, .stallRate = 0.05});
    int counts[5] = {};
    constexpr int kN = 20000;
    for (std::uint64_t i = 0; i < kN; ++i)
        ++counts[int(plan.Decide(i))];
    EXPECT_NEAR(counts[int(Fault::Drop)] / double(kN), 0.05, 0.01);
    EXPECT_NEAR(counts[int(Fault::Stall)] / double(kN), 0.05, 0.01);
    EXPECT_NEAR(counts[int(Fault::Error)] / double(kN), 0.2, 0.015);
    EXPECT_NEAR(counts[int(Fault::EmptyBody)] / double(kN), 0.1, 0.01);
}

TEST(Faults, TheClientsFetcherRidesOutDropsAndEmptyBodies) {
    const auto portal = StartWith({.emptyBodyRate = 0.3, .dropRate = 0.3}, 11);
    PortalHosts hosts{portal->BaseUrl(), portal->ScriptUrl(), "gbk"};
    HttpClient client;
    FetchLimits limits = client.Limits(FetchMode::Interactive);
    limits.attempts = 20;
    client.SetLimits(FetchMode::Interactive, limits);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(
            MatchOne(pattern::kDoctor, NormalisePage(FetchPage(client, DoctorsAddress(hosts, 10001))), 3));
    EXPECT_GT(portal->RequestLog().size(), 5u);
}

} // namespace
} // namespace quilora::portal::testing
