#include "normalise.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace quilora {

std::string ReplaceAll(std::string_view source, std::string_view pattern, std::string_view replacement) {
    if (pattern.empty() || pattern.size() > source.size())
        return std::string(source);

    // One search pass; remember where each occurrence ends.
    std::vector<std::size_t> ends;
    for (std::size_t pos = source.find(pattern); pos != std::string_view::npos;
         pos = source.find(pattern, pos + pattern.size()))
        ends.push_back(pos + pattern.size());
    if (ends.empty())
        return std::string(source);

    // Sizes are unsigned; the result may be shorter or longer than the source.
    const std::size_t length =
        source.size() - ends.size() * pattern.size() + ends.size() * replacement.size();
    if (length == 0)
        return {};

    std::string result(length, '\0');
    char* out = result.data() + length;
    std::size_t tail = source.size(); // end of the text that follows the current occurrence
    for (auto it = ends.rbegin(); it != ends.rend(); ++it) {
        const std::size_t after = tail - *it;
        out -= after;
        std::memcpy(out, source.data() + *it, after);
        out -= replacement.size();
        if (!replacement.empty())
            std::memcpy(out, replacement.data(), replacement.size());
        tail = *it - pattern.size();
    }
    std::memcpy(result.data(), source.data(), tail);
    return result;
}

namespace {

// Per byte: what it becomes, and whether it stays at all.
struct NormaliseTable {
    std::array<unsigned char, 256> to{};
    std::array<unsigned char, 256> keep{};
    constexpr NormaliseTable() {
        for (int c = 0; c < 256; ++c) {
            to[c] = static_cast<unsigned char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
            keep[c] = !(c == '"' || c == '\n' || c == '\r' || c == '\t');
        }
    }
};
constexpr NormaliseTable kTable;

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHigh = 0x8080808080808080ULL;

// High bit set in every byte of x that is zero (exact, no false positives).
constexpr std::uint64_t ZeroBytes(std::uint64_t x) {
    return ~(((x & ~kHigh) + ~kHigh) | x | ~kHigh);
}
constexpr std::uint64_t BytesEqual(std::uint64_t x, unsigned char c) {
    return ZeroBytes(x ^ (kOnes * c));
}

// Adds 0x20 to every byte from 'A' to 'Z', exactly, without touching others.
constexpr std::uint64_t LowerAscii(std::uint64_t x) {
    const std::uint64_t low = x & ~kHigh;                 // the 7 low bits of each byte
    const std::uint64_t geA = low + kOnes * (0x80 - 'A'); // high bit: low >= 'A'
    const std::uint64_t gtZ = low + kOnes * (0x7F - 'Z'); // high bit: low > 'Z'
    const std::uint64_t upper = geA & ~gtZ & ~x & kHigh;  // ASCII upper-case letters only
    return x | (upper >> 2);
}

// The five steps (lower-case, then drop '"', LF, CR and tab) fused into one
// pass: dropping single bytes never creates or hides another occurrence, so
// one pass gives the same text. Blocks of eight clean bytes go word-wise.
// Writes never run ahead of reads (out <= in), so in and out may be the same.
std::size_t NormaliseBytes(const unsigned char* in, unsigned char* out, std::size_t n) {
    std::size_t i = 0, j = 0;
    while (i + 8 <= n) {
        std::uint64_t w;
        std::memcpy(&w, in + i, 8);
        const std::uint64_t drop =
            BytesEqual(w, '"') | BytesEqual(w, '\n') | BytesEqual(w, '\r') | BytesEqual(w, '\t');
        if (drop == 0) {
            w = LowerAscii(w);
            std::memcpy(out + j, &w, 8);
            i += 8;
            j += 8;
            continue;
        }
        for (const std::size_t stop = i + 8; i < stop; ++i) {
            const unsigned char c = in[i];
            out[j] = kTable.to[c];
            j += kTable.keep[c];
        }
    }
    for (; i < n; ++i) {
        const unsigned char c = in[i];
        out[j] = kTable.to[c];
        j += kTable.keep[c];
    }
    return j;
}

} // namespace

std::string NormalisePage(std::string_view page) {
    std::string result(page.size(), '\0');
    result.resize(NormaliseBytes(reinterpret_cast<const unsigned char*>(page.data()),
                                 reinterpret_cast<unsigned char*>(result.data()), page.size()));
    return result;
}

std::string NormalisePage(std::string&& page) {
    auto* bytes = reinterpret_cast<unsigned char*>(page.data());
    page.resize(NormaliseBytes(bytes, bytes, page.size()));
    return std::move(page);
}

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    return out;
}

} // namespace quilora
