#include "net/notifier.h"

namespace quilora {

Notifier::Notifier(ResultSink onResult, SendLimits limits, std::chrono::milliseconds grace)
    : onResult_(std::move(onResult)), limits_(limits), grace_(grace), worker_([this] { Run(); }) {}

Notifier::~Notifier() {
    WaitIdle(grace_);
    {
        const std::lock_guard lock(mutex_);
        closing_ = true;
        queue_.clear();
    }
    cancel_ = true; // a send still running stops at its next progress check
    wake_.notify_all();
    worker_.join();
}

void Notifier::Post(const NotifySettings& settings, Notice notice) {
    if (!settings.Wants(notice.event) || (!settings.MailConfigured() && !settings.WebhookConfigured()))
        return;
    {
        const std::lock_guard lock(mutex_);
        if (closing_)
            return;
        queue_.emplace_back(settings, std::move(notice));
    }
    wake_.notify_one();
}

bool Notifier::WaitIdle(std::chrono::milliseconds bound) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, bound, [this] { return queue_.empty() && !sending_; });
}

void Notifier::Run() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
        if (closing_)
            return;
        auto [settings, notice] = std::move(queue_.front());
        queue_.pop_front();
        sending_ = true;
        lock.unlock();
        // Nothing thrown here may end the worker: the queue would stall for good.
        try {
            const std::vector<ChannelResult> results = SendToChannels(settings, notice, limits_, &cancel_);
            if (onResult_)
                for (const ChannelResult& r : results)
                    onResult_(r);
        } catch (...) {
        }
        lock.lock();
        sending_ = false;
        if (queue_.empty())
            idle_.notify_all();
    }
}

} // namespace quilora
