#pragma once
#include <string>
#include <string_view>

namespace quilora {

// Percent-encodes exactly what would change an address when put into a query
// value: & # % + = ? blanks, control characters and non-ASCII (the latter as
// bytes of the portal's charset). Everything else goes in byte for byte.
std::string EncodeQueryValue(std::string_view utf8, std::string_view charset = "GBK");

} // namespace quilora
