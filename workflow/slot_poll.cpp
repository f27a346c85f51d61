#include "slot_poll.h"

#include "common/gbk.h"
#include "scan/patterns.h"
#include "scan/tregexpr.h"

namespace quilora {

namespace {

bool Matches(std::string_view expression, std::string_view text) {
    TRegExpr re;
    re.SetExpression(expression);
    re.SetInputString(text);
    return re.Exec();
}

} // namespace

PollAnswer ReadPollAnswer(long status, std::string_view answer) {
    // An error page is the server's, never the portal's word on the slot.
    if (status >= 400)
        return PollAnswer::ServerTrouble;
    // Either form of the entry means numbers are out; the list writes its
    // entries with five arguments and its quick pick with four.
    if (Matches(pattern::kSlotOpened, answer) || Matches(pattern::kNumberEntry, answer))
        return PollAnswer::Opened;
    if (answer.find(pattern::kNotReleasedMarker) != std::string_view::npos)
        return PollAnswer::NotReleased;
    return PollAnswer::SignedOut;
}

std::string_view PollAnswerText(PollAnswer answer) {
    switch (answer) {
    case PollAnswer::Opened:
        return "已放号";
    case PollAnswer::NotReleased:
        return "未放号";
    case PollAnswer::ServerTrouble:
        return "服务器繁忙";
    case PollAnswer::SignedOut:
        return "登录已失效";
    }
    return "";
}

std::string LogLine(std::string_view text) {
    return TruncateGbk(text, kLogLineBytes);
}

std::string FailedPollLine(std::string_view reason) {
    return LogLine("查询失败，继续自动预约：" + std::string(reason));
}

} // namespace quilora
