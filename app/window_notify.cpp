#include "app/window_notify.h"

#include <QMetaObject>
#include <QPointer>

#include "common/settings.h"

namespace quilora {

namespace {

// Closing the window waits this long for a notice still on its way.
constexpr std::chrono::seconds kCloseGrace{3};

} // namespace

WindowNotify::WindowNotify(QString settingsPath, Shown shown, QObject* parent)
    : QObject(parent), settingsPath_(std::move(settingsPath)), shown_(std::move(shown)) {}

WindowNotify::~WindowNotify() = default;

void WindowNotify::SetLimits(const SendLimits& limits) {
    limits_ = limits;
    notifier_.reset();
}

void WindowNotify::Status(const AutoBookingStatus& status) {
    if (auto notice = notices_.Next(status))
        Post(std::move(*notice));
}

void WindowNotify::Post(Notice notice) {
    NotifySettings settings;
    try {
        settings = ReadNotifySettings(ProfileFile(settingsPath_.toStdString()));
    } catch (const std::exception&) {
        return; // an unreadable Config.ini must not cost the outcome's box
    }
    if (!notifier_) {
        notifier_ = std::make_unique<Notifier>(
            [this](const ChannelResult& r) {
                // Back to the window's thread; dropped once this object is gone.
                QMetaObject::invokeMethod(
                    this,
                    [this, r] {
                        if (shown_)
                            shown_(r);
                    },
                    Qt::QueuedConnection);
            },
            limits_, kCloseGrace);
    }
    notifier_->Post(settings, std::move(notice));
}

} // namespace quilora
