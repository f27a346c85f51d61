#include "app/attention.h"

#include <QApplication>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QWidget>
#include <utility>

#ifdef QUILORA_HAVE_MULTIMEDIA
#include <QSoundEffect>
#include <QUrl>

// Resources compiled into a static library must be registered by hand.
static void InitSoundResources() {
    Q_INIT_RESOURCE(sounds);
}
#endif

namespace quilora {
namespace {

AttentionHook& CurrentHook() {
    static AttentionHook hook;
    return hook;
}

void PlaySound(QWidget& window) {
#ifdef QUILORA_HAVE_MULTIMEDIA
    InitSoundResources();
    auto* sound = window.findChild<QSoundEffect*>(QStringLiteral("bookedSound"));
    if (!sound) {
        sound = new QSoundEffect(&window);
        sound->setObjectName(QStringLiteral("bookedSound"));
        sound->setSource(QUrl(QStringLiteral("qrc:/sounds/booked.wav")));
    }
    // No audio output (or no decoder): the beep still reaches the user.
    if (sound->status() != QSoundEffect::Error) {
        sound->play();
        return;
    }
#else
    (void)window;
#endif
    QApplication::beep();
}

void Notify(QWidget& window, const AttentionRequest& request) {
    if (!QSystemTrayIcon::isSystemTrayAvailable() || !QSystemTrayIcon::supportsMessages())
        return;
    auto* tray = window.findChild<QSystemTrayIcon*>(QStringLiteral("trayIcon"));
    if (!tray) {
        tray = new QSystemTrayIcon(&window);
        tray->setObjectName(QStringLiteral("trayIcon"));
        QIcon icon = window.windowIcon();
        if (icon.isNull())
            icon = window.style()->standardIcon(QStyle::SP_MessageBoxInformation);
        tray->setIcon(icon);
        tray->setToolTip(window.windowTitle());
    }
    tray->show();
    tray->showMessage(QString::fromStdString(request.title), QString::fromStdString(request.text),
                      QSystemTrayIcon::Information, 15000);
}

} // namespace

AttentionHook SetAttentionHook(AttentionHook hook) {
    return std::exchange(CurrentHook(), std::move(hook));
}

void DrawAttention(QWidget& window, const AttentionRequest& request) {
    if (const AttentionHook& hook = CurrentHook()) {
        hook(request);
        return;
    }
    QApplication::alert(&window);
    PlaySound(window);
    Notify(window, request);
}

} // namespace quilora
