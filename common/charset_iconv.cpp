// iconv side of the charset converter.
#include "charset_converter.h"

#include <cerrno>
#include <iconv.h>

#include "errors.h"

namespace quilora::charset {

namespace {

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

} // namespace

std::string Encode(std::string_view utf8, const std::string& charset) {
    return Iconv(charset, "UTF-8").Convert(utf8);
}

std::string Decode(std::string_view bytes, const std::string& charset) {
    return Iconv("UTF-8", charset).Convert(bytes, true);
}

bool CanDecode(const std::string& charset) {
    try {
        Iconv probe("UTF-8", charset);
        return true;
    } catch (const QuiloraError&) {
        return false;
    }
}

} // namespace quilora::charset
