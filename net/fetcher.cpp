#include "net/fetcher.h"

#include <algorithm>
#include <cstdio>
#include <curl/curl.h>
#include <mutex>
#include <set>
#include <thread>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "common/errors.h"
#include "common/gbk.h"
#include "common/normalise.h"

namespace quilora {

namespace {

using SystemClock = std::chrono::system_clock;
using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* kGiveUpMessage = "无法连接到Quilora服务器，请检查网络后重试。";
// A page larger than this is not a portal page; the attempt fails instead of
// eating the memory.
constexpr std::size_t kMaxBody = 512u * 1024u * 1024u;
// Attempts that fail at once are still spaced a little, so that a refusing or
// overloaded portal is not hammered in a tight loop; a registration the portal
// turned away is given more room.
constexpr milliseconds kMinAttemptSpacing{10};
constexpr milliseconds kMinRegistrationSpacing{100};

struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK)
            throw QuiloraError("网络组件初始化失败。");
    });
}

std::size_t WriteBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* body = static_cast<std::string*>(user);
    const std::size_t n = size * count;
    if (body->size() + n > kMaxBody)
        return 0; // aborts the transfer
    body->append(data, n);
    return n;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
        if (c != prefix[i])
            return false;
    }
    return true;
}

// Keeps the Date header of the last answer (a redirect's headers are forgotten).
std::size_t ReadHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* date = static_cast<std::string*>(user);
    const std::size_t n = size * count;
    const std::string_view line(data, n);
    if (StartsWithNoCase(line, "http/"))
        date->clear();
    else if (StartsWithNoCase(line, "date:"))
        *date = std::string(line.substr(5));
    return n;
}

// The charset parameter of a Content-Type value, or empty.
std::string CharsetOf(const char* contentType) {
    if (!contentType)
        return {};
    std::string ct(contentType);
    std::string lower(ct);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : static_cast<char>(c);
    });
    const auto at = lower.find("charset=");
    if (at == std::string::npos)
        return {};
    std::string value = ct.substr(at + 8);
    const auto end = value.find_first_of("; \t");
    if (end != std::string::npos)
        value.resize(end);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}

class WaitGuard {
public:
    explicit WaitGuard(LogTarget* target) : target_(target) {
        if (target_)
            target_->BeginWait();
    }
    ~WaitGuard() {
        if (target_)
            target_->EndWait();
    }
    WaitGuard(const WaitGuard&) = delete;
    WaitGuard& operator=(const WaitGuard&) = delete;

private:
    LogTarget* target_;
};

// Aborts a transfer once the client's cancel flag is raised; the data is the
// client, or null for a request that must not be cut off.
int CancelProgress(void* client, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return client != nullptr && static_cast<const HttpClient*>(client)->Cancelled() ? 1 : 0;
}

// What one exchange gave.
struct Attempt {
    std::optional<FetchFailure> failure; // none: an answer with a body
    long status = 0;
    CURLcode code = CURLE_OK;
    bool requestSent = false; // some byte of the request went out
    FetchedPage page;
};

enum class Verdict { Take, Retry, GiveUp };

Verdict Judge(AnswerRule rule, Attempt& a) {
    if (a.failure == FetchFailure::Cancelled)
        return Verdict::GiveUp;
    switch (rule) {
    case AnswerRule::AnyAnswer:
        return a.failure ? Verdict::Retry : Verdict::Take;
    case AnswerRule::NoErrorStatus:
        if (!a.failure && a.status >= 400)
            a.failure = FetchFailure::ErrorStatus;
        return a.failure ? Verdict::Retry : Verdict::Take;
    case AnswerRule::Registration:
        if (!a.failure) {
            if (a.status < 400)
                return Verdict::Take;
            a.failure = FetchFailure::ErrorStatus;
            // Turned away before it was handled: nothing was taken.
            return a.status == 503 || a.status == 429 ? Verdict::Retry : Verdict::GiveUp;
        }
        return a.requestSent ? Verdict::GiveUp : Verdict::Retry;
    }
    return Verdict::Retry;
}

FetchFailure FailureOf(CURLcode code) {
    switch (code) {
    case CURLE_COULDNT_CONNECT:
        return FetchFailure::Refused;
    case CURLE_OPERATION_TIMEDOUT:
        return FetchFailure::TimedOut;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
        return FetchFailure::Dropped;
    case CURLE_WRITE_ERROR:
        return FetchFailure::Unreadable;
    case CURLE_ABORTED_BY_CALLBACK:
        return FetchFailure::Cancelled;
    default:
        return FetchFailure::Network;
    }
}

std::string Seconds(SteadyClock::duration d) {
    const double s = std::chrono::duration<double>(d).count();
    char text[32];
    std::snprintf(text, sizeof text, s < 10 ? "%.1f" : "%.0f", s);
    return text;
}

// The reason of a request that gave up, in the words the window shows.
std::string ReasonOf(const Attempt& a, SteadyClock::duration waited) {
    switch (*a.failure) {
    case FetchFailure::Refused:
        return "服务器拒绝连接";
    case FetchFailure::TimedOut:
        return "等待 " + Seconds(waited) + " 秒仍无应答";
    case FetchFailure::Dropped:
        return "连接中断，没有收到应答";
    case FetchFailure::Empty:
        return "服务器返回了空白页面";
    case FetchFailure::ErrorStatus:
        return "服务器返回错误 " + std::to_string(a.status);
    case FetchFailure::Unreadable:
        return "服务器的应答无法读取";
    case FetchFailure::Cancelled:
        return "已取消";
    case FetchFailure::Network:
        break;
    }
    if (a.code == CURLE_COULDNT_RESOLVE_HOST || a.code == CURLE_COULDNT_RESOLVE_PROXY)
        return "找不到服务器地址";
    if (a.code == CURLE_URL_MALFORMAT || a.code == CURLE_UNSUPPORTED_PROTOCOL)
        return "服务器地址无效";
    return "网络错误 " + std::to_string(static_cast<int>(a.code));
}

SystemClock::time_point After(SystemClock::time_point start, curl_off_t micros) {
    return start + std::chrono::duration_cast<SystemClock::duration>(std::chrono::microseconds(micros));
}

Attempt Exchange(CURL* h, std::string& body, std::string& date, long timeoutMs) {
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, timeoutMs);
    body.clear();
    date.clear();
    Attempt a;
    const auto start = SystemClock::now();
    a.code = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &a.status);
    long requestSize = 0;
    curl_easy_getinfo(h, CURLINFO_REQUEST_SIZE, &requestSize);
    a.requestSent = requestSize > 0;
    if (a.code != CURLE_OK) {
        a.failure = FailureOf(a.code);
        return a;
    }
    if (body.empty()) {
        a.failure = FetchFailure::Empty;
        return a;
    }
    const char* contentType = nullptr;
    curl_easy_getinfo(h, CURLINFO_CONTENT_TYPE, &contentType);
    std::string charset = CharsetOf(contentType);
    // A label no converter knows is treated like no label at all.
    if (!charset.empty() && !IsKnownCharset(charset))
        charset.clear();
    a.page.text = CharsetToUtf8(body, charset);
    a.page.status = a.status;
    curl_off_t pretransfer = 0, firstByte = 0;
    curl_easy_getinfo(h, CURLINFO_PRETRANSFER_TIME_T, &pretransfer);
    curl_easy_getinfo(h, CURLINFO_STARTTRANSFER_TIME_T, &firstByte);
    a.page.sent = After(start, pretransfer);
    a.page.answered = After(start, firstByte);
    if (!date.empty()) {
        // Compared in seconds first: a date of year 9999 does not fit the clock's
        // nanoseconds.
        const time_t t = curl_getdate(date.c_str(), nullptr);
        const auto local = std::chrono::duration_cast<std::chrono::seconds>(start.time_since_epoch()).count();
        const auto skew = static_cast<long long>(t) - static_cast<long long>(local);
        const long long limit = std::chrono::duration_cast<std::chrono::seconds>(kPlausibleDateSkew).count();
        if (t != -1 && skew >= -limit && skew <= limit)
            a.page.date = SystemClock::from_time_t(t);
        else if (t != -1)
            a.page.dateImplausible = true;
    }
    return a;
}

} // namespace

FetchLimits LimitsFor(FetchMode mode) {
    FetchLimits l;
    switch (mode) {
    case FetchMode::Interactive:
        break;
    case FetchMode::Poll:
        l.connectTimeout = milliseconds(1500);
        l.attemptTimeout = milliseconds(3000);
        l.attempts = 1;
        l.totalBudget = milliseconds(3000);
        break;
    case FetchMode::Booking:
        l.connectTimeout = milliseconds(1500);
        l.attemptTimeout = milliseconds(5000);
        l.attempts = 100000; // bounded by the budget
        l.totalBudget = milliseconds(15000);
        break;
    }
    return l;
}

struct HttpClient::Impl {
    EasyHandle easy;
    FetchLimits limits[3] = {LimitsFor(FetchMode::Interactive), LimitsFor(FetchMode::Poll),
                             LimitsFor(FetchMode::Booking)};
    // The client's open sockets, so that Interrupt can wake the exchange under
    // way from another thread; guarded by mutex, as is exchanging.
    std::mutex mutex;
    std::set<curl_socket_t> sockets;
    bool exchanging = false;
};

namespace {

curl_socket_t OpenSocket(void* user, curlsocktype, curl_sockaddr* address) {
    auto* impl = static_cast<HttpClient::Impl*>(user);
    const curl_socket_t s = socket(address->family, address->socktype, address->protocol);
    if (s != CURL_SOCKET_BAD) {
        const std::lock_guard lock(impl->mutex);
        impl->sockets.insert(s);
    }
    return s;
}

int CloseSocket(void* user, curl_socket_t s) {
    auto* impl = static_cast<HttpClient::Impl*>(user);
    const std::lock_guard lock(impl->mutex);
    impl->sockets.erase(s);
#ifdef _WIN32
    closesocket(s);
#else
    close(s);
#endif
    return 0;
}

// Marks the registration under way from its first attempt to the fetch's end.
class RegistrationMark {
public:
    RegistrationMark(std::atomic<bool>& flag, std::mutex& mutex, bool on) : flag_(flag), on_(on) {
        if (on_) {
            const std::lock_guard lock(mutex);
            flag_ = true;
        }
    }
    ~RegistrationMark() {
        if (on_)
            flag_ = false;
    }
    RegistrationMark(const RegistrationMark&) = delete;
    RegistrationMark& operator=(const RegistrationMark&) = delete;

private:
    std::atomic<bool>& flag_;
    bool on_;
};

} // namespace

HttpClient::HttpClient() : impl_(std::make_unique<Impl>()) {
    GlobalInit();
    impl_->easy.reset(curl_easy_init());
    CURL* h = impl_->easy.get();
    if (!h)
        throw QuiloraError("网络组件初始化失败。");
    // An empty file name switches on the in-memory cookie store without reading
    // a file: the sign-in's cookies then go with every later request.
    curl_easy_setopt(h, CURLOPT_COOKIEFILE, "");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 10L);
#if LIBCURL_VERSION_NUM >= 0x075500
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
#endif
    curl_easy_setopt(h, CURLOPT_TCP_KEEPALIVE, 1L);
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L); // time-outs without SIGALRM
    // gzip is cheap for both ends; brotli costs the portal more than the transfer saves.
    curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, "gzip, deflate");
    curl_easy_setopt(h, CURLOPT_USERAGENT, "Mozilla/5.0 (Windows NT 10.0; Win64; x64)");
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &WriteBody);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &ReadHeader);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &CancelProgress);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, &OpenSocket);
    curl_easy_setopt(h, CURLOPT_OPENSOCKETDATA, impl_.get());
    curl_easy_setopt(h, CURLOPT_CLOSESOCKETFUNCTION, &CloseSocket);
    curl_easy_setopt(h, CURLOPT_CLOSESOCKETDATA, impl_.get());
}

HttpClient::~HttpClient() {
    // The handle closes its sockets through CloseSocket, which needs impl_.
    impl_->easy.reset();
}

void HttpClient::Interrupt() {
    const std::lock_guard lock(impl_->mutex);
    if (!impl_->exchanging || registering_)
        return;
    for (const curl_socket_t s : impl_->sockets) {
#ifdef _WIN32
        shutdown(s, SD_BOTH);
#else
        shutdown(s, SHUT_RDWR);
#endif
    }
}

void HttpClient::SetLimits(FetchMode mode, const FetchLimits& limits) {
    impl_->limits[static_cast<int>(mode)] = limits;
}

const FetchLimits& HttpClient::Limits(FetchMode mode) const {
    return impl_->limits[static_cast<int>(mode)];
}

FetchedPage Fetch(HttpClient& client, const PortalAddress& address, FetchMode mode, AnswerRule rule) {
    LogTarget* const logWindow = client.LogWindow();
    if (logWindow)
        logWindow->LogUrl(address.shown);
    const WaitGuard wait(logWindow);

    CURL* h = client.impl().easy.get();
    const FetchLimits limits = client.Limits(mode);
    const auto first = SteadyClock::now();
    const auto deadline = first + limits.totalBudget;

    const bool registration = rule == AnswerRule::Registration;
    const RegistrationMark mark(client.registering_, client.impl().mutex, registration);
    std::string body, date;
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_URL, address.url.c_str());
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &date);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeout.count()));
    // A registration gets a connection of its own, closed after it: on a reused
    // keep-alive connection that the server has closed, libcurl would send it
    // again by itself.
    curl_easy_setopt(h, CURLOPT_FRESH_CONNECT, registration ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_FORBID_REUSE, registration ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, registration ? nullptr : &client);
    const milliseconds minSpacing = registration ? kMinRegistrationSpacing : kMinAttemptSpacing;

    Attempt last;
    bool unknownOutcome = false;
    for (int attempt = 0; attempt < std::max(1, limits.attempts); ++attempt) {
        if (!registration && client.Cancelled()) {
            last = Attempt{};
            last.failure = FetchFailure::Cancelled;
            break;
        }
        const auto started = SteadyClock::now();
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - started);
        if (attempt > 0 && left.count() <= 0)
            break;
        // Never let one attempt run past the whole budget; 0 would mean "no limit".
        const long timeout =
            static_cast<long>(std::max<std::int64_t>(1, std::min(limits.attemptTimeout, left).count()));
        {
            const std::lock_guard lock(client.impl().mutex);
            client.impl().exchanging = true;
        }
        last = Exchange(h, body, date, timeout);
        {
            const std::lock_guard lock(client.impl().mutex);
            client.impl().exchanging = false;
        }
        // A connection shut down by Interrupt fails; what counts is the cancel.
        if (!registration && last.failure && client.Cancelled())
            last.failure = FetchFailure::Cancelled;
        const Verdict verdict = Judge(rule, last);
        if (verdict == Verdict::Take)
            return std::move(last.page);
        if (verdict == Verdict::GiveUp) {
            unknownOutcome = registration;
            break;
        }
        const auto spacing = started + minSpacing;
        if (spacing < deadline && SteadyClock::now() < spacing)
            std::this_thread::sleep_until(spacing);
    }
    throw FetchError(std::string(kGiveUpMessage) + "（" + ReasonOf(last, SteadyClock::now() - first) + "）",
                     *last.failure, last.status, unknownOutcome);
}

FetchedPage ReadPage(HttpClient& client, const PortalAddress& address, FetchMode mode, AnswerRule rule) {
    FetchedPage page = Fetch(client, address, mode, rule);
    page.text = NormalisePage(std::move(page.text));
    return page;
}

std::string FetchPage(HttpClient& client, const PortalAddress& address, FetchMode mode) {
    return Fetch(client, address, mode).text;
}

std::string FetchPage(HttpClient& client, const std::string& url, FetchMode mode) {
    return FetchPage(client, PortalAddress{url, url}, mode);
}

} // namespace quilora
