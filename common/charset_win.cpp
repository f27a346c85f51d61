// Windows side of the charset converter: the system's code pages.
#include "charset_converter.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <optional>
#include <utility>

#include "errors.h"
#include "normalise.h"

namespace quilora::charset {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD"; // U+FFFD
constexpr UINT kGb18030 = 54936;

std::optional<UINT> CodePage(const std::string& charset) {
    static const std::pair<const char*, UINT> kNames[] = {
        {"utf-8", CP_UTF8},     {"utf8", CP_UTF8},      {"gb18030", kGb18030},  {"gbk", 936},
        {"gb2312", 936},        {"cp936", 936},         {"x-gbk", 936},         {"windows-936", 936},
        {"big5", 950},          {"cp950", 950},         {"shift_jis", 932},     {"sjis", 932},
        {"cp932", 932},         {"euc-kr", 51949},      {"euc-jp", 20932},      {"us-ascii", 20127},
        {"ascii", 20127},       {"iso-8859-1", 28591},  {"latin1", 28591},      {"iso-8859-2", 28592},
        {"iso-8859-5", 28595},  {"iso-8859-15", 28605}, {"koi8-r", 20866},      {"windows-1250", 1250},
        {"windows-1251", 1251}, {"windows-1252", 1252}, {"windows-1253", 1253}, {"windows-1254", 1254},
        {"windows-1255", 1255}, {"windows-1256", 1256}, {"windows-1257", 1257}, {"windows-1258", 1258},
    };
    const std::string name = LowerAscii(charset);
    for (const auto& [known, page] : kNames) {
        if (name != known)
            continue;
        // A system without GB18030 still has its GBK subset.
        if (page == kGb18030 && !::IsValidCodePage(kGb18030))
            return 936;
        if (!::IsValidCodePage(page))
            return std::nullopt;
        return page;
    }
    return std::nullopt;
}

UINT CodePageOrThrow(const std::string& charset) {
    const auto page = CodePage(charset);
    if (!page)
        throw QuiloraError("不支持的字符集：" + charset);
    return *page;
}

// Strict: false when any byte is not valid in the code page.
bool ToWide(UINT page, std::string_view bytes, std::wstring& out) {
    out.clear();
    if (bytes.empty())
        return true;
    const int n = ::MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes.data(),
                                        static_cast<int>(bytes.size()), nullptr, 0);
    if (n <= 0)
        return false;
    out.resize(static_cast<std::size_t>(n));
    return ::MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                                 out.data(), n) == n;
}

std::string FromWide(UINT page, std::wstring_view wide) {
    if (wide.empty())
        return {};
    // Best fit would turn a character the page lacks into a look-alike; the
    // pages that do not take the flag are checked by the round trip instead.
    const DWORD flags = (page == CP_UTF8 || page == kGb18030 || page >= 50000) ? 0 : WC_NO_BEST_FIT_CHARS;
    const int n = ::WideCharToMultiByte(page, flags, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                        nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(n, 0)), '\0');
    if (n > 0)
        ::WideCharToMultiByte(page, flags, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr,
                              nullptr);
    return out;
}

// Windows' GBK pages read a single 0x80 as the euro sign and take 0xFF; in
// GB18030, as iconv reads it, neither starts a character.
bool IsGbPage(UINT page) {
    return page == 936 || page == kGb18030;
}

bool IsBadGbLead(unsigned char byte) {
    return byte == 0x80 || byte == 0xFF;
}

bool HasBadGbLead(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            ++i;
        } else if (IsBadGbLead(b)) {
            return true;
        } else {
            const bool four = i + 1 < bytes.size() && bytes[i + 1] >= '0' && bytes[i + 1] <= '9';
            i += four ? 4 : 2;
        }
    }
    return false;
}

} // namespace

std::string Encode(std::string_view utf8, const std::string& charset) {
    const UINT page = CodePageOrThrow(charset);
    std::wstring wide;
    if (!ToWide(CP_UTF8, utf8, wide))
        throw QuiloraError("文本含有无法转换的字符。");
    std::string out = FromWide(page, wide);
    // A character without a place in the page comes out as '?': the round trip shows it.
    std::wstring back;
    if (!ToWide(page, out, back) || back != wide)
        throw QuiloraError("文本含有无法转换的字符。");
    return out;
}

std::string Decode(std::string_view bytes, const std::string& charset) {
    const UINT page = CodePageOrThrow(charset);
    const bool gb = IsGbPage(page);
    std::wstring wide;
    if (!(gb && HasBadGbLead(bytes)) && ToWide(page, bytes, wide))
        return FromWide(CP_UTF8, wide);
    // Character by character: the shortest sequence (up to four bytes) that is
    // valid, else U+FFFD for the first byte and on from the next one.
    std::string out;
    out.reserve(bytes.size() * 2);
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t taken = 0;
        const bool badLead = gb && IsBadGbLead(static_cast<unsigned char>(bytes[i]));
        for (std::size_t len = 1; !badLead && len <= 4 && i + len <= bytes.size(); ++len) {
            if (ToWide(page, bytes.substr(i, len), wide)) {
                out += FromWide(CP_UTF8, wide);
                taken = len;
                break;
            }
        }
        if (taken == 0) {
            out += kReplacement;
            taken = 1;
        }
        i += taken;
    }
    return out;
}

bool CanDecode(const std::string& charset) {
    return CodePage(charset).has_value();
}

} // namespace quilora::charset
