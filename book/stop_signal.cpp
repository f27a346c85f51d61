#include "book/stop_signal.h"

#include <csignal>

namespace quilora::book {

namespace {

// Lock-free, so the handler may touch it.
std::atomic<bool> stopFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void RaiseStopFlag(int) {
    stopFlag.store(true);
}

struct sigaction previousInt, previousTerm;

} // namespace

StopSignals::StopSignals() {
    stopFlag.store(false);
    struct sigaction action {};
    action.sa_handler = RaiseStopFlag;
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

bool StopSignals::Requested() const {
    return stopFlag.load();
}

const std::atomic<bool>* StopSignals::Flag() const {
    return &stopFlag;
}

} // namespace quilora::book
