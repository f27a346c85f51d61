#pragma once
// The page fetcher: one libcurl easy handle for the whole run (xmlHttp),
// with an in-memory cookie store, keep-alive and redirects.
#include <chrono>
#include <memory>
#include <string>

namespace quilora {

// An address as sent and as shown in the log (the sign-in hides the password).
struct PortalAddress {
    std::string url;
    std::string shown;
};

enum class FetchMode {
    Interactive, // a few attempts, about 20 s at most in all
    Poll,        // one short attempt (about 3 s): an auto-booking tick
};

struct FetchLimits {
    std::chrono::milliseconds connectTimeout{3000};
    std::chrono::milliseconds attemptTimeout{6000};
    int attempts = 3;
    std::chrono::milliseconds totalBudget{20000};
};
FetchLimits LimitsFor(FetchMode mode);

class HttpClient {
public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Test seam: replace the limits of a mode.
    void SetLimits(FetchMode mode, const FetchLimits& limits);
    const FetchLimits& Limits(FetchMode mode) const;

    struct Impl;
    Impl& impl() { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
};

// Logs the address once, then attempts until a non-empty, decodable body
// arrives (any HTTP status) or the mode's bound is reached; then throws
// FetchError. The result is UTF-8 and never empty.
std::string FetchPage(HttpClient& client, const PortalAddress& address, FetchMode mode = FetchMode::Interactive);
std::string FetchPage(HttpClient& client, const std::string& url, FetchMode mode = FetchMode::Interactive);

} // namespace quilora
