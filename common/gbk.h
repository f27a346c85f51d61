#pragma once
// Byte limits count GBK bytes: 1 per ASCII character, 2 per other character.
#include <cstddef>
#include <string>
#include <string_view>

namespace quilora {

std::size_t GbkLength(std::string_view utf8);
// The longest prefix of utf8 that fits maxBytes GBK bytes; never cuts a character.
std::string TruncateGbk(std::string_view utf8, std::size_t maxBytes);

// Converters through iconv; throw QuiloraError when the bytes do not convert.
std::string Utf8ToCharset(std::string_view utf8, std::string_view charset);
// GBK, GB2312 and an empty name are read as GB18030.
std::string CharsetToUtf8(std::string_view bytes, std::string_view charset);
// Whether CharsetToUtf8 can read text declared with this charset name.
bool IsKnownCharset(std::string_view charset);

} // namespace quilora
