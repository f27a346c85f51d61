#include "workflow/outcome_notice.h"

#include <ctime>

#include "workflow/booking.h"
#include "workflow/slot_poll.h"

namespace quilora {

namespace {

using Phase = AutoBookingStatus::Phase;

constexpr char kTitlePrefix[] = "Quilora自动预约：";
// The engine's word for a sign-in again that the portal refused.
constexpr std::string_view kSignInRefusedEvent = "重新登录被拒绝";

std::string LocalTime(std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// The outcome text, then who, which slot (date, half-day, doctor) and when.
std::string Details(const std::string& first, const std::string& patient, const std::string& slot,
                    std::chrono::system_clock::time_point now) {
    std::string text = first;
    if (!patient.empty())
        text += "\n就诊人：" + patient;
    if (!slot.empty())
        text += "\n时段：" + slot;
    text += "\n时间：" + LocalTime(now);
    return text;
}

bool IsTerminal(Phase p) {
    return p == Phase::Booked || p == Phase::Refused || p == Phase::Unanswered || p == Phase::Stopped;
}

bool IsRunning(Phase p) {
    return p == Phase::Armed || p == Phase::StopPending || p == Phase::Booking;
}

} // namespace

Notice OutcomeNotice(const AutoBookingStatus& s, std::chrono::system_clock::time_point now) {
    Notice n;
    std::string first;
    switch (s.phase) {
    case Phase::Booked:
        n.event = "booked";
        n.title = "预约成功";
        first = kBookedMessage;
        break;
    case Phase::Refused:
        n.event = "refused";
        n.title = "预约未成功";
        first = s.outcome.empty() ? std::string("预约未成功") : s.outcome;
        break;
    case Phase::Unanswered:
        n.event = "unanswered";
        n.title = "预约结果未知";
        first = kUnansweredMessage;
        break;
    default:
        n.event = "stopped";
        n.title = "已停止自动预约";
        first = kAutoBookingStoppedMessage;
        break;
    }
    n.title = kTitlePrefix + n.title + (s.patient.empty() ? "" : " " + s.patient);
    n.text = Details(first, s.patient, s.slot, now);
    return n;
}

Notice ErrorNotice(const AutoBookingStatus& s, std::chrono::system_clock::time_point now) {
    return {"error", std::string(kTitlePrefix) + "预约因错误中止",
            Details("预约因错误中止，请在程序中查看。", s.patient, s.slot, now)};
}

Notice SignInRefusedNotice(const std::string& cardNo, const std::string& patient, const std::string& slot,
                           std::chrono::system_clock::time_point now) {
    std::string first = "Quilora服务器拒绝了登录密码";
    if (!cardNo.empty())
        first += "（卡号 " + cardNo + "）";
    first += "，请检查密码。";
    return {"signin_failed", std::string(kTitlePrefix) + "登录被拒绝", Details(first, patient, slot, now)};
}

Notice TestNotice(std::chrono::system_clock::time_point now) {
    return {"test", std::string(kTitlePrefix) + "测试通知",
            Details("这是一条测试通知：收到它，说明通知设置无误。", "", "", now)};
}

std::optional<Notice> OutcomeNotices::Next(const AutoBookingStatus& s,
                                           std::chrono::system_clock::time_point now) {
    const Phase before = last_;
    last_ = s.phase;
    if (!IsRunning(before) && s.phase == Phase::Armed)
        signInNoticed_ = false; // a new arming
    if (s.phase != before && IsTerminal(s.phase))
        return OutcomeNotice(s, now);
    if (s.phase == Phase::Idle && IsRunning(before))
        return ErrorNotice(s, now);
    if ((s.phase == Phase::Armed || s.phase == Phase::StopPending) && !signInNoticed_ &&
        s.event.rfind(kSignInRefusedEvent, 0) == 0) {
        signInNoticed_ = true;
        return SignInRefusedNotice("", s.patient, s.slot, now);
    }
    return std::nullopt;
}

} // namespace quilora
