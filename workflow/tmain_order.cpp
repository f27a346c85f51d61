// The order command, the booking transaction and the auto-booking tick.
#include <QPlainTextEdit>
#include <QString>
#include <QTimer>

#include "app/dialogs.h"
#include "app/radio_group.h"
#include "app/schedule_list.h"
#include "app/tmain.h"
#include "common/errors.h"
#include "common/normalise.h"
#include "common/stamp.h"
#include "workflow/booking.h"
#include "workflow/schedule.h"
#include "workflow/slot_poll.h"

namespace quilora {

namespace {

constexpr int kClinicTypeColumn = 2;
constexpr int kWeekdayColumn = 3;

void AppendLine(QPlainTextEdit& memo, std::string_view line) {
    memo.appendPlainText(QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size())));
}

// Lowers the flag however the scope is left, unless told to keep it.
class LowerOnExit {
public:
    explicit LowerOnExit(bool& flag) : flag_(&flag) {}
    ~LowerOnExit() {
        if (flag_)
            *flag_ = false;
    }
    LowerOnExit(const LowerOnExit&) = delete;
    LowerOnExit& operator=(const LowerOnExit&) = delete;
    void Keep() { flag_ = nullptr; }

private:
    bool* flag_;
};

std::string Fill(std::string_view tmpl, std::initializer_list<std::string_view> values) {
    std::string out;
    auto next = values.begin();
    for (std::size_t i = 0; i < tmpl.size(); ++i) {
        if (tmpl[i] == '%' && i + 1 < tmpl.size() && tmpl[i + 1] == 's' && next != values.end()) {
            out += *next++;
            ++i;
        } else {
            out += tmpl[i];
        }
    }
    return out;
}

} // namespace

void TMain::BookSlot(const ScheduleSlot& slot) {
    const LowerOnExit lower(orderBusy);
    BookingIo io;
    io.fetch = [this](const PortalAddress& a) { return FetchPage(Http(), a); };
    io.log = [this](std::string_view line) { AppendLine(*mmo, line); };
    io.memberId = [this] {
        const int index = rgpUser->ItemIndex();
        if (index < 0)
            throw QuiloraError("没有选择就诊人，无法预约。");
        return rgpUser->Tag(index);
    };
    ShowHint(RunBooking(portal, slot.Ref(), io));
}

void TMain::btnOrderClick() {
    if (loginCardNo.empty())
        return;
    if (rgpUser->ItemIndex() < 0)
        AbortWithHint("请先选择就诊人！\r\n如无法选择就诊人，请主动获取就诊人！");
    if (lvLog->SelectedIndex() < 0)
        AbortWithHint("请先选择预约内容！");
    if (orderBusy) {
        if (AskConfirm("系统正忙，可能正在预约或自动预约中，是否中止预约?", false, 1) != kIdYes)
            return;
        stopRequested = true;
        // Ticks ran while the question was open: auto-booking may have ended by now.
        if (orderBusy)
            return;
    }
    stopRequested = false;
    const int row = lvLog->SelectedIndex();
    if (row < 0)
        AbortWithHint("请先选择预约内容！");
    orderSlot = lvLog->SlotAt(row);
    const std::shared_ptr<const ScheduleSlot> slot = orderSlot;

    switch (slot->state) {
    case 0:
        AbortWithHint("对不起，不能预约此内容：已停诊。");
    case 1:
        AbortWithHint("对不起，不能预约此内容：已截止。");
    case 3:
        AbortWithHint("对不起，不能预约此内容：已约满。");
    default:
        break;
    }

    const std::string question =
        Fill("预约内容:\r\n就诊人:%s\r\n时间：%s %s\r\n医生:%s (%s)\r\n门诊类型:%s\r\n\r\n确定要预约吗?",
             {rgpUser->Caption(rgpUser->ItemIndex()), slot->date, lvLog->CellText(row, kWeekdayColumn),
              slot->doctorName, slot->hospitalName, lvLog->CellText(row, kClinicTypeColumn)});
    if (AskConfirm(question, false, 1) != kIdYes)
        return;

    orderBusy = true;
    if (slot->state == 4) {
        BookSlot(*slot); // lowers orderBusy itself
        return;
    }
    // Only an armed auto-booking keeps the flag: a refusal, another state or an
    // error out of the question must not leave every later order "busy".
    LowerOnExit lower(orderBusy);
    if (slot->state == 2 && AskConfirm("此预约还未到放号时间，是否开始自动预约?\r\n"
                                       "自动预约系统将在开始放号之后最短的时间内帮你自动预约。",
                                       false, 1) == kIdYes) {
        tmrOrder->start();
        lower.Keep();
    }
}

void TMain::tmrOrderTimer() {
    if (stopRequested || !orderSlot) {
        stopRequested = false;
        orderBusy = false;
        tmrOrder->stop();
        if (orderSlot)
            ShowHint(kAutoBookingStoppedMessage);
        return;
    }
    const std::shared_ptr<const ScheduleSlot> slot = orderSlot;

    // One short attempt per tick: a busy or silent portal costs a line, not the
    // auto-booking. Reading the answer is inside too: an error report here would
    // open while the timer still runs, and every tick would stack another.
    std::string answer;
    PollAnswer kind = PollAnswer::Unexpected;
    try {
        answer = NormalisePage(FetchPage(
            Http(), SlotPollAddress(portal, slot->Ref(), slot->state, EpochMillis()), FetchMode::Poll));
        kind = ReadPollAnswer(answer);
    } catch (const std::exception& e) {
        AppendLine(*mmo, FailedPollLine(e.what()));
        return;
    }
    AppendLine(*mmo, PollLogLine(answer, kind));
    if (kind != PollAnswer::Opened)
        return;

    stopRequested = false;
    orderBusy = false;
    tmrOrder->stop();
    BookSlot(*slot);
}

} // namespace quilora
