#include "book/stop_signal.h"

#include <atomic>
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
    // Requests under way go on; the loop sees the flag at its next tick.
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

} // namespace quilora::book
