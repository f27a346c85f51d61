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
std::string CharsetToUtf8(std::string_view bytes, std::string_view charset);

} // namespace quilora
