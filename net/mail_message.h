#pragma once
// A plain-text UTF-8 mail as it goes over SMTP: headers with an encoded-word
// Subject, a base64 body, CRLF line ends.
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace quilora {

std::string Base64(std::string_view bytes);

// The subject as RFC 2047 encoded-words ("=?UTF-8?B?...?="), each at most 75
// characters and cut between whole UTF-8 characters, folded onto new lines.
std::string EncodedWordSubject(std::string_view utf8);

// "Fri, 11 Dec 2026 12:40:55 +0000"
std::string MailDate(std::chrono::system_clock::time_point when);

struct MailMessage {
    std::string from;
    std::vector<std::string> to;
    std::string subject; // UTF-8
    std::string body;    // UTF-8, "\n" line ends
};

std::string ComposeMail(const MailMessage& mail, std::chrono::system_clock::time_point when);

// An address fit for a header and the SMTP envelope: one "@", no spaces,
// brackets, quotes, commas, semicolons or control characters.
bool IsPlainAddress(std::string_view address);

} // namespace quilora
