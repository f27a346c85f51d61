#include "portal/request_log.h"

#include <cstdio>
#include <stdexcept>

namespace quilora::portal {

namespace {
constexpr std::size_t kMaxEntries = 200000;

void AppendJsonString(std::string& out, const std::string& s) {
    out += '"';
    for (unsigned char ch : s) {
        switch (ch) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (ch < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", ch);
                out += buf;
            } else {
                out += char(ch);
            }
        }
    }
    out += '"';
}
} // namespace

std::string RequestLogEntry::Param(const std::string& key) const {
    for (const auto& [k, v] : params)
        if (k == key)
            return v;
    return {};
}

std::string ToJsonLine(const RequestLogEntry& e) {
    std::string out = "{\"time\":" + std::to_string(e.timeMs) + ",\"host\":";
    AppendJsonString(out, e.host);
    out += ",\"path\":";
    AppendJsonString(out, e.path);
    out += ",\"query\":";
    AppendJsonString(out, e.query);
    out += e.cookie ? ",\"cookie\":true" : ",\"cookie\":false";
    out += e.signedIn ? ",\"signedIn\":true" : ",\"signedIn\":false";
    out += ",\"fault\":";
    AppendJsonString(out, e.fault);
    out += '}';
    return out;
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
