#pragma once
// The window's notifications of auto-booking's outcomes: the tracker sees
// every published status, the notifier sends off the window's thread, and
// each channel's result comes back on the window's thread.
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "net/notifier.h"
#include "workflow/outcome_notice.h"

namespace quilora {

class WindowNotify : public QObject {
    Q_OBJECT
public:
    using Shown = std::function<void(const ChannelResult&)>;
    // settingsPath: Config.ini, read at each notice so that a saved change counts at once.
    WindowNotify(QString settingsPath, Shown shown, QObject* parent = nullptr);
    ~WindowNotify() override;

    // Every status the engine publishes (one thread at a time).
    void Status(const AutoBookingStatus& status);

    // Test seam: the bounds of each send.
    void SetLimits(const SendLimits& limits);

private:
    void Post(Notice notice);

    QString settingsPath_;
    Shown shown_;
    OutcomeNotices notices_;
    SendLimits limits_;
    std::unique_ptr<Notifier> notifier_; // started by the first notice
};

} // namespace quilora
