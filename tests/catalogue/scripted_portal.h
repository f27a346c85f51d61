#pragma once
// A portal whose answers a test writes itself, for the pages the demo portal
// never serves (empty lists in the middle of a script, 45 doctors in all).
// Both hosts are the one loopback server; unknown addresses answer 404.
#include <httplib.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "net/portal_address.h"

namespace quilora::test {

class ScriptedPortal {
public:
    ScriptedPortal() {
        server_.set_keep_alive_timeout(0); // a stopped server joins at once
        server_.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
            std::string target = req.path;
            if (!req.params.empty()) {
                target += '?';
                bool first = true;
                for (const auto& [k, v] : req.params) {
                    target += (first ? "" : "&") + k + "=" + v;
                    first = false;
                }
            }
            std::lock_guard lock(mutex_);
            requests_.push_back(target);
            const auto it = pages_.find(target);
            if (it == pages_.end()) {
                res.status = 404;
                res.set_content("<html>not found</html>", "text/html; charset=utf-8");
                return;
            }
            res.set_content(it->second, "text/html; charset=utf-8");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // stop() before the loop runs would be lost and the join would hang.
        while (!server_.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~ScriptedPortal() {
        server_.stop();
        thread_.join();
    }
    ScriptedPortal(const ScriptedPortal&) = delete;
    ScriptedPortal& operator=(const ScriptedPortal&) = delete;

    // target: path and query as requested, e.g. "/Action/GHTHosdept.ashx?hid=7".
    void Serve(const std::string& target, std::string body) {
        std::lock_guard lock(mutex_);
        pages_[target] = std::move(body);
    }
    std::vector<std::string> Requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }
    PortalHosts Hosts() const {
        PortalHosts h;
        h.portalUrl = h.scriptUrl = "http://127.0.0.1:" + std::to_string(port_);
        h.charset = "UTF-8";
        return h;
    }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::map<std::string, std::string> pages_;
    std::vector<std::string> requests_;
};

} // namespace quilora::test
