// SIGINT and SIGTERM raise the stop flag.
#include "book/stop_signal.h"

#include <csignal>

namespace quilora::book {

namespace {

extern "C" void OnStopSignal(int) {
    RaiseStopFlag();
}

struct sigaction previousInt, previousTerm;

} // namespace

StopSignals::StopSignals() {
    LowerStopFlag();
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // The flag is read by the HTTP client and the tick loop; nothing is cut here.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
}

StopSignals::~StopSignals() {
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
}

} // namespace quilora::book
