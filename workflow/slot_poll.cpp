#include "slot_poll.h"

#include "common/gbk.h"
#include "scan/patterns.h"
#include "scan/tregexpr.h"

namespace quilora {

namespace {

constexpr std::size_t kLoggedAnswerBytes = 200;

bool Matches(std::string_view expression, std::string_view text) {
    TRegExpr re;
    re.SetExpression(expression);
    re.SetInputString(text);
    return re.Exec();
}

} // namespace

PollAnswer ReadPollAnswer(std::string_view answer) {
    // Either form of the entry means numbers are out; the list writes its
    // entries with five arguments and its quick pick with four.
    if (Matches(pattern::kSlotOpened, answer) || Matches(pattern::kNumberEntry, answer))
        return PollAnswer::Opened;
    if (answer.find(pattern::kNotReleasedMarker) != std::string_view::npos)
        return PollAnswer::NotReleased;
    return PollAnswer::Unexpected;
}

std::string PollLogLine(std::string_view answer, PollAnswer kind) {
    if (kind != PollAnswer::Unexpected)
        return std::string(answer);
    std::string shown = TruncateGbk(answer, kLoggedAnswerBytes);
    if (shown.size() < answer.size())
        shown += "…";
    return "未知应答，继续自动预约：" + shown;
}

std::string FailedPollLine(std::string_view reason) {
    return "查询失败，继续自动预约：" + std::string(reason);
}

} // namespace quilora
