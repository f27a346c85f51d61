// Ctrl+C, Ctrl+Break and the console's close button raise the stop flag.
#include "book/stop_signal.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace quilora::book {

namespace {

// Set when the command is over (the StopSignals object goes), so that a
// closing console waits for it.
HANDLE finished = nullptr;

// Windows ends the process when this returns for a closing console, logoff or
// shutdown, and at the latest about 5 s after: it waits for the command to
// finish (a registration under way to be answered and told) within that time.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    RaiseStopFlag();
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        if (finished)
            ::WaitForSingleObject(finished, 4500);
    }
    return TRUE;
}

} // namespace

StopSignals::StopSignals() {
    LowerStopFlag();
    if (!finished)
        finished = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    else
        ::ResetEvent(finished);
    ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

StopSignals::~StopSignals() {
    ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    if (finished)
        ::SetEvent(finished);
}

} // namespace quilora::book
