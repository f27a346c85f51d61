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
    DeclineOnExit(const OrderState& order, std::function<void()> decline)
        : order_(order), decline_(std::move(decline)) {}
    ~DeclineOnExit() {
        if (!order_.TimerEnabled())
            decline_();
    }
    DeclineOnExit(const DeclineOnExit&) = delete;
    DeclineOnExit& operator=(const DeclineOnExit&) = delete;

private:
    const OrderState& order_;
    std::function<void()> decline_;
};

} // namespace

void TMain::BookSlot(const ScheduleSlot& slot) {
    std::shared_ptr<const ScheduleSlot> booked = order.OrderSlot();
    if (booked.get() != &slot) {
        booked = std::make_shared<const ScheduleSlot>(slot);
        order.orderSlot = booked;
    }
    PushPatient();
    // orderBusy is lowered by the booking itself; the outcome comes as a hint.
    StartWait(JobKind::BookNow, Worker().BookNow(booked));
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
        if (!RequestStop())
            return;
    }
    const int row = lvLog->SelectedIndex();
    if (row < 0)
        AbortWithHint("请先选择预约内容！");
    StartOrder(lvLog->SlotAt(row));
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

    Confirm();
    if (decision.action == OrderAction::BookNow) {
        BookSlot(*slot); // lowers orderBusy itself
        return;
    }
    // Only an armed auto-booking keeps the flag: a refusal, another state or an
    // error out of the question must not leave every later order "busy".
    const DeclineOnExit decline(order, [this] { Decline(); });
    if (decision.action == OrderAction::OfferArm &&
        AskConfirm("此预约还未到放号时间，是否开始自动预约?\r\n"
                   "自动预约系统将在开始放号之后最短的时间内帮你自动预约。",
                   false, 1) == kIdYes) {
        Arm(ReleaseTime());
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
    // What Yes to the busy question does: auto-booking stops.
    RequestStop();
}

void TMain::tmrOrderTimer() {
    // The worker runs the ticks; this one comes at once.
    Worker().TickNow();
}

void TMain::TickEnded(const TickOutcome& out) {
    WatchEnded(out);
    switch (out.end) {
    case AutoBooking::TickEnd::Stopped:
        ShowHint(kAutoBookingStoppedMessage);
        break;
    case AutoBooking::TickEnd::Booked: {
        // The user may be anywhere by now: the taskbar, a sound and a desktop
        // notification before the box.
        const std::string title =
            out.booking.outcome == BookingOutcome::Booked ? "自动预约成功" : "自动预约结束";
        DrawAttention(*this, {title, StatusText(out.status, AutoBooking::Clock::now())});
        ShowHint(out.booking.message);
        break;
    }
    case AutoBooking::TickEnd::Polled:
    case AutoBooking::TickEnd::Rearmed:
        break;
    }
}

// ---- order commands: the worker takes them in order; the mirror follows at once ----

bool TMain::RequestStop() {
    commandSent_ = Worker().RequestStop();
    order.stopRequested = true;
    if (order.timerEnabled && order.status.phase == AutoBookingStatus::Phase::Armed)
        order.status.phase = AutoBookingStatus::Phase::StopPending;
    ShowOrderState();
    return !order.OrderBusy();
}

void TMain::StartOrder(std::shared_ptr<const ScheduleSlot> slot) {
    commandSent_ = Worker().StartOrder(slot);
    order.stopRequested = false;
    order.orderSlot = std::move(slot);
}

void TMain::Confirm() {
    commandSent_ = Worker().Confirm();
    order.orderBusy = true;
}

void TMain::Decline() {
    commandSent_ = Worker().Decline();
    order.orderBusy = false;
}

void TMain::Arm(std::optional<std::chrono::system_clock::time_point> release) {
    PushPatient();
    commandSent_ = Worker().Arm(release, tmrOrder->interval());
    order.orderBusy = order.timerEnabled = true;
    order.stopRequested = false;
    ShowOrderState();
}

void TMain::PushPatient() {
    if (!worker)
        return;
    const int index = rgpUser->ItemIndex();
    if (index < 0)
        worker->SetPatient(std::nullopt, {});
    else
        worker->SetPatient(rgpUser->Tag(index), rgpUser->Caption(index));
}

} // namespace quilora
