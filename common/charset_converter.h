#pragma once
// The converter under gbk.h: iconv on Linux (charset_iconv.cpp), the Windows
// code pages elsewhere (charset_win.cpp). Both read GBK as GB18030, take a
// charset name as given, and follow the same rules for bytes that do not fit.
#include <string>
#include <string_view>

namespace quilora::charset {

// UTF-8 to the charset; throws QuiloraError when a character has no place in
// it, or for a charset no converter knows.
std::string Encode(std::string_view utf8, const std::string& charset);
// Bytes in the charset to UTF-8; a sequence not valid in it becomes U+FFFD and
// decoding goes on after its first byte. Throws only for an unknown charset.
std::string Decode(std::string_view bytes, const std::string& charset);
bool CanDecode(const std::string& charset);

} // namespace quilora::charset
