#pragma once
// A webhook receiver on 127.0.0.1 for the notification tests (cpp-httplib):
// records each POST's body and Content-Type, answers with the status set.
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quilora::test {

class WebhookServer {
public:
    struct Post {
        std::string path;
        std::string contentType;
        std::string body;
    };

    WebhookServer() {
        server_.Post(".*", [this](const httplib::Request& req, httplib::Response& res) {
            {
                const std::lock_guard lock(mutex_);
                posts_.push_back({req.path, req.get_header_value("Content-Type"), req.body});
            }
            changed_.notify_all();
            res.status = status_.load();
            res.set_content(R"({"ok":true})", "application/json");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // stop() before the loop runs would leave it running for good.
        while (!server_.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~WebhookServer() {
        server_.stop();
        thread_.join();
    }
    WebhookServer(const WebhookServer&) = delete;
    WebhookServer& operator=(const WebhookServer&) = delete;

    std::string Url(const std::string& path = "/hook") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    int Port() const { return port_; }
    void AnswerWith(int status) { status_ = status; }

    std::vector<Post> Posts() const {
        const std::lock_guard lock(mutex_);
        return posts_;
    }
    bool WaitForPosts(std::size_t n, std::chrono::milliseconds bound) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, bound, [&] { return posts_.size() >= n; });
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::atomic<int> status_{200};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Post> posts_;
    std::thread thread_;
};

} // namespace quilora::test
