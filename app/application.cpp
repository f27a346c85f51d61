#include "app/application.h"

#include <exception>

#include "app/dialogs.h"
#include "common/errors.h"

namespace quilora {

std::string ErrorReportText(std::string_view text) {
    std::string shown(text);
    if (!shown.empty() && static_cast<unsigned char>(shown.back()) > static_cast<unsigned char>('.'))
        shown += '.';
    return shown;
}

void ReportError(std::string_view text) {
    std::string caption =
        QCoreApplication::instance() ? QCoreApplication::applicationName().toStdString() : std::string();
    if (caption.empty())
        caption = kApplicationTitle;
    ShowMessage(MessageRequest{ErrorReportText(text), caption, kMbIconError | kMbOk});
}

void RunGuarded(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const SilentAbort&) {
        // The hint has been shown already.
    } catch (const std::exception& e) {
        ReportError(e.what());
    }
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    // Not the display name: Qt would append that to every window caption.
    setApplicationName(QString::fromUtf8(kApplicationTitle));
}

bool Application::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    RunGuarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

} // namespace quilora
