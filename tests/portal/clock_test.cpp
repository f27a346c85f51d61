// The portal clock: its offset from this machine's, the Date header it writes
// and releases that go by it.
#include <regex>

#include "common/gbk.h"
#include "portal/http_date.h"
#include "portal_client.h"

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace quilora::portal::testing {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using std::chrono::system_clock;
constexpr milliseconds kDay = std::chrono::hours(24);

std::int64_t MillisOf(system_clock::time_point t) {
    return std::chrono::duration_cast<milliseconds>(t.time_since_epoch()).count();
}

TEST(HttpDate, IsAnImfFixdateOfTheWholeSecond) {
    const struct {
        milliseconds sinceEpoch;
        std::string_view expected;
    } cases[] = {
        {seconds(784887151), "Tue, 15 Nov 1994 08:12:31 GMT"},
        {seconds(784887151) + milliseconds(999), "Tue, 15 Nov 1994 08:12:31 GMT"},
        {milliseconds(0), "Thu, 01 Jan 1970 00:00:00 GMT"},
        {milliseconds(-500), "Wed, 31 Dec 1969 23:59:59 GMT"}, // the second it falls in, not toward zero
        {seconds(951782400), "Tue, 29 Feb 2000 00:00:00 GMT"},
        {seconds(1893455999), "Mon, 31 Dec 2029 23:59:59 GMT"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HttpDate(system_clock::time_point(c.sinceEpoch)), c.expected) << c.sinceEpoch.count();
}

// The Date header of an answer, checked against the portal clock around the request.
void ExpectPortalDate(const std::string& date, system_clock::time_point before,
                      system_clock::time_point after, std::string_view what) {
    static const std::regex kFixdate(R"((Mon|Tue|Wed|Thu|Fri|Sat|Sun), \d\d )"
                                     R"((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) \d{4} )"
                                     R"(\d\d:\d\d:\d\d GMT)");
    EXPECT_TRUE(std::regex_match(date, kFixdate)) << what << ": " << date;
    EXPECT_TRUE(date == HttpDate(before) || date == HttpDate(after))
        << what << ": " << date << ", portal clock " << HttpDate(before);
}

TEST(PortalClock, NowAndTheRequestLogRunByTheOffset) {
    for (const milliseconds offset :
         {-kDay - milliseconds(1234), milliseconds(0), milliseconds(std::chrono::hours(3))}) {
        PortalOptions o = TestOptions();
        o.clockOffset = offset;
        DemoPortal portal(o);
        portal.Start();
        EXPECT_NEAR(double((portal.Now() - system_clock::now() - offset).count()), 0.0,
                    double(std::chrono::nanoseconds(milliseconds(100)).count()))
            << offset.count();
        const auto before = portal.Now();
        ASSERT_TRUE(RawGet(portal, "/Action/DoctorByHosdept.ashx?id=10001")) << offset.count();
        const auto after = portal.Now();
        ASSERT_EQ(portal.RequestLog().size(), 1u);
        EXPECT_GE(portal.RequestLog()[0].timeMs, MillisOf(before)) << offset.count();
        EXPECT_LE(portal.RequestLog()[0].timeMs, MillisOf(after)) << offset.count();
    }
}

TEST(PortalClock, EveryAnswerCarriesTheDateOfThePortalClock) {
    const struct {
        std::string_view what;
        FaultOptions faults;
        std::string target;
        int status;
    } cases[] = {
        {"page", {}, "/Action/DoctorByHosdept.ashx?id=10001", 200},
        {"not found", {}, "/no/such/page.aspx", 404},
        {"sign-in required", {}, "/UserManage/cyxx.aspx", 200},
        {"server error", {.errorRate = 1}, "/Action/DoctorByHosdept.ashx?id=10001", 500},
        {"empty body", {.emptyBodyRate = 1}, "/Action/DoctorByHosdept.ashx?id=10001", 200},
    };
    for (const auto& c : cases) {
        PortalOptions o = TestOptions();
        o.clockOffset = -kDay - std::chrono::hours(2) - milliseconds(300);
        o.faults = c.faults;
        DemoPortal portal(o);
        portal.Start();
        const auto before = portal.Now();
        const auto res = RawGet(portal, c.target);
        const auto after = portal.Now();
        ASSERT_TRUE(res) << c.what;
        EXPECT_EQ(res->status, c.status) << c.what;
        ExpectPortalDate(res->get_header_value("Date"), before, after, c.what);
    }
}

TEST(PortalClock, TheScriptHostAndTheServersOwnRefusalsCarryTheDateToo) {
    PortalOptions o = TestOptions();
    o.clockOffset = kDay * 40;
    DemoPortal portal(o);
    portal.Start();

    auto before = portal.Now();
    httplib::Client script("127.0.0.1", portal.ScriptPort());
    const auto res = script.Get("/js/City.js");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200);
    ExpectPortalDate(res->get_header_value("Date"), before, portal.Now(), "script host");

#ifndef _WIN32
    // A request line the server cannot read never reaches the portal's pages.
    before = portal.Now();
    const int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(sock, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(std::uint16_t(portal.Port()));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(sock, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    const std::string garbage = "NOT AN HTTP REQUEST\r\n\r\n";
    ASSERT_EQ(::send(sock, garbage.data(), garbage.size(), 0), ssize_t(garbage.size()));
    std::string answer;
    char buf[1024];
    for (ssize_t n;
         answer.find("\r\n\r\n") == std::string::npos && (n = ::recv(sock, buf, sizeof buf, 0)) > 0;)
        answer.append(buf, std::size_t(n));
    ::close(sock);
    const auto after = portal.Now();
    EXPECT_EQ(answer.rfind("HTTP/1.1 400", 0), 0u) << answer;
    const std::size_t at = answer.find("\r\nDate: ");
    ASSERT_NE(at, std::string::npos) << answer;
    const std::size_t from = at + 8;
    ExpectPortalDate(answer.substr(from, answer.find("\r\n", from) - from), before, after, "bad request");
#endif
}

// Whether a poll arriving before the release, answered after it, already sees
// the slot open decides whether a client's timing is judged fairly: it must not.
TEST(PortalClock, ASlotOpensForTheFirstPollArrivingAtItsReleaseTime) {
    for (const milliseconds offset : {-kDay, kDay}) {
        PortalOptions o = TestOptions();
        o.clockOffset = offset;
        o.faults.latencyMs = 400;
        DemoPortal portal(o);
        portal.Start();
        const PortalHosts hosts{portal.BaseUrl(), portal.ScriptUrl(), "gbk"};
        const std::string cookie = SessionCookie(portal);
        const auto waiting = portal.FindSlot(state::kNotReleased);
        ASSERT_TRUE(waiting);
        const auto release = std::chrono::floor<milliseconds>(portal.Now()) + milliseconds(600);
        portal.ReleaseAt(waiting->slot.sn, release);

        bool opened = false, answeredAfterRelease = false;
        const auto giveUp = portal.Now() + seconds(5);
        while (!opened && portal.Now() < giveUp) {
            const auto res = RawGet(
                portal, TargetOf(portal, SlotPollAddress(hosts, RefOf(waiting->slot), 2, EpochMillis())),
                cookie);
            ASSERT_TRUE(res);
            const bool arrivedAfter = portal.RequestLog().back().timeMs >= MillisOf(release);
            const std::string text = NormalisePage(CharsetToUtf8(res->body, "gbk"));
            opened = MatchOne(pattern::kSlotOpened, text, 4).has_value();
            EXPECT_EQ(opened, arrivedAfter) << offset.count() << ": " << text;
            answeredAfterRelease = answeredAfterRelease || (!arrivedAfter && portal.Now() >= release);
        }
        EXPECT_TRUE(opened) << offset.count();
        EXPECT_TRUE(answeredAfterRelease) << offset.count() << ": no poll arrived before and left after";
    }
}

} // namespace
} // namespace quilora::portal::testing
