#include "int32_text.h"

#include <charconv>
#include <string>

namespace quilora {

int ParseInt32(std::string_view text) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+')
        digits.remove_prefix(1); // from_chars takes '-' but not '+'
    int value = 0;
    const char* end = digits.data() + digits.size();
    const auto [ptr, ec] = std::from_chars(digits.data(), end, value);
    if (digits.empty() || ec != std::errc() || ptr != end)
        throw ConversionError("'" + std::string(text) + "' 不是有效的整数值");
    return value;
}

} // namespace quilora
