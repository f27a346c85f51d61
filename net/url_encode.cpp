#include "net/url_encode.h"

#include "common/gbk.h"

namespace quilora {

namespace {

bool NeedsEscape(unsigned char c) {
    switch (c) {
    case '&':
    case '#':
    case '%':
    case '+':
    case '=':
    case '?':
    case ' ':
        return true;
    default:
        return c < 0x20 || c == 0x7F;
    }
}

void AppendEscaped(std::string& out, unsigned char c) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 0x0F];
}

} // namespace

std::string EncodeQueryValue(std::string_view utf8, std::string_view charset) {
    std::string out;
    out.reserve(utf8.size());
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c >= 0x80) {
            // A run of non-ASCII text goes through the portal's charset as one piece.
            std::size_t end = i;
            while (end < utf8.size() && static_cast<unsigned char>(utf8[end]) >= 0x80)
                ++end;
            for (const char b : Utf8ToCharset(utf8.substr(i, end - i), charset))
                AppendEscaped(out, static_cast<unsigned char>(b));
            i = end;
            continue;
        }
        if (NeedsEscape(c))
            AppendEscaped(out, c);
        else
            out += static_cast<char>(c);
        ++i;
    }
    return out;
}

} // namespace quilora
