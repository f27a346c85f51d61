// What an auto-booking poll makes of the number list's answer.
#include <gtest/gtest.h>

#include "common/gbk.h"
#include "common/normalise.h"
#include "workflow/slot_poll.h"

namespace quilora {
namespace {

TEST(ReadPollAnswer, OnlyANumberEntryOpensTheSlot) {
    struct Case {
        const char* what;
        std::string answer;
        PollAnswer expected;
    } cases[] = {
        {"quick pick", "<P><A onclick=\"GuaHaoDiv('160','GhSn10',1,1001)\">由系统分配号源</A></P>",
         PollAnswer::Opened},
        {"number entry", "<LI><A onclick=\"GuaHaoDiv('160','GhSn10',1,1001,'08:00')\">1号</A></LI>",
         PollAnswer::Opened},
        {"not released", "-1|未放号|该时段尚未到放号时间", PollAnswer::NotReleased},
        {"marker beside an entry", "-1|未放号|<A onclick=\"GuaHaoDiv('1','',1,1)\">", PollAnswer::Opened},
        {"error page", "<HTML><BODY>500 Internal Server Error</BODY></HTML>", PollAnswer::Unexpected},
        {"full", "-2|已约满|该时段号源已被约满", PollAnswer::Unexpected},
        {"entry with a letter for a number", "onclick=\"GuaHaoDiv('1a','',1,1)\"", PollAnswer::Unexpected},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ReadPollAnswer(NormalisePage(c.answer)), c.expected);
    }
}

TEST(PollLogLine, ExpectedAnswersAsTheyAreOthersMarkedAndBounded) {
    EXPECT_EQ(PollLogLine("-1|未放号|x", PollAnswer::NotReleased), "-1|未放号|x");
    const std::string page(5000, 'e');
    const std::string line = PollLogLine(page, PollAnswer::Unexpected);
    EXPECT_NE(line.find("eee"), std::string::npos);
    EXPECT_LT(line.size(), 300u);
    EXPECT_EQ(PollLogLine("short", PollAnswer::Unexpected).find("…"), std::string::npos);
    EXPECT_NE(FailedPollLine("timed out").find("timed out"), std::string::npos);
}

} // namespace
} // namespace quilora
