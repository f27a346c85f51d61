// The order command, the booking transaction and the auto-booking tick. The
// state and its transitions live in the AutoBooking engine; these handlers ask
// the user, drive the engine and show what it gives.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QString>
#include <QTimer>

#include "app/attention.h"
#include "app/dialogs.h"
#include "app/radio_group.h"
#include "app/schedule_list.h"
#include "app/tmain.h"
#include "common/errors.h"
#include "workflow/auto_booking.h"
#include "workflow/order_policy.h"
#include "workflow/schedule.h"

namespace quilora {

namespace {

constexpr int kClinicTypeColumn = 2;
constexpr int kWeekdayColumn = 3;

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

// Lowers orderBusy however the order command is left, unless it armed.
class DeclineOnExit {
public:
    explicit DeclineOnExit(AutoBooking& order) : order_(order) {}
    ~DeclineOnExit() {
        if (!order_.TimerEnabled())
            order_.Decline();
    }
    DeclineOnExit(const DeclineOnExit&) = delete;
    DeclineOnExit& operator=(const DeclineOnExit&) = delete;

private:
    AutoBooking& order_;
};

} // namespace

int TMain::MemberId() {
    const int index = rgpUser->ItemIndex();
    if (index < 0)
        throw QuiloraError("没有选择就诊人，无法预约。");
    return rgpUser->Tag(index);
}

std::string TMain::PatientName() {
    const int index = rgpUser->ItemIndex();
    return index < 0 ? std::string() : rgpUser->Caption(index);
}

void TMain::Log(std::string_view line) {
    LogUrl(line); // the same memo, one line
}

void TMain::TimerChanged(bool enabled) {
    if (enabled) {
        tickInterval_ = tmrOrder->interval();
        ScheduleNextTick();
    } else {
        tmrOrder->stop();
        tmrOrder->setInterval(tickInterval_);
    }
    btnStopAuto->setVisible(enabled);
}

void TMain::ScheduleNextTick() {
    // With a release time the engine places each tick; else every interval,
    // counted from the last poll of a tick that ran late.
    if (const auto delay = order.NextTickDelay())
        tmrOrder->start(static_cast<int>(delay->count()));
    else if (!tmrOrder->isActive())
        tmrOrder->start(tickInterval_);
    else
        tmrOrder->start(static_cast<int>(order.DelayAfterTick(std::chrono::milliseconds(tickInterval_)).count()));
}

void TMain::StatusChanged(const AutoBookingStatus& status) {
    const QString text = QString::fromStdString(StatusText(status, AutoBooking::Clock::now()));
    lblStatus->setText(text);
    lblStatus->setToolTip(text); // the whole line, where a narrow window cuts it
    btnStopAuto->setEnabled(status.phase == AutoBookingStatus::Phase::Armed);
}

void TMain::BookSlot(const ScheduleSlot& slot) {
    if (order.OrderSlot().get() != &slot)
        order.StartOrder(std::make_shared<const ScheduleSlot>(slot));
    ShowHint(order.BookNow(Session()).message); // lowers orderBusy itself
}

void TMain::btnOrderClick() {
    if (loginCardNo.empty())
        return;
    if (rgpUser->ItemIndex() < 0)
        AbortWithHint("请先选择就诊人！\r\n如无法选择就诊人，请主动获取就诊人！");
    if (lvLog->SelectedIndex() < 0)
        AbortWithHint("请先选择预约内容！");
    if (order.OrderBusy()) {
        if (AskConfirm("系统正忙，可能正在预约或自动预约中，是否中止预约?", false, 1) != kIdYes)
            return;
        // Ticks ran while the question was open: auto-booking may have ended by now.
        if (!order.RequestStop())
            return;
    }
    const int row = lvLog->SelectedIndex();
    if (row < 0)
        AbortWithHint("请先选择预约内容！");
    order.StartOrder(lvLog->SlotAt(row));
    const std::shared_ptr<const ScheduleSlot> slot = order.OrderSlot();

    const OrderDecision decision = DecideOrder(slot->state);
    if (decision.action == OrderAction::Refuse)
        AbortWithHint(decision.refusal);

    const std::string question =
        Fill("预约内容:\r\n就诊人:%s\r\n时间：%s %s\r\n医生:%s (%s)\r\n门诊类型:%s\r\n\r\n确定要预约吗?",
             {rgpUser->Caption(rgpUser->ItemIndex()), slot->date, lvLog->CellText(row, kWeekdayColumn),
              slot->doctorName, slot->hospitalName, lvLog->CellText(row, kClinicTypeColumn)});
    if (AskConfirm(question, false, 1) != kIdYes)
        return;

    order.Confirm();
    if (decision.action == OrderAction::BookNow) {
        BookSlot(*slot); // lowers orderBusy itself
        return;
    }
    // Only an armed auto-booking keeps the flag: a refusal, another state or an
    // error out of the question must not leave every later order "busy".
    const DeclineOnExit decline(order);
    if (decision.action == OrderAction::OfferArm &&
        AskConfirm("此预约还未到放号时间，是否开始自动预约?\r\n"
                   "自动预约系统将在开始放号之后最短的时间内帮你自动预约。",
                   false, 1) == kIdYes) {
        order.SetRelease(ReleaseTime());
        order.Arm();
    }
}

std::optional<std::chrono::system_clock::time_point> TMain::ReleaseTime() {
    const std::string text = edtReleaseTime->text().trimmed().toStdString();
    if (text.empty())
        return std::nullopt;
    const auto portalNow = order.ServerClock().PortalTime(std::chrono::system_clock::now());
    const auto at = ReleaseMoment(text, portalNow);
    if (!at)
        AbortWithHint("放号时间应写作 时:分 或 时:分:秒，例如 08:00 或 08:00:00。");
    return at;
}

void TMain::btnStopAutoClick() {
    // What Yes to the busy question does: the next tick stops.
    order.RequestStop();
}

void TMain::tmrOrderTimer() {
    const AutoBooking::TickResult tick = order.Tick(Session());
    switch (tick.end) {
    case AutoBooking::TickEnd::Stopped:
        ShowHint(kAutoBookingStoppedMessage);
        break;
    case AutoBooking::TickEnd::Booked: {
        // The user may be anywhere by now: the taskbar, a sound and a desktop
        // notification before the box.
        const std::string title =
            tick.booking.outcome == BookingOutcome::Booked ? "自动预约成功" : "自动预约结束";
        DrawAttention(*this, {title, StatusText(order.Status(), AutoBooking::Clock::now())});
        ShowHint(tick.booking.message);
        break;
    }
    case AutoBooking::TickEnd::Polled:
    case AutoBooking::TickEnd::Rearmed:
        if (order.TimerEnabled())
            ScheduleNextTick();
        break;
    }
}

} // namespace quilora
