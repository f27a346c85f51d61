#include "net/mail_message.h"

#include <ctime>
#include <random>

namespace quilora {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// 75 characters per encoded-word: "=?UTF-8?B?" and "?=" leave 63 for base64,
// i.e. 45 bytes of text.
constexpr std::size_t kWordBytes = 45;
constexpr std::size_t kBodyLine = 76;

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

} // namespace

std::string Base64(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += kAlphabet[v >> 6 & 63];
        out += kAlphabet[v & 63];
    }
    if (const std::size_t rest = bytes.size() - i; rest > 0) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2)
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kAlphabet[v >> 18 & 63];
        out += kAlphabet[v >> 12 & 63];
        out += rest == 2 ? kAlphabet[v >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

std::string EncodedWordSubject(std::string_view text) {
    if (text.empty())
        return {};
    std::string out;
    while (!text.empty()) {
        std::size_t n = std::min(text.size(), kWordBytes);
        // A character split over two words would not decode in either.
        while (n < text.size() && n > 0 && IsContinuation(static_cast<unsigned char>(text[n])))
            --n;
        if (n == 0)
            n = std::min(text.size(), kWordBytes); // not UTF-8 at all: cut anyway
        if (!out.empty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + Base64(text.substr(0, n)) + "?=";
        text.remove_prefix(n);
    }
    return out;
}

std::string MailDate(std::chrono::system_clock::time_point when) {
    static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[48];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d +0000", kDays[utc.tm_wday], utc.tm_mday,
                  kMonths[utc.tm_mon], utc.tm_year + 1900, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

std::string ComposeMail(const MailMessage& mail, std::chrono::system_clock::time_point when) {
    std::string to;
    for (const std::string& a : mail.to)
        to += (to.empty() ? "" : ", ") + a;
    std::string body;
    for (const char c : mail.body) {
        if (c == '\n' && (body.empty() || body.back() != '\r'))
            body += '\r';
        body += c;
    }
    // A mail without a Message-ID looks like spam to many filters.
    std::random_device random;
    const std::string domain = mail.from.substr(mail.from.find('@') + 1);
    const std::string id = std::to_string(std::chrono::system_clock::to_time_t(when)) + "." +
                           std::to_string(random()) + std::to_string(random()) + "@" + domain;
    std::string m = "Date: " + MailDate(when) + "\r\nMessage-ID: <" + id + ">\r\nFrom: " + mail.from +
                    "\r\nTo: " + to + "\r\nSubject: " + EncodedWordSubject(mail.subject) +
                    "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8"
                    "\r\nContent-Transfer-Encoding: base64\r\n\r\n";
    const std::string encoded = Base64(body);
    for (std::size_t at = 0; at < encoded.size(); at += kBodyLine)
        m += encoded.substr(at, kBodyLine) + "\r\n";
    return m;
}

bool IsPlainAddress(std::string_view a) {
    const auto at = a.find('@');
    if (at == std::string_view::npos || at == 0 || at + 1 == a.size() ||
        a.find('@', at + 1) != std::string_view::npos)
        return false;
    for (const char c : a) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7F || std::string_view("<>()\"',;:[]\\").find(c) != std::string_view::npos)
            return false;
    }
    return true;
}

} // namespace quilora
