#pragma once
#include <string>
#include <string_view>

namespace quilora {

// Every occurrence of pattern replaced, left to right, without overlaps.
// One search pass, one allocation at the final length, filled from the back.
std::string ReplaceAll(std::string_view source, std::string_view pattern, std::string_view replacement);

// ASCII letters lower-cased, nothing else changed (no locale).
std::string LowerAscii(std::string_view text);

// ASCII letters lower-cased; double quotes, LF, CR and tabs removed.
std::string NormalisePage(std::string_view page);
// The same, reusing the buffer of a page the caller no longer needs (no second
// copy of a large page): NormalisePage(FetchPage(...)).
std::string NormalisePage(std::string&& page);
inline std::string NormalisePage(const char* page) {
    return NormalisePage(std::string_view(page));
}

} // namespace quilora
