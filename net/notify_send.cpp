#include "net/notify_send.h"

#include <cstring>
#include <curl/curl.h>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>

#include "net/mail_message.h"

namespace quilora {

namespace {

constexpr const char* kMailChannel = "邮件";
constexpr const char* kWebhookChannel = "Webhook";
// A webhook's answer is not read; a large one is cut off rather than kept.
constexpr std::size_t kMaxAnswer = 64u * 1024u;

struct EasyDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;

struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

void Append(Slist& list, const std::string& line) {
    curl_slist* const grown = curl_slist_append(list.get(), line.c_str());
    if (grown) {
        list.release();
        list.reset(grown);
    }
}

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return out;
}

bool HasScheme(std::string_view url, std::string_view scheme) {
    return Lower(url.substr(0, scheme.size() + 3)) == std::string(scheme) + "://";
}

std::string HostName(std::string_view url) {
    std::string host = UrlHost(url);
    if (!host.empty() && host.front() == '[')
        return host.substr(1, host.find(']') - 1);
    return host.substr(0, host.rfind(':') == std::string::npos ? host.size() : host.rfind(':'));
}

// A relay on this machine: the password does not cross a network.
bool IsLoopback(std::string_view url) {
    const std::string host = Lower(HostName(url));
    return host == "localhost" || host == "::1" || host.rfind("127.", 0) == 0;
}

int Progress(void* cancel, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    const auto* flag = static_cast<const std::atomic<bool>*>(cancel);
    return flag && flag->load() ? 1 : 0;
}

std::size_t Discard(char*, std::size_t size, std::size_t count, void* user) {
    auto* received = static_cast<std::size_t*>(user);
    *received += size * count;
    return *received > kMaxAnswer ? 0 : size * count;
}

struct Upload {
    std::string_view rest;
};

std::size_t ReadUpload(char* buffer, std::size_t size, std::size_t count, void* user) {
    auto* up = static_cast<Upload*>(user);
    const std::size_t n = std::min(size * count, up->rest.size());
    std::memcpy(buffer, up->rest.data(), n);
    up->rest.remove_prefix(n);
    return n;
}

EasyHandle NewHandle(const SendLimits& limits, const std::atomic<bool>* cancel) {
    GlobalInit();
    EasyHandle h(curl_easy_init());
    if (!h)
        return h;
    const long timeout = static_cast<long>(limits.timeout.count());
    curl_easy_setopt(h.get(), CURLOPT_TIMEOUT_MS, timeout);
    curl_easy_setopt(h.get(), CURLOPT_CONNECTTIMEOUT_MS, timeout);
    curl_easy_setopt(h.get(), CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h.get(), CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h.get(), CURLOPT_XFERINFOFUNCTION, &Progress);
    curl_easy_setopt(h.get(), CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(cancel));
    return h;
}

struct Outcome {
    CURLcode code = CURLE_OK;
    long status = 0; // the last SMTP reply code or HTTP status
};

std::string Seconds(std::chrono::milliseconds d) {
    const long long s = (d.count() + 999) / 1000;
    return std::to_string(s);
}

// What went wrong, in the words the log shows.
std::string ReasonOf(const Outcome& o, bool http, const SendLimits& limits) {
    switch (o.code) {
    case CURLE_OK:
        return "服务器返回 " + std::to_string(o.status);
    case CURLE_COULDNT_CONNECT:
        return "服务器拒绝连接";
    case CURLE_OPERATION_TIMEDOUT:
        return "等待 " + Seconds(limits.timeout) + " 秒仍无应答";
    case CURLE_COULDNT_RESOLVE_HOST:
        return "找不到服务器地址";
    case CURLE_LOGIN_DENIED:
        return "用户名或密码被拒绝";
    case CURLE_USE_SSL_FAILED:
        return "服务器不支持加密连接，密码未发送";
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
        return "加密连接失败";
    case CURLE_ABORTED_BY_CALLBACK:
        return "已取消";
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
        return "地址无效";
    default:
        break;
    }
    if (!http && o.status >= 400)
        return "服务器拒绝（" + std::to_string(o.status) + "）";
    if (o.code == CURLE_GOT_NOTHING || o.code == CURLE_RECV_ERROR || o.code == CURLE_SEND_ERROR)
        return "连接中断";
    return "网络错误 " + std::to_string(static_cast<int>(o.code));
}

// Worth a second attempt: not a refusal that would only be repeated.
bool MayPass(const Outcome& o, bool http) {
    switch (o.code) {
    case CURLE_OK:
        return o.status >= 500 || o.status == 429;
    case CURLE_LOGIN_DENIED:
    case CURLE_USE_SSL_FAILED:
    case CURLE_ABORTED_BY_CALLBACK:
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_PEER_FAILED_VERIFICATION:
        return false;
    default:
        return http || o.status < 500; // an SMTP 5xx is a permanent refusal
    }
}

// Runs perform up to the attempts, stopping at success, a lasting refusal or a cancel.
template <typename Perform>
ChannelResult Attempt(ChannelResult r, bool http, const SendLimits& limits, const std::atomic<bool>* cancel,
                      Perform perform) {
    Outcome o;
    for (int attempt = 0; attempt < std::max(1, limits.attempts); ++attempt) {
        if (cancel && cancel->load()) {
            o = Outcome{CURLE_ABORTED_BY_CALLBACK, 0};
            break;
        }
        o = perform();
        const bool ok = o.code == CURLE_OK && (!http || (o.status >= 200 && o.status < 300));
        if (ok) {
            r.ok = true;
            r.reason.clear();
            return r;
        }
        if (!MayPass(o, http))
            break;
    }
    r.reason = ReasonOf(o, http, limits);
    return r;
}

ChannelResult Refuse(ChannelResult r, std::string reason) {
    r.ok = false;
    r.reason = std::move(reason);
    return r;
}

} // namespace

std::string ChannelResult::Line() const {
    return channel + "（" + target + "）：" + (ok ? std::string("发送成功") : reason);
}

std::string NoticeLine(const ChannelResult& result) {
    return (result.ok ? std::string("通知已发送：") : std::string(kNotifyFailedPrefix)) + result.Line();
}

std::string UrlHost(std::string_view url) {
    const auto scheme = url.find("://");
    if (scheme != std::string_view::npos)
        url.remove_prefix(scheme + 3);
    url = url.substr(0, url.find_first_of("/?#"));
    if (const auto at = url.rfind('@'); at != std::string_view::npos)
        url.remove_prefix(at + 1);
    return std::string(url);
}

std::string FillWebhookBody(std::string_view tmpl, const Notice& notice) {
    if (tmpl.empty())
        tmpl = kDefaultWebhookBody;
    const auto escaped = [](const std::string& value) {
        // Bytes that are not UTF-8 become U+FFFD rather than breaking the JSON.
        const std::string quoted =
            nlohmann::json(value).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
        return quoted.substr(1, quoted.size() - 2);
    };
    const std::pair<std::string_view, std::string> fields[] = {{"{title}", escaped(notice.title)},
                                                               {"{text}", escaped(notice.text)},
                                                               {"{event}", escaped(notice.event)}};
    std::string out;
    // One pass: a value that itself holds "{title}" is not filled again.
    for (std::size_t i = 0; i < tmpl.size();) {
        bool filled = false;
        for (const auto& [name, value] : fields) {
            if (tmpl.substr(i, name.size()) == name) {
                out += value;
                i += name.size();
                filled = true;
                break;
            }
        }
        if (!filled)
            out += tmpl[i++];
    }
    return out;
}

ChannelResult SendMail(const NotifySettings& s, const Notice& notice, const SendLimits& limits,
                       const std::atomic<bool>* cancel) {
    ChannelResult r;
    r.channel = kMailChannel;
    r.target = UrlHost(s.smtpUrl) + " → ";
    for (std::size_t i = 0; i < s.mailTo.size(); ++i)
        r.target += (i ? ", " : "") + s.mailTo[i];

    if (!HasScheme(s.smtpUrl, "smtp") && !HasScheme(s.smtpUrl, "smtps"))
        return Refuse(r, "SmtpUrl 应以 smtp:// 或 smtps:// 开头");
    const std::string from = !s.mailFrom.empty() ? s.mailFrom : s.smtpUser;
    if (!IsPlainAddress(from))
        return Refuse(r, "发件人地址 MailFrom 无效");
    if (s.mailTo.empty())
        return Refuse(r, "没有收件人 MailTo");
    for (const std::string& to : s.mailTo)
        if (!IsPlainAddress(to))
            return Refuse(r, "收件人地址无效：" + to);

    MailMessage mail{from, s.mailTo, notice.title, notice.text};
    const std::string message = ComposeMail(mail, std::chrono::system_clock::now());
    const bool credentials = !s.smtpUser.empty();
    return Attempt(r, false, limits, cancel, [&]() -> Outcome {
        EasyHandle h = NewHandle(limits, cancel);
        if (!h)
            return {CURLE_FAILED_INIT, 0};
        CURL* const c = h.get();
        curl_easy_setopt(c, CURLOPT_URL, s.smtpUrl.c_str());
#if LIBCURL_VERSION_NUM >= 0x075500
        curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
#endif
        // STARTTLS where the server offers it; a password crosses the network
        // only encrypted (a relay on this machine aside).
        curl_easy_setopt(c, CURLOPT_USE_SSL,
                         credentials && !IsLoopback(s.smtpUrl) ? static_cast<long>(CURLUSESSL_ALL)
                                                               : static_cast<long>(CURLUSESSL_TRY));
        if (credentials) {
            curl_easy_setopt(c, CURLOPT_USERNAME, s.smtpUser.c_str());
            curl_easy_setopt(c, CURLOPT_PASSWORD, s.smtpPassword.c_str());
        }
        const std::string envelopeFrom = "<" + from + ">";
        curl_easy_setopt(c, CURLOPT_MAIL_FROM, envelopeFrom.c_str());
        Slist rcpt;
        for (const std::string& to : s.mailTo)
            Append(rcpt, "<" + to + ">");
        curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt.get());
        Upload up{message};
        curl_easy_setopt(c, CURLOPT_READFUNCTION, &ReadUpload);
        curl_easy_setopt(c, CURLOPT_READDATA, &up);
        curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
        Outcome o;
        o.code = curl_easy_perform(c);
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &o.status);
        return o;
    });
}

ChannelResult SendWebhook(const NotifySettings& s, const Notice& notice, const SendLimits& limits,
                          const std::atomic<bool>* cancel) {
    ChannelResult r;
    r.channel = kWebhookChannel;
    r.target = UrlHost(s.webhookUrl);
    if (!HasScheme(s.webhookUrl, "http") && !HasScheme(s.webhookUrl, "https"))
        return Refuse(r, "WebhookUrl 应以 http:// 或 https:// 开头");
    const std::string body = FillWebhookBody(s.webhookBody, notice);
    if (!nlohmann::json::accept(body))
        return Refuse(r, "WebhookBody 填入后不是有效的 JSON");
    return Attempt(r, true, limits, cancel, [&]() -> Outcome {
        EasyHandle h = NewHandle(limits, cancel);
        if (!h)
            return {CURLE_FAILED_INIT, 0};
        CURL* const c = h.get();
        curl_easy_setopt(c, CURLOPT_URL, s.webhookUrl.c_str());
#if LIBCURL_VERSION_NUM >= 0x075500
        curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
#endif
        // No redirects: the body goes to the address the user wrote, nowhere else.
        curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
        Slist headers;
        Append(headers, "Content-Type: application/json; charset=utf-8");
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.c_str());
        curl_easy_setopt(c, CURLOPT_USERAGENT, "Quilora-Notify/1.0");
        std::size_t received = 0;
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Discard);
        curl_easy_setopt(c, CURLOPT_WRITEDATA, &received);
        Outcome o;
        o.code = curl_easy_perform(c);
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &o.status);
        // A large answer cut off still came after the status.
        if (o.code == CURLE_WRITE_ERROR && o.status > 0)
            o.code = CURLE_OK;
        return o;
    });
}

std::vector<ChannelResult> SendToChannels(const NotifySettings& s, const Notice& notice,
                                          const SendLimits& limits, const std::atomic<bool>* cancel) {
    std::vector<ChannelResult> results;
    if (s.MailConfigured())
        results.push_back(SendMail(s, notice, limits, cancel));
    if (s.WebhookConfigured())
        results.push_back(SendWebhook(s, notice, limits, cancel));
    return results;
}

} // namespace quilora
