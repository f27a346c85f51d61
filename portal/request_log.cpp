#include "portal/request_log.h"

#include <nlohmann/json.hpp>
#include <stdexcept>

namespace quilora::portal {

namespace {
constexpr std::size_t kMaxEntries = 200000;
} // namespace

std::string RequestLogEntry::Param(const std::string& key) const {
    for (const auto& [k, v] : params)
        if (k == key)
            return v;
    return {};
}

std::string ToJsonLine(const RequestLogEntry& e) {
    // Ordered, so that lines keep the field order readers have seen so far.
    const nlohmann::ordered_json line = {
        {"time", e.timeMs},   {"host", e.host},         {"path", e.path},   {"query", e.query},
        {"cookie", e.cookie}, {"signedIn", e.signedIn}, {"fault", e.fault},
    };
    // A path may decode to bytes that are no UTF-8; they become U+FFFD instead of an exception.
    return line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

RequestLog::RequestLog(const std::string& path) {
    if (path.empty())
        return;
    file_.open(path, std::ios::out | std::ios::app);
    if (!file_)
        throw std::runtime_error("cannot write request log " + path);
}

void RequestLog::Add(RequestLogEntry entry) {
    const std::string line = file_.is_open() ? ToJsonLine(entry) : std::string();
    const std::lock_guard lock(mutex_);
    if (file_.is_open()) {
        file_ << line << '\n';
        file_.flush(); // readers tail the file while the portal runs
    }
    // A long run keeps the newest entries only; the file keeps them all.
    if (entries_.size() >= kMaxEntries)
        entries_.erase(entries_.begin(), entries_.begin() + kMaxEntries / 2);
    entries_.push_back(std::move(entry));
}

std::vector<RequestLogEntry> RequestLog::Entries() const {
    const std::lock_guard lock(mutex_);
    return entries_;
}

void RequestLog::Clear() {
    const std::lock_guard lock(mutex_);
    entries_.clear();
}

} // namespace quilora::portal
