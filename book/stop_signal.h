#pragma once
// Ctrl+C (SIGINT) and SIGTERM in every command, and on Windows Ctrl+Break
// and a closing console too: the handler only raises a flag. Waits and polls end on it at once (the HTTP
// client's cancel flag); a registration under way is never cut off: its answer is awaited and told.
#include <atomic>

namespace quilora::book {

class StopSignals {
public:
    StopSignals();  // installs the handlers and lowers the flag
    ~StopSignals(); // puts the previous handlers back
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    bool Requested() const;
    const std::atomic<bool>* Flag() const;
};

// For the handlers of each system (stop_signal_posix.cpp, stop_signal_win.cpp).
void RaiseStopFlag();
void LowerStopFlag();

} // namespace quilora::book
