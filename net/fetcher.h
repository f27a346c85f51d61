#pragma once
// The page fetcher: one libcurl easy handle for the whole run (xmlHttp),
// with an in-memory cookie store, keep-alive and redirects.
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace quilora {

// Whoever shows the fetcher's address lines (the main window, a tool, a test):
// told of every fetch synchronously, on the calling thread, before its first attempt.
class LogTarget {
public:
    virtual ~LogTarget() = default;
    // One address per fetch; appended as a new last line of the log.
    virtual void LogUrl(std::string_view line) = 0;
    // A request is about to block the caller / has finished (wait cursor).
    virtual void BeginWait() {}
    virtual void EndWait() {}
};

// An address as sent and as shown in the log (the sign-in hides the password).
struct PortalAddress {
    std::string url;
    std::string shown;
};

enum class FetchMode {
    Interactive, // a few attempts, about 20 s at most in all
    Poll,        // one short attempt (about 3 s): an auto-booking tick
    Booking,     // sent again at once while the portal is in trouble, 15 s at most in all
};

// Which answers a request takes; the others count as failed attempts.
enum class AnswerRule {
    AnyAnswer,     // any non-empty answer, whatever its status
    NoErrorStatus, // an answer with a status of 400 or above is tried again
    // A registration: not idempotent. It goes out on a connection of its own
    // that is never reused (so the transfer library cannot resend it), and is
    // sent again only when it certainly was not taken in: no byte of it was sent
    // (refused, no such host, no connection in time), or the answer is a 503 or
    // 429, which a server gives before handling a request. Every other failure
    // ends it at once: its outcome is unknown. The cancel flag is not looked at.
    Registration,
};

struct FetchLimits {
    std::chrono::milliseconds connectTimeout{3000};
    std::chrono::milliseconds attemptTimeout{6000};
    int attempts = 3;
    std::chrono::milliseconds totalBudget{20000};
};
FetchLimits LimitsFor(FetchMode mode);

// One answer as it came, with the facts of the exchange.
struct FetchedPage {
    std::string text; // UTF-8, never empty
    long status = 0;  // HTTP status
    // The answer's Date header (whole seconds), when it had a readable one.
    std::optional<std::chrono::system_clock::time_point> date;
    // On the local clock: when the request went out and when the answer began.
    std::chrono::system_clock::time_point sent;
    std::chrono::system_clock::time_point answered;
    // A Date header more than a day away from the local clock: no clock runs
    // that far apart, so it is not taken (and `date` stays empty).
    bool dateImplausible = false;
};

// How far a portal's Date may be from the local clock and still be taken.
inline constexpr std::chrono::hours kPlausibleDateSkew{24};

class HttpClient {
public:
    HttpClient();
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Test seam: replace the limits of a mode.
    void SetLimits(FetchMode mode, const FetchLimits& limits);
    const FetchLimits& Limits(FetchMode mode) const;

    // The receiver of this client's address lines (logWindow); may be null.
    void SetLogWindow(LogTarget* target) { logWindow_ = target; }
    LogTarget* LogWindow() const { return logWindow_; }

    // Once the flag is raised, a request under way ends within a fraction of a
    // second and no further attempt starts (FetchFailure::Cancelled). A
    // registration never looks at it. The flag must outlive the client's use.
    void SetCancelFlag(const std::atomic<bool>* flag) { cancel_ = flag; }
    bool Cancelled() const { return cancel_ && cancel_->load(); }
    // From any thread, once the flag is raised: wakes the request under way at
    // once (its connection is shut down) rather than at libcurl's next progress
    // call. A registration is never woken.
    void Interrupt();
    // A registration is on its way, from its first attempt to its outcome: a
    // cancel does not stop it.
    bool RegistrationUnderWay() const { return registering_.load(); }

    struct Impl;
    Impl& impl() { return *impl_; }

private:
    std::unique_ptr<Impl> impl_;
    LogTarget* logWindow_ = nullptr;
    const std::atomic<bool>* cancel_ = nullptr;
    std::atomic<bool> registering_{false};
    friend FetchedPage Fetch(HttpClient&, const PortalAddress&, FetchMode, AnswerRule);
};

// Logs the address once, then attempts until an answer the rule takes arrives
// or the mode's bound is reached; then throws FetchError with a one-line
// reason. Bytes that are not valid in the answer's charset are read as U+FFFD.
FetchedPage Fetch(HttpClient& client, const PortalAddress& address, FetchMode mode = FetchMode::Interactive,
                  AnswerRule rule = AnswerRule::AnyAnswer);

// The answer as the patterns read it: Fetch, then the text normalised
// (lower-case ASCII, no double quotes, line breaks or tabs).
FetchedPage ReadPage(HttpClient& client, const PortalAddress& address,
                     FetchMode mode = FetchMode::Interactive, AnswerRule rule = AnswerRule::AnyAnswer);

// The text of any non-empty answer, whatever its status; never empty.
std::string FetchPage(HttpClient& client, const PortalAddress& address,
                      FetchMode mode = FetchMode::Interactive);
std::string FetchPage(HttpClient& client, const std::string& url, FetchMode mode = FetchMode::Interactive);

} // namespace quilora
