#pragma once
// Conversions between the portal's UTF-8 text and the charset it answers in.
#include <string>
#include <string_view>

namespace quilora::portal {

// One conversion between two charsets: an iconv descriptor on Linux
// (charset_iconv.cpp), a pair of Windows code pages elsewhere (charset_win.cpp).
class CharsetConverter {
public:
    CharsetConverter(std::string_view to, std::string_view from); // throws std::runtime_error
    ~CharsetConverter();
    CharsetConverter(const CharsetConverter&) = delete;
    CharsetConverter& operator=(const CharsetConverter&) = delete;

    // Throws std::runtime_error on bytes that do not convert.
    std::string Convert(std::string_view in);

private:
    void* cd_ = nullptr;         // iconv
    unsigned to_ = 0, from_ = 0; // code pages
};

// True for the charset names meaning UTF-8 (any case, with or without the dash).
bool IsUtf8(std::string_view charset);

// UTF-8 page text in the answer's charset.
std::string EncodeAnswer(std::string_view utf8, std::string_view charset);
// A percent-decoded query value from the answer's charset to UTF-8; bytes that
// are not valid in that charset are kept as they came.
std::string DecodeQueryValue(std::string_view bytes, std::string_view charset);

} // namespace quilora::portal
