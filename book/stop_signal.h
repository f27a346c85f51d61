#pragma once
// Ctrl+C (SIGINT) and SIGTERM while auto-booking runs: the handler only raises
// a flag, and the tick loop stops at its next tick, so that a booking already
// on its way is never cut off.
namespace quilora::book {

class StopSignals {
public:
    StopSignals();  // installs the handlers and lowers the flag
    ~StopSignals(); // puts the previous handlers back
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    bool Requested() const;
};

} // namespace quilora::book
