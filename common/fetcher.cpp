#include "fetcher.h"

#include <algorithm>
#include <curl/curl.h>
#include <mutex>

#include "errors.h"
#include "gbk.h"
#include "log_target.h"

namespace quilora {

namespace {

constexpr const char* kGiveUpMessage = "无法连接到Quilora服务器，请检查网络后重试。";
// A page larger than this is not a portal page; the attempt fails instead of
// eating the memory.
constexpr std::size_t kMaxBody = 512u * 1024u * 1024u;

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
    WaitGuard() : target_(logWindow) {
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

} // namespace

FetchLimits LimitsFor(FetchMode mode) {
    using std::chrono::milliseconds;
    FetchLimits l;
    if (mode == FetchMode::Poll) {
        l.connectTimeout = milliseconds(1500);
        l.attemptTimeout = milliseconds(3000);
        l.attempts = 1;
        l.totalBudget = milliseconds(3000);
    }
    return l;
}

struct HttpClient::Impl {
    EasyHandle easy;
    FetchLimits interactive = LimitsFor(FetchMode::Interactive);
    FetchLimits poll = LimitsFor(FetchMode::Poll);
    char errorBuffer[CURL_ERROR_SIZE] = {};
};

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
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, impl_->errorBuffer);
}

HttpClient::~HttpClient() = default;

void HttpClient::SetLimits(FetchMode mode, const FetchLimits& limits) {
    (mode == FetchMode::Poll ? impl_->poll : impl_->interactive) = limits;
}

const FetchLimits& HttpClient::Limits(FetchMode mode) const {
    return mode == FetchMode::Poll ? impl_->poll : impl_->interactive;
}

std::string FetchPage(HttpClient& client, const PortalAddress& address, FetchMode mode) {
    using clock = std::chrono::steady_clock;
    using std::chrono::milliseconds;

    SendLogUrl(address.shown);
    WaitGuard wait;

    HttpClient::Impl& impl = client.impl();
    CURL* h = impl.easy.get();
    const FetchLimits limits = client.Limits(mode);
    const auto deadline = clock::now() + limits.totalBudget;

    std::string body;
    std::string reason = "未尝试连接";
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_URL, address.url.c_str());
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connectTimeout.count()));

    for (int attempt = 0; attempt < std::max(1, limits.attempts); ++attempt) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - clock::now());
        if (attempt > 0 && left.count() <= 0)
            break;
        // Never let one attempt run past the whole budget; 0 would mean "no limit".
        const long timeout =
            static_cast<long>(std::max<std::int64_t>(1, std::min(limits.attemptTimeout, left).count()));
        curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, timeout);

        body.clear();
        impl.errorBuffer[0] = '\0';
        const CURLcode rc = curl_easy_perform(h);
        if (rc != CURLE_OK) {
            reason = impl.errorBuffer[0] ? impl.errorBuffer : curl_easy_strerror(rc);
            continue;
        }
        if (body.empty()) {
            reason = "服务器返回了空白页面";
            continue;
        }
        const char* contentType = nullptr;
        curl_easy_getinfo(h, CURLINFO_CONTENT_TYPE, &contentType);
        std::string charset = CharsetOf(contentType);
        // A label no converter knows is treated like no label at all.
        if (!charset.empty() && !IsKnownCharset(charset))
            charset.clear();
        try {
            std::string text = CharsetToUtf8(body, charset);
            if (!text.empty())
                return text;
            reason = "服务器返回了空白页面";
        } catch (const QuiloraError&) {
            reason = "页面内容无法按" + (charset.empty() ? std::string("GBK") : charset) + "解码";
        }
    }
    throw FetchError(std::string(kGiveUpMessage) + "\n（" + reason + "）");
}

std::string FetchPage(HttpClient& client, const std::string& url, FetchMode mode) {
    return FetchPage(client, PortalAddress{url, url}, mode);
}

} // namespace quilora
