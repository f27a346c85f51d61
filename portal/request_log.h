#pragma once
// What the portal was asked: one entry per request, kept in memory for
// in-process tests and optionally appended to a file as JSON lines.
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace quilora::portal {

struct RequestLogEntry {
    std::int64_t timeMs = 0; // arrival on the portal clock, milliseconds since 1970-01-01 UTC
    std::string host;        // "main" or "script"
    std::string path;
    std::string query;                                       // as sent, still percent-encoded
    bool cookie = false;                                     // the session cookie came with the request
    bool signedIn = false;                                   // ... and names a live session
    std::string fault;                                       // the injected fault, "none" mostly
    std::vector<std::pair<std::string, std::string>> params; // decoded, UTF-8

    std::string Param(const std::string& key) const;
};

// {"time","host","path","query","cookie","signedIn","fault"} on one line, UTF-8.
std::string ToJsonLine(const RequestLogEntry& entry);

class RequestLog {
public:
    // An empty path keeps the log in memory only. Throws std::runtime_error when
    // the file cannot be opened.
    explicit RequestLog(const std::string& path);

    void Add(RequestLogEntry entry);
    std::vector<RequestLogEntry> Entries() const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::vector<RequestLogEntry> entries_;
    std::ofstream file_;
};

} // namespace quilora::portal
