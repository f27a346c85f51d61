#include "gbk.h"

#include "charset_converter.h"
#include "normalise.h"

namespace quilora {

namespace {

// Length of the UTF-8 character that starts at s[i]; a stray byte counts as one.
std::size_t CharLength(std::string_view s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t len = 1;
    if (c >= 0xF0 && c <= 0xF4)
        len = 4;
    else if (c >= 0xE0)
        len = c <= 0xEF ? 3 : 1;
    else if (c >= 0xC2)
        len = 2;
    if (len == 1 || i + len > s.size())
        return 1;
    for (std::size_t k = 1; k < len; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80)
            return 1;
    return len;
}

std::size_t GbkWidth(std::string_view s, std::size_t i) {
    return static_cast<unsigned char>(s[i]) < 0x80 ? 1 : 2;
}

std::string DecoderName(std::string_view charset) {
    const std::string name = LowerAscii(charset);
    // GB18030 is a superset of GBK and GB2312 and decodes pages that stray past them.
    if (name.empty() || name == "gbk" || name == "gb2312" || name == "cp936" || name == "x-gbk" ||
        name == "windows-936" || name == "gb18030")
        return "GB18030";
    return name;
}

} // namespace

std::size_t GbkLength(std::string_view utf8) {
    std::size_t bytes = 0;
    for (std::size_t i = 0; i < utf8.size(); i += CharLength(utf8, i))
        bytes += GbkWidth(utf8, i);
    return bytes;
}

std::string TruncateGbk(std::string_view utf8, std::size_t maxBytes) {
    std::size_t bytes = 0, i = 0;
    while (i < utf8.size()) {
        const std::size_t w = GbkWidth(utf8, i);
        if (bytes + w > maxBytes)
            break;
        bytes += w;
        i += CharLength(utf8, i);
    }
    return std::string(utf8.substr(0, i));
}

bool IsKnownCharset(std::string_view charset) {
    return charset::CanDecode(DecoderName(charset));
}

std::string Utf8ToCharset(std::string_view utf8, std::string_view charset) {
    if (utf8.empty())
        return {};
    return charset::Encode(utf8, std::string(charset));
}

std::string CharsetToUtf8(std::string_view bytes, std::string_view charset) {
    if (bytes.empty())
        return {};
    return charset::Decode(bytes, DecoderName(charset));
}

} // namespace quilora
