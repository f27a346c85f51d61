// The booking transaction's readers and its three requests, with canned answers.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/errors.h"
#include "common/normalise.h"
#include "workflow/booking.h"
#include "workflow/int32_text.h"
#include "workflow/number_draw.h"

namespace quilora {
namespace {

// A number entry as the number list writes it (five arguments).
std::string Entry(int id, const std::string& url, int province, int hospital, const std::string& time) {
    return "\t\t<LI><A href=\"javascript:void(0)\" title=\"第1号\" onclick=\"GuaHaoDiv('" +
           std::to_string(id) + "','" + url + "'," + std::to_string(province) + "," +
           std::to_string(hospital) + ",'" + time + "')\">1号&nbsp;" + time + "</A></LI>\r\n";
}
// The quick pick under the list (four arguments).
std::string QuickPick(int id) {
    return "\t<P class=\"AutoPick\"><A href=\"javascript:void(0)\" onclick=\"GuaHaoDiv('" +
           std::to_string(id) + "','GhSn9',99,9999)\">由系统分配号源</A></P>\r\n";
}
std::string List(const std::string& entries) {
    return "<DIV class=\"NumberWater\">\r\n\t<UL class=\"NumList\">\r\n" + entries + "\t</UL>\r\n</DIV>\r\n";
}

const std::string kThreeNumbers =
    List(Entry(101, "GhSnA", 1, 1001, "08:00") + Entry(102, "GhSnB", 2, 1002, "08:10") +
         Entry(103, "GhSnC", 3, 1003, "08:20")) +
    QuickPick(101);

TEST(ReadNumberList, EveryEntryInOrderWithTheLastEntrysValues) {
    const NumberList list = ReadNumberList(NormalisePage(kThreeNumbers));
    EXPECT_EQ(list.numbers, (std::vector<int>{101, 102, 103}));
    ASSERT_EQ(list.entries.size(), 3u);
    EXPECT_EQ(list.entries[0], "onclick=guahaodiv('101','ghsna',1,1001,'08:00')>");
    EXPECT_EQ(list.url, "ghsnc");
    EXPECT_EQ(list.provinceId, 3);
    EXPECT_EQ(list.hospitalId, 1003);
}

TEST(ReadNumberList, NoEntriesAndOversizedNumbers) {
    EXPECT_TRUE(ReadNumberList(NormalisePage("-1|未放号|该时段尚未放号")).numbers.empty());
    EXPECT_TRUE(ReadNumberList(NormalisePage(List("") + QuickPick(5))).numbers.empty());
    EXPECT_THROW(ReadNumberList("onclick=guahaodiv('2147483648','u',1,1,'x')>"), ConversionError);
}

// Form pieces as the registration form writes them.
std::string Option(int value, const std::string& selected) {
    return "<OPTION value=\"" + std::to_string(value) + "\"" + selected + ">" + std::to_string(value) +
           "</OPTION>";
}
const std::string kSel = " selected=\"selected\"";
const std::string kMonthSel = "  selected=\"selected\"";

TEST(ReadRegistrationForm, PatternsInTheirOrderWithShorteningAndDefaults) {
    const std::string certificate =
        "<INPUT type=\"text\" id=\"tbZhengJianID\" value=\"110101198502030011\" size=\"24\" />";
    const std::string identity =
        "<INPUT type=\"text\" id=\"tbIdentityNo\" value=\"110101198502030011\" size=\"24\" />"
        "<INPUT type=\"hidden\" id=\"hideOtherCard\" value=\"YB501\" />";
    struct Case {
        const char* what;
        std::string form;
        FormFields expected;
    } cases[] = {
        {"the portal's form",
         "<SELECT>" + Option(1, kSel + " label=\"身份证\"") + Option(8, "") + "</SELECT>" + certificate +
             "<SELECT>" + Option(1984, "") + Option(1985, kSel) + "</SELECT><SELECT>" + Option(1, "") +
             Option(2, kMonthSel) + "</SELECT><SELECT>" + Option(2, "") + Option(3, kSel) + "</SELECT>" +
             identity,
         {1, "110101198502030011", "1985", "2", "3", "110101198502030011", "yb501"}},
        {"nothing selected", "<SELECT>" + Option(1, "") + "</SELECT>", {8, "", "1980", "1", "1", "", ""}},
        {"month written with one blank",
         Option(1985, kSel) + Option(2, kSel) + Option(3, kSel),
         {1985, "", "1985", "1", "2", "", ""}},
        {"first selected option closes at once",
         Option(7, kSel) + Option(1990, kSel) + Option(4, kMonthSel) + Option(9, kSel),
         {7, "", "7", "4", "9", "", ""}},
        {"day before the month is not found again",
         Option(1985, kSel) + Option(3, kSel) + Option(2, kMonthSel),
         {1985, "", "1985", "2", "1", "", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const FormFields f = ReadRegistrationForm(NormalisePage(c.form));
        EXPECT_EQ(f.zhengjiantype, c.expected.zhengjiantype);
        EXPECT_EQ(f.zhengjianid, c.expected.zhengjianid);
        EXPECT_EQ(f.year, c.expected.year);
        EXPECT_EQ(f.month, c.expected.month);
        EXPECT_EQ(f.day, c.expected.day);
        EXPECT_EQ(f.identityNo, c.expected.identityNo);
        EXPECT_EQ(f.othercard, c.expected.othercard);
    }
}

// A portal of canned answers keyed by path; records what was asked and logged.
struct CannedPortal {
    std::map<std::string, std::string> answers;
    std::vector<std::string> asked;
    std::vector<AnswerRule> rules;
    std::vector<std::string> log;
    int member = 501;

    BookingIo Io() {
        BookingIo io;
        io.fetch = [this](const PortalAddress& a, AnswerRule rule) {
            asked.push_back(a.url);
            rules.push_back(rule);
            log.push_back("GET " + a.shown);
            FetchedPage page;
            page.status = 200;
            page.text = "404";
            for (const auto& [path, answer] : answers)
                if (a.url.find(path) != std::string::npos)
                    page.text = answer;
            return page;
        };
        io.log = [this](std::string_view line) { log.emplace_back(line); };
        io.memberId = [this] { return member; };
        return io;
    }
};

const PortalHosts kHosts{"http://portal.test", "http://portal.test:8010", "GBK"};
const SlotRef kSlot{1000005, "2024-03-05", 1, 3, 2, "ghsn5"};
const std::string kForm = "<SELECT>" + Option(1, kSel + " label=\"身份证\"") + "</SELECT>" +
                          Option(1985, kSel) + Option(2, kMonthSel) + Option(3, kSel) +
                          "<INPUT id=\"hideOtherCard\" value=\"YB501\" />";

TEST(RunBooking, ThreeRequestsInOrderWithTheDrawnNumber) {
    CannedPortal portal;
    portal.answers = {{"/Action/NumberWater.ashx", kThreeNumbers},
                      {"/Action/RegCheck.ashx", kForm},
                      {"/Action/Register.ashx", "0|OK|预约成功，请按时就诊。"}};
    const ScopedIndexDraw draw([](std::size_t count) {
        EXPECT_EQ(count, 3u);
        return std::size_t{1};
    });
    const BookingResult booked = RunBooking(kHosts, kSlot, portal.Io());
    EXPECT_EQ(booked.outcome, BookingOutcome::Booked);
    EXPECT_EQ(booked.message, kBookedMessage);
    // Only the registration is never sent twice once it may have arrived.
    EXPECT_EQ(portal.rules, (std::vector<AnswerRule>{AnswerRule::NoErrorStatus, AnswerRule::NoErrorStatus,
                                                     AnswerRule::Registration}));

    ASSERT_EQ(portal.asked.size(), 3u);
    EXPECT_EQ(
        portal.asked[0].rfind("http://portal.test/Action/NumberWater.ashx?sn=1000005&date=2024-03-05&timeid=1"
                              "&type=3&weekid=2&url=ghsn5&state=4&d=",
                              0),
        0u);
    EXPECT_EQ(portal.asked[1].rfind("http://portal.test/Action/RegCheck.ashx?id=102&mid=501&d=", 0), 0u);
    EXPECT_EQ(portal.asked[2].rfind(
                  "http://portal.test/Action/Register.ashx?up=0&cardup=1&id=102&url=ghsnc"
                  "&memberid=501&provinceid=3&ghthospitalid=1003&IdentityNo=&clinicCardNo=%B8%B4%D5%EF"
                  "&othercard=yb501&year=1985&month=2&day=3&zhengjiantype=1&zhengjianid=&d=",
                  0),
              0u);
    // The heading follows the list's address line, then one line per entry.
    ASSERT_GE(portal.log.size(), 5u);
    EXPECT_EQ(portal.log[1], kNumberListHeading);
    EXPECT_EQ(portal.log[2], "onclick=guahaodiv('101','ghsna',1,1001,'08:00')>");
    EXPECT_EQ(portal.log[4], "onclick=guahaodiv('103','ghsnc',3,1003,'08:20')>");
    EXPECT_EQ(portal.log[5].rfind("GET http://portal.test/Action/RegCheck.ashx", 0), 0u);
}

TEST(RunBooking, RefusalIsShownNormalised) {
    CannedPortal portal;
    portal.answers = {{"/Action/NumberWater.ashx", kThreeNumbers},
                      {"/Action/RegCheck.ashx", kForm},
                      {"/Action/Register.ashx", "-3|Refused|\"您\"已预约过\r\n该时段"}};
    const BookingResult refused = RunBooking(kHosts, kSlot, portal.Io());
    EXPECT_EQ(refused.outcome, BookingOutcome::Refused);
    EXPECT_EQ(refused.message, "-3|refused|您已预约过该时段");
}

TEST(RunBooking, NoFreeNumberSendsNothingMore) {
    CannedPortal portal;
    portal.answers = {{"/Action/NumberWater.ashx", "-2|已约满|该时段号源已被约满"}};
    const ScopedIndexDraw draw([](std::size_t) -> std::size_t {
        ADD_FAILURE() << "nothing to draw from";
        return 0;
    });
    const BookingResult none = RunBooking(kHosts, kSlot, portal.Io());
    EXPECT_EQ(none.outcome, BookingOutcome::NoNumber);
    EXPECT_EQ(none.message, kNoNumberFreeMessage);
    EXPECT_EQ(portal.asked.size(), 1u);
    EXPECT_EQ(portal.log.back(), kNumberListHeading);
}

TEST(RunBooking, EntryWithAnOversizedNumberIsLoggedBeforeTheError) {
    const std::string bad = "onclick=guahaodiv('2147483648','ghsnb',2,1002,'08:10')>";
    CannedPortal portal;
    portal.answers = {{"/Action/NumberWater.ashx", List(Entry(101, "GhSnA", 1, 1001, "08:00")) + bad}};
    EXPECT_THROW(RunBooking(kHosts, kSlot, portal.Io()), ConversionError);
    EXPECT_EQ(portal.asked.size(), 1u);
    ASSERT_EQ(portal.log.size(), 4u);
    EXPECT_EQ(portal.log[1], kNumberListHeading);
    EXPECT_EQ(portal.log[2], "onclick=guahaodiv('101','ghsna',1,1001,'08:00')>");
    EXPECT_EQ(portal.log[3], bad);
}

TEST(RunBooking, PatientIsReadAsEachRequestIsBuilt) {
    CannedPortal portal;
    portal.answers = {{"/Action/NumberWater.ashx", kThreeNumbers},
                      {"/Action/RegCheck.ashx", kForm},
                      {"/Action/Register.ashx", "成功"}};
    BookingIo io = portal.Io();
    int reads = 0;
    io.memberId = [&] { return ++reads == 1 ? 501 : 502; };
    RunBooking(kHosts, kSlot, io);
    EXPECT_NE(portal.asked[1].find("mid=501&"), std::string::npos);
    EXPECT_NE(portal.asked[2].find("memberid=502&"), std::string::npos);
}

// The registration is not idempotent: whatever failure the fetcher gives up
// with after it may have reached the portal is an unknown outcome, told as
// such, with nothing sent again (the fetcher itself resends only what was
// turned away unread). One that certainly never got in is the portal's
// trouble: nothing was booked.
TEST(RunBooking, ARegistrationThatMayHaveArrivedIsNeverSentAgain) {
    struct Case {
        const char* name;
        FetchFailure failure;
        long status;
        bool mayHaveArrived;
        std::optional<BookingOutcome> outcome; // none: FetchError
        std::string message;
    } cases[] = {
        {"500 after it went out", FetchFailure::ErrorStatus, 500, true, BookingOutcome::Unanswered,
         "预约请求已发出，但Quilora服务器返回错误 500，请进入网页查看是否已预约成功。"},
        {"dropped", FetchFailure::Dropped, 0, true, BookingOutcome::Unanswered,
         std::string(kUnansweredMessage)},
        {"empty", FetchFailure::Empty, 200, true, BookingOutcome::Unanswered,
         std::string(kUnansweredMessage)},
        {"timed out", FetchFailure::TimedOut, 0, true, BookingOutcome::Unanswered,
         std::string(kUnansweredMessage)},
        {"503 all along: never got in", FetchFailure::ErrorStatus, 503, false, std::nullopt, ""},
        {"refused all along", FetchFailure::Refused, 0, false, std::nullopt, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CannedPortal portal;
        portal.answers = {{"/Action/NumberWater.ashx", kThreeNumbers}, {"/Action/RegCheck.ashx", kForm}};
        BookingIo io = portal.Io();
        const auto canned = io.fetch;
        int registrations = 0;
        io.fetch = [&](const PortalAddress& a, AnswerRule rule) {
            if (a.url.find("/Action/Register.ashx") != std::string::npos) {
                ++registrations;
                throw FetchError("无法连接到Quilora服务器，请检查网络后重试。（x）", c.failure, c.status,
                                 c.mayHaveArrived);
            }
            return canned(a, rule);
        };
        if (!c.outcome) {
            EXPECT_THROW(RunBooking(kHosts, kSlot, io), FetchError);
        } else {
            const BookingResult r = RunBooking(kHosts, kSlot, io);
            EXPECT_EQ(r.outcome, *c.outcome);
            EXPECT_EQ(r.message, c.message);
        }
        EXPECT_EQ(registrations, 1);
    }
}

TEST(RunBooking, AStopBeforeTheRegistrationSendsNothing) {
    CannedPortal portal;
    portal.answers = {{"/Action/NumberWater.ashx", kThreeNumbers}, {"/Action/RegCheck.ashx", kForm}};
    BookingIo io = portal.Io();
    io.stopRequested = [] { return true; };
    try {
        RunBooking(kHosts, kSlot, io);
        ADD_FAILURE() << "no stop";
    } catch (const FetchError& e) {
        EXPECT_EQ(e.Failure(), FetchFailure::Cancelled);
    }
    ASSERT_EQ(portal.asked.size(), 2u);
    EXPECT_EQ(portal.asked.back().find("/Action/Register.ashx"), std::string::npos);
}

// A 200 answer is a success only when it says so without saying it failed.
TEST(IsBooked, SuccessWordsAndTheirNegations) {
    struct Case {
        const char* answer;
        bool booked;
    } cases[] = {
        {"1|预约成功|您已成功预约2026-12-14 星期一 上午 第1号", true},
        {"成功", true},
        {"很遗憾，预约未成功：该时段号源已约满", false},
        {"预约不成功", false},
        {"没有成功预约，请重试", false},
        {"预约失败：成功率太低", false},
        {"-8|重复预约|您已预约过该时段，不能重复预约！", false},
        {"-5|已被预约|该号源已被预约，请重新选择", false},
        {"", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(IsBooked(c.answer), c.booked) << c.answer;
}

TEST(NumberDraw, EveryIndexWithEqualChances) {
    constexpr int kDraws = 6000;
    int seen[3] = {};
    for (int i = 0; i < kDraws; ++i)
        ++seen[ClockSeededIndex(3)];
    for (const int n : seen) // expected 2000, sd about 37: a wide margin still catches a skew
        EXPECT_NEAR(n, kDraws / 3, 250);
    EXPECT_EQ(ClockSeededIndex(1), 0u);
}

} // namespace
} // namespace quilora
