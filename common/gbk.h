#pragma once
// Byte limits count GBK bytes: 1 per ASCII character, 2 per other character.
#include <cstddef>
#include <string>
#include <string_view>

namespace quilora {

std::size_t GbkLength(std::string_view utf8);
// The longest prefix of utf8 that fits maxBytes GBK bytes; never cuts a character.
std::string TruncateGbk(std::string_view utf8, std::size_t maxBytes);

// Converters through iconv; throws QuiloraError when the text does not convert.
std::string Utf8ToCharset(std::string_view utf8, std::string_view charset);
// GBK, GB2312 and an empty name are read as GB18030. A byte sequence that is
// not valid in the charset becomes U+FFFD: a page with one bad byte is still a
// page. Throws QuiloraError only for a charset no converter knows.
std::string CharsetToUtf8(std::string_view bytes, std::string_view charset);
// Whether CharsetToUtf8 can read text declared with this charset name.
bool IsKnownCharset(std::string_view charset);

} // namespace quilora
