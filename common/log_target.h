#pragma once
// The receiver of the fetcher's address lines: the main window registers itself
// here at start-up and every page fetch reports to it synchronously, on the
// calling thread, before its first attempt.
#include <string_view>

namespace quilora {

class LogTarget {
public:
    virtual ~LogTarget() = default;
    // One address per fetch; appended as a new last line of the log memo.
    virtual void LogUrl(std::string_view line) = 0;
    // A request is about to block the window / has finished (wait cursor).
    virtual void BeginWait() {}
    virtual void EndWait() {}
};

// Process-wide handle of the window that receives the address lines; may be null.
extern LogTarget* logWindow;

// Delivers one line to logWindow, if any.
void SendLogUrl(std::string_view line);

} // namespace quilora
