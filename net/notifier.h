#pragma once
// Notifications sent off the caller's thread: Post queues a notice and returns
// at once; one worker thread sends the queue in order, each channel bounded,
// and reports every channel's result through the callback (on that thread).
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "net/notify_send.h"

namespace quilora {

class Notifier {
public:
    using ResultSink = std::function<void(const ChannelResult&)>;

    // grace: how long the destructor lets queued notices go out before it
    // cancels the rest.
    explicit Notifier(ResultSink onResult, SendLimits limits = {},
                      std::chrono::milliseconds grace = std::chrono::seconds(5));
    ~Notifier();
    Notifier(const Notifier&) = delete;
    Notifier& operator=(const Notifier&) = delete;

    // Queues the notice for the channels of settings, unless its event is not
    // one NotifyOn names or no channel is configured. Never blocks on the network.
    void Post(const NotifySettings& settings, Notice notice);
    // Waits until everything posted so far has been sent; false when bound passed first.
    bool WaitIdle(std::chrono::milliseconds bound);

private:
    void Run();

    ResultSink onResult_;
    const SendLimits limits_;
    const std::chrono::milliseconds grace_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::pair<NotifySettings, Notice>> queue_;
    bool sending_ = false;
    bool closing_ = false;
    std::atomic<bool> cancel_{false};
    std::thread worker_; // last: started once everything above exists
};

} // namespace quilora
