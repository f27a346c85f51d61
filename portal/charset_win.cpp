// Windows side of the portal's charset conversion: two code pages, through UTF-16.
#include "portal/charset.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <stdexcept>
#include <utility>

namespace quilora::portal {

namespace {

UINT CodePage(std::string_view charset) {
    std::string name(charset);
    for (char& ch : name)
        if (ch >= 'A' && ch <= 'Z')
            ch = char(ch - 'A' + 'a');
    static const std::pair<const char*, UINT> kNames[] = {
        {"utf-8", CP_UTF8}, {"utf8", CP_UTF8},      {"gbk", 936},        {"gb2312", 936},
        {"cp936", 936},     {"gb18030", 54936},     {"big5", 950},       {"iso-8859-1", 28591},
        {"latin1", 28591},  {"windows-1252", 1252}, {"us-ascii", 20127}, {"shift_jis", 932},
    };
    for (const auto& [known, page] : kNames)
        if (name == known && ::IsValidCodePage(page))
            return page;
    return 0;
}

std::wstring ToWide(UINT page, std::string_view in) {
    if (in.empty())
        return {};
    const int n = ::MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, in.data(), int(in.size()), nullptr, 0);
    if (n <= 0)
        throw std::runtime_error("text does not convert");
    std::wstring out(std::size_t(n), L'\0');
    ::MultiByteToWideChar(page, MB_ERR_INVALID_CHARS, in.data(), int(in.size()), out.data(), n);
    return out;
}

std::string FromWide(UINT page, const std::wstring& in) {
    if (in.empty())
        return {};
    const int n = ::WideCharToMultiByte(page, 0, in.data(), int(in.size()), nullptr, 0, nullptr, nullptr);
    std::string out(std::size_t(std::max(n, 0)), '\0');
    ::WideCharToMultiByte(page, 0, in.data(), int(in.size()), out.data(), n, nullptr, nullptr);
    // A character the page lacks came out as '?': the round trip shows it.
    if (ToWide(page, out) != in)
        throw std::runtime_error("text does not convert");
    return out;
}

} // namespace

CharsetConverter::CharsetConverter(std::string_view to, std::string_view from)
    : to_(CodePage(to)), from_(CodePage(from)) {
    if (to_ == 0 || from_ == 0)
        throw std::runtime_error("unknown charset conversion " + std::string(from) + " -> " +
                                 std::string(to));
}

CharsetConverter::~CharsetConverter() = default;

std::string CharsetConverter::Convert(std::string_view in) {
    return FromWide(to_, ToWide(from_, in));
}

} // namespace quilora::portal
