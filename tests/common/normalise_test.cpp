#include <gtest/gtest.h>

#include <random>
#include <string>

#include "common/normalise.h"

namespace quilora {
namespace {

struct ReplaceCase {
    std::string source, pattern, replacement, expected;
};

class ReplaceAllTest : public ::testing::TestWithParam<ReplaceCase> {};

TEST_P(ReplaceAllTest, ReplacesLeftToRightWithoutOverlap) {
    const auto& c = GetParam();
    EXPECT_EQ(ReplaceAll(c.source, c.pattern, c.replacement), c.expected);
}

const std::string k40(40, 'Z');

INSTANTIATE_TEST_SUITE_P(
    Cases, ReplaceAllTest,
    ::testing::Values(ReplaceCase{"aaaa", "aa", "b", "bb"}, ReplaceCase{"aaa", "aa", "b", "ba"},
                      ReplaceCase{"aaaa", "AA", "b", "aaaa"},            // case matters
                      ReplaceCase{"abc", "", "x", "abc"},                // empty pattern
                      ReplaceCase{"ab", "abc", "x", "ab"},               // pattern longer than source
                      ReplaceCase{"", "a", "x", ""},                     // empty source
                      ReplaceCase{"xyx", "x", "", "y"},                  // removal
                      ReplaceCase{"xyx", "x", k40, k40 + "y" + k40},     // long replacement
                      ReplaceCase{"xx", "x", "", ""},                    // result empty
                      ReplaceCase{"a-b-c", "-", "--", "a--b--c"},        // grows
                      ReplaceCase{"北京\"医院\"", "\"", "", "北京医院"}, // multibyte text around
                      ReplaceCase{"abab", "ab", "abab", "abababab"}));   // replacement holds pattern

// Straightforward model: the result built front to back with find.
std::string ModelReplace(const std::string& s, const std::string& p, const std::string& r) {
    if (p.empty())
        return s;
    std::string out;
    std::size_t at = 0;
    for (std::size_t pos = s.find(p); pos != std::string::npos; pos = s.find(p, at)) {
        out += s.substr(at, pos - at) + r;
        at = pos + p.size();
    }
    return out + s.substr(at);
}

std::string RandomText(std::mt19937& rng, std::string_view alphabet, std::size_t maxLen) {
    std::uniform_int_distribution<std::size_t> len(0, maxLen), pick(0, alphabet.size() - 1);
    std::string s(len(rng), ' ');
    for (char& c : s)
        c = alphabet[pick(rng)];
    return s;
}

TEST(ReplaceAllRandom, MatchesFrontToBackModel) {
    std::mt19937 rng(7);
    for (int i = 0; i < 3000; ++i) {
        const std::string s = RandomText(rng, "ab", 40);
        const std::string p = RandomText(rng, "ab", 3);
        const std::string r = RandomText(rng, "xyz", 5);
        ASSERT_EQ(ReplaceAll(s, p, r), ModelReplace(s, p, r)) << s << " / " << p << " / " << r;
    }
}

// The five steps exactly as written, to hold the fused version against.
std::string FiveSteps(std::string_view page) {
    std::string s(page);
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    for (const char* drop : {"\"", "\n", "\r", "\t"})
        s = ReplaceAll(s, drop, "");
    return s;
}

TEST(NormalisePage, SpecimenAndEmptyTexts) {
    EXPECT_EQ(NormalisePage("Ab\"C\r\nD\te'F G"), "abcde'f g");
    EXPECT_EQ(NormalisePage(""), "");
    EXPECT_EQ(NormalisePage("\"\r\n\t\t\"\n"), "");
    // Only ASCII letters change; UTF-8 bytes and '@' '[' '`' '{' next to the letter range stay.
    EXPECT_EQ(NormalisePage("@AZ[`az{\xC3\x80\xE5\x8C\x97Q"), "@az[`az{\xC3\x80\xE5\x8C\x97q");
}

TEST(NormalisePage, FusedPassEqualsFiveSteps) {
    std::mt19937 rng(11);
    // Every byte value, weighted toward the bytes that change, at lengths that
    // cross the word-sized blocks and their tails.
    std::string alphabet = "AZaz@[`{\"\n\r\t'  \x80\xC1\xDA\xFF";
    for (int c = 0; c < 256; ++c)
        alphabet += static_cast<char>(c);
    for (int i = 0; i < 4000; ++i) {
        const std::string page = RandomText(rng, alphabet, i < 2000 ? 24 : 300);
        const std::string expected = FiveSteps(page);
        ASSERT_EQ(NormalisePage(std::string_view(page)), expected);
        ASSERT_EQ(NormalisePage(std::string(page)), expected); // in place
    }
    // Long runs without anything to drop, then one at every position of a block.
    for (std::size_t at = 0; at < 17; ++at) {
        std::string page(33, 'K');
        page[at] = '\t';
        ASSERT_EQ(NormalisePage(page), FiveSteps(page));
        ASSERT_EQ(NormalisePage(std::string(page)), FiveSteps(page));
    }
}

} // namespace
} // namespace quilora
