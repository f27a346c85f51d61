#pragma once
// The application object and the default error report. Errors are C++
// exceptions that end the running handler; they are shown here, in one place,
// and never cross Qt's signal or event machinery.
#include <QApplication>
#include <functional>
#include <string>
#include <string_view>

namespace quilora {

inline constexpr char kApplicationTitle[] = "Quilora自动预约系统";

// The report's text: a "." is appended when the text is not empty and its last
// byte compares greater than '.' (the last byte of every non-ASCII character does).
std::string ErrorReportText(std::string_view text);

// Shows the default error report: error icon, OK, the application title as caption.
void ReportError(std::string_view text);

// Runs fn; reports what it throws and swallows the silent abort of AbortWithHint.
void RunGuarded(const std::function<void()>& fn);

// A slot for connect(): calls obj->fn() through RunGuarded.
template <class T> auto Guarded(T* obj, void (T::*fn)()) {
    return [obj, fn] { RunGuarded([obj, fn] { (obj->*fn)(); }); };
}

class Application : public QApplication {
public:
    Application(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace quilora
