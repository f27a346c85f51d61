#pragma once
// Seeded, platform-independent pseudo-random values (std distributions differ
// between standard libraries, which would make catalogues differ too).
#include <cstdint>

namespace quilora::portal {

inline std::uint64_t Mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ULL;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

inline std::uint64_t Mix(std::uint64_t seed, std::uint64_t a, std::uint64_t b = 0) {
    return Mix(Mix(Mix(seed) ^ a) ^ (b * 0xD6E8FEB86659FD93ULL));
}

// A small stream of values, for shuffles.
class SeededStream {
public:
    explicit SeededStream(std::uint64_t state) : state_(state) {}
    std::uint64_t Next() { return Mix(state_++); }
    int Below(int n) { return int(Next() % std::uint64_t(n)); }
    // Uniform in [0, 1).
    double Unit() { return double(Next() >> 11) * (1.0 / 9007199254740992.0); }

private:
    std::uint64_t state_;
};

} // namespace quilora::portal
