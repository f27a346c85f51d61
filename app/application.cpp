#include "app/application.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
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
    } catch (...) {
        // Nothing may unwind into Qt's event or signal machinery.
        ReportError("Unknown error");
    }
}

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    // Not the display name: Qt would append that to every window caption.
    setApplicationName(QString::fromUtf8(kApplicationTitle));
    // The message boxes' buttons speak the window's language when Qt's own
    // Chinese texts are installed; without them they stay in English.
    auto* qtTexts = new QTranslator(this);
    if (qtTexts->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                      QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(qtTexts);
    else
        delete qtTexts;
}

bool Application::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    RunGuarded([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

} // namespace quilora
