#include "gbk.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>

#include "errors.h"

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

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD

class Iconv {
public:
    Iconv(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {
        if (cd_ == reinterpret_cast<iconv_t>(-1))
            throw QuiloraError("不支持的字符集：" + from + " -> " + to);
    }
    ~Iconv() { iconv_close(cd_); }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;

    // Strict: a byte sequence that does not convert throws. Lenient: it becomes
    // U+FFFD and the conversion goes on after its first byte.
    std::string Convert(std::string_view bytes, bool lenient = false) {
        std::string out(bytes.size() * 2 + 16, '\0');
        // iconv's input pointer is not const on every platform.
        char* in = const_cast<char*>(bytes.data());
        std::size_t inLeft = bytes.size();
        std::size_t used = 0;
        while (true) {
            char* dst = out.data() + used;
            std::size_t outLeft = out.size() - used;
            const std::size_t rc = iconv(cd_, inLeft ? &in : nullptr, &inLeft, &dst, &outLeft);
            used = out.size() - outLeft;
            if (rc != static_cast<std::size_t>(-1)) {
                if (inLeft == 0)
                    break;
                continue;
            }
            if (errno == E2BIG || (lenient && out.size() - used < kReplacement.size())) {
                out.resize(out.size() * 2);
                continue;
            }
            if (!lenient)
                throw QuiloraError(errno == EINVAL ? "文本在字符中间被截断，无法转换。"
                                                   : "文本含有无法转换的字符。");
            out.replace(used, kReplacement.size(), kReplacement);
            used += kReplacement.size();
            ++in;
            --inLeft;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr); // back to the initial shift state
            if (inLeft == 0)
                break;
        }
        out.resize(used);
        return out;
    }

private:
    iconv_t cd_;
};

std::string Lower(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return r;
}

std::string DecoderName(std::string_view charset) {
    const std::string name = Lower(charset);
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
    try {
        Iconv probe("UTF-8", DecoderName(charset));
        return true;
    } catch (const QuiloraError&) {
        return false;
    }
}

std::string Utf8ToCharset(std::string_view utf8, std::string_view charset) {
    if (utf8.empty())
        return {};
    Iconv cv(std::string(charset), "UTF-8");
    return cv.Convert(utf8);
}

std::string CharsetToUtf8(std::string_view bytes, std::string_view charset) {
    if (bytes.empty())
        return {};
    Iconv cv("UTF-8", DecoderName(charset));
    return cv.Convert(bytes, true);
}

} // namespace quilora
