// What an auto-booking poll makes of the number list's answer.
#include <gtest/gtest.h>

#include "common/gbk.h"
#include "common/normalise.h"
#include "workflow/slot_poll.h"

namespace quilora {
namespace {

TEST(ReadPollAnswer, EachAnswerForWhatItIs) {
    struct Case {
        const char* what;
        long status;
        std::string answer;
        PollAnswer expected;
    } cases[] = {
        {"quick pick", 200, "<P><A onclick=\"GuaHaoDiv('160','GhSn10',1,1001)\">由系统分配号源</A></P>",
         PollAnswer::Opened},
        {"number entry", 200, "<LI><A onclick=\"GuaHaoDiv('160','GhSn10',1,1001,'08:00')\">1号</A></LI>",
         PollAnswer::Opened},
        {"not released", 200, "-1|未放号|该时段尚未到放号时间", PollAnswer::NotReleased},
        {"marker beside an entry", 200, "-1|未放号|<A onclick=\"GuaHaoDiv('1','',1,1)\">",
         PollAnswer::Opened},
        {"server too busy", 503, "<HTML><BODY>Server Too Busy</BODY></HTML>", PollAnswer::ServerTrouble},
        {"error page", 500, "<HTML><BODY>500 Internal Server Error</BODY></HTML>", PollAnswer::ServerTrouble},
        {"rate limited", 429, "Too Many Requests", PollAnswer::ServerTrouble},
        {"an error page never opens a slot", 500, "onclick=\"GuaHaoDiv('1','',1,1)\"",
         PollAnswer::ServerTrouble},
        {"the sign-in page of a forgotten session", 200, "您尚未登录或登录已超时，请先登录后再进行操作。",
         PollAnswer::SignedOut},
        // an error page is never the portal's word on the session either
        {"not found", 404, "您访问的页面不存在。", PollAnswer::ServerTrouble},
        {"forbidden", 403, "您尚未登录或登录已超时", PollAnswer::ServerTrouble},
        {"entry with a letter for a number", 200, "onclick=\"GuaHaoDiv('1a','',1,1)\"",
         PollAnswer::SignedOut},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ReadPollAnswer(c.status, NormalisePage(c.answer)), c.expected);
    }
}

TEST(LogLine, KeepsAThousandGbkBytesAndNeverCutsACharacter) {
    EXPECT_EQ(LogLine("-1|未放号|x"), "-1|未放号|x");
    EXPECT_EQ(LogLine(std::string(5000, 'e')), std::string(1000, 'e'));
    std::string text = "a";
    for (int i = 0; i < 600; ++i)
        text += "号";
    const std::string line = LogLine(text);
    EXPECT_EQ(GbkLength(line), 999u); // one ASCII byte and 499 characters of two bytes
    EXPECT_EQ(line.size(), 1u + 499u * 3u);
    EXPECT_EQ(FailedPollLine("（服务器拒绝连接）").rfind("查询失败，继续自动预约：", 0), 0u);
}

} // namespace
} // namespace quilora
