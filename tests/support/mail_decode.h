#pragma once
// Reading a recorded mail back: unfolded headers, encoded-words and a base64 body.
#include <string>

namespace quilora::test {

inline std::string DecodeBase64(const std::string& in) {
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (const char c : in) {
        const auto at = alphabet.find(c);
        if (at == std::string::npos)
            continue;
        bits = bits << 6 | static_cast<unsigned>(at);
        if ((count += 6) >= 8) {
            count -= 8;
            out += static_cast<char>(bits >> count & 0xFF);
        }
    }
    return out;
}

// The value of a header, folded lines joined; empty when absent.
inline std::string Header(const std::string& mail, const std::string& name) {
    const std::string head = mail.substr(0, mail.find("\r\n\r\n"));
    const std::string key = "\r\n" + name + ":";
    auto at = ("\r\n" + head).find(key);
    if (at == std::string::npos)
        return {};
    std::string value;
    std::size_t pos = at + key.size() - 2; // in head
    while (true) {
        const auto end = head.find("\r\n", pos);
        value += head.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        if (end == std::string::npos || end + 2 >= head.size() ||
            (head[end + 2] != ' ' && head[end + 2] != '\t'))
            break;
        pos = end + 2;
    }
    const auto first = value.find_first_not_of(" \t");
    return first == std::string::npos ? std::string() : value.substr(first);
}

// "=?UTF-8?B?...?= =?UTF-8?B?...?=" -> the text; anything else as it stands.
inline std::string DecodeWords(const std::string& value) {
    std::string out;
    std::size_t pos = 0;
    while (true) {
        const auto start = value.find("=?UTF-8?B?", pos);
        if (start == std::string::npos)
            return out + value.substr(pos);
        const auto end = value.find("?=", start + 10);
        out += DecodeBase64(value.substr(start + 10, end - start - 10));
        pos = end + 2;
        while (pos < value.size() && (value[pos] == ' ' || value[pos] == '\t'))
            ++pos; // white space between two encoded-words is not text
    }
}

inline std::string MailBody(const std::string& mail) {
    const auto at = mail.find("\r\n\r\n");
    return at == std::string::npos ? std::string() : DecodeBase64(mail.substr(at + 4));
}

} // namespace quilora::test
