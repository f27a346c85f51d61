#include "book/stop_signal.h"

namespace quilora::book {

namespace {

// Lock-free, so a signal handler may touch it.
std::atomic<bool> stopFlag{false};
static_assert(std::atomic<bool>::is_always_lock_free);

} // namespace

void RaiseStopFlag() {
    stopFlag.store(true);
}

void LowerStopFlag() {
    stopFlag.store(false);
}

bool StopSignals::Requested() const {
    return stopFlag.load();
}

const std::atomic<bool>* StopSignals::Flag() const {
    return &stopFlag;
}

} // namespace quilora::book
