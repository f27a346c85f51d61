// The window's side of the portal worker: the waits of the jobs the user
// started (status, seconds, 取消), their outcomes, and the engine's state as
// the worker publishes it.
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "app/application.h"
#include "app/dialogs.h"
#include "app/tmain.h"
#include "app/window_notify.h"

namespace quilora {
namespace {

using Phase = AutoBookingStatus::Phase;

QString WaitText(JobKind kind) {
    switch (kind) {
    case JobKind::SignIn:
        return QStringLiteral("正在登录…");
    case JobKind::Patients:
        return QStringLiteral("正在获取就诊人…");
    case JobKind::Schedule:
        return QStringLiteral("正在刷新预约状态…");
    case JobKind::BookNow:
        return QStringLiteral("正在预约…");
    }
    return {};
}

std::string CancelledLine(JobKind kind) {
    switch (kind) {
    case JobKind::SignIn:
        return "已取消：登录";
    case JobKind::Patients:
        return "已取消：获取就诊人";
    case JobKind::Schedule:
        return "已取消：刷新预约状态";
    case JobKind::BookNow:
        return "已取消：预约";
    }
    return {};
}

long long SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
}

// The status in two lines, so that the counts, the last answer and the
// countdown stay visible in a narrow window: who and what first, the rest below.
QString TwoLines(const std::string& text) {
    const std::string::size_type cut = text.find(" · ");
    if (cut == std::string::npos)
        return QString::fromStdString(text);
    return QString::fromStdString(text.substr(0, cut) + "\n" + text.substr(cut + 3));
}

} // namespace

void TMain::StartWait(JobKind kind, std::uint64_t job) {
    waitJob_ = job;
    waitKind_ = kind;
    waitStart_ = std::chrono::steady_clock::now();
    registrationSent_ = false;
    // Nothing that would start another portal action while this one waits.
    for (QPushButton* b : {btnLogin, btnGetUser, btnRefreshData, btnOrder})
        b->setEnabled(false);
    btnCancel->setEnabled(true);
    lblWait->show();
    btnCancel->show();
    tmrWait->start();
    ShowWait();
}

void TMain::FinishWait() {
    waitJob_ = 0;
    for (QPushButton* b : {btnLogin, btnGetUser, btnRefreshData, btnOrder})
        b->setEnabled(true);
    lblWait->hide();
    btnCancel->hide();
    lblWait->clear();
}

void TMain::ShowWait() {
    if (waitJob_ != 0) {
        const QString what =
            registrationSent_ ? QStringLiteral("预约请求已发出，正在等待应答…") : WaitText(waitKind_);
        lblWait->setText(QStringLiteral("%1 %2 秒").arg(what).arg(SecondsSince(waitStart_)));
        lblWait->setAccessibleName(lblWait->text());
    }
    // The seconds the booking has taken, the time armed and the countdown move on between polls.
    const bool moving = order.status.phase == Phase::Booking || order.timerEnabled;
    if (moving)
        ShowOrderState();
    if (waitJob_ == 0 && !moving)
        tmrWait->stop();
}

void TMain::btnCancelClick() {
    if (waitJob_ == 0)
        return;
    if (Worker().Cancel(waitJob_) == PortalWorker::CancelAnswer::RegistrationUnderWay) {
        // It may take the number: its outcome is told when it comes.
        registrationSent_ = true;
        btnCancel->setEnabled(false);
        ShowWait();
        return;
    }
    // As if it had failed, without a box; what it still sends back is ignored,
    // but for a registration that went out meanwhile.
    const JobKind kind = waitKind_;
    if (kind == JobKind::BookNow)
        abandonedBooking_ = waitJob_;
    FinishWait();
    Log(CancelledLine(kind));
}

void TMain::JobDone(const JobOutcome& out) {
    if (out.id != waitJob_) {
        // Abandoned with 取消, which the log has said. A registration sent in the
        // instant of the click has an outcome all the same: it is told.
        if (out.id == abandonedBooking_ && !out.cancelled && out.error.empty())
            ShowHint(out.booking.message);
        return;
    }
    FinishWait();
    if (out.cancelled) {
        Log(CancelledLine(out.kind));
        return;
    }
    if (out.kind == JobKind::Schedule)
        ScheduleDone(out); // the rows that came, before any error
    if (out.kind == JobKind::BookNow)
        ShowRecord(); // whatever its end, the attempt has its row
    if (!out.error.empty()) {
        ReportError(out.error);
        return;
    }
    switch (out.kind) {
    case JobKind::SignIn:
        SignInDone(out);
        break;
    case JobKind::Patients:
        PatientsDone(out);
        break;
    case JobKind::Schedule:
        break;
    case JobKind::BookNow:
        ShowHint(out.booking.message);
        break;
    }
}

void TMain::WorkerState(const OrderState& state) {
    // A state from before the last command sent would undo what that command
    // already shows; the worker publishes again once it has taken it.
    if (state.command < commandSent_)
        return;
    if (state.status.phase == Phase::Booking && order.status.phase != Phase::Booking)
        bookingSince_ = std::chrono::steady_clock::now();
    if ((state.status.phase == Phase::Booking || state.timerEnabled) && !tmrWait->isActive())
        tmrWait->start();
    publishedAt_ = std::chrono::steady_clock::now();
    if (state.status.phase != order.status.phase)
        endedByAutoBooking_ = autoBooking_; // read before it is lowered
    // Auto-booking runs from arming to its outcome: the timer stops before the
    // booking (or the stop) of its last tick has ended.
    const Phase phase = state.status.phase;
    if (state.timerEnabled)
        autoBooking_ = true;
    else if (phase != Phase::Booking && phase != Phase::Armed && phase != Phase::StopPending)
        autoBooking_ = false;
    order = state;
    ShowOrderState();
    if (notify)
        notify->Status(order.status); // a notification when this status ends the order
}

void TMain::ShowOrderState() {
    AutoBookingStatus status = order.status;
    if (status.untilRelease) // as published, less the time since
        *status.untilRelease -= std::chrono::duration_cast<std::chrono::system_clock::duration>(
            std::chrono::steady_clock::now() - publishedAt_);
    std::string text = StatusText(status, AutoBooking::Clock::now());
    if (status.phase == Phase::Stopped && !endedByAutoBooking_)
        text = "已取消预约"; // a "2、立刻预约" left with 取消 before its registration
    if (order.status.phase == Phase::Booking)
        text += " · 已等待 " + std::to_string(SecondsSince(bookingSince_)) + " 秒";
    const QString whole = QString::fromStdString(text);
    lblStatus->setText(TwoLines(text));
    lblStatus->setToolTip(whole); // the whole line, where a narrow window cuts it
    // A screen reader hears what the line says, not only its name.
    lblStatus->setAccessibleName(whole.isEmpty() ? QStringLiteral("自动预约状态") : whole);
    lblStatus->setAccessibleDescription(whole);
    // A booking started by auto-booking may still be stopped before its registration.
    const bool autoBookingRuns = order.timerEnabled || (autoBooking_ && order.status.phase == Phase::Booking);
    btnStopAuto->setVisible(autoBookingRuns);
    btnStopAuto->setEnabled(!order.stopRequested && (order.status.phase == Phase::Armed ||
                                                     (autoBooking_ && order.status.phase == Phase::Booking)));
    if (!order.timerEnabled)
        tmrOrder->stop();
    else if (!tmrOrder->isActive())
        tmrOrder->start();
}

} // namespace quilora
