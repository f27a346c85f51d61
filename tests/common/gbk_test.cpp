#include <gtest/gtest.h>

#include "common/errors.h"
#include "common/gbk.h"

namespace quilora {
namespace {

// "北京" in GBK, and a character (U+20000) that only GB18030 has.
const std::string kBeijingGbk = "\xB1\xB1\xBE\xA9";
const std::string kExtB = "\xF0\xA0\x80\x80";

TEST(GbkLength, CountsOneForAsciiTwoForOthers) {
    EXPECT_EQ(GbkLength(""), 0u);
    EXPECT_EQ(GbkLength("abc 123"), 7u);
    EXPECT_EQ(GbkLength("北京a"), 5u);
    EXPECT_EQ(GbkLength("é"), 2u);   // two UTF-8 bytes
    EXPECT_EQ(GbkLength(kExtB), 2u); // four UTF-8 bytes
}

TEST(TruncateGbk, NeverCutsACharacter) {
    struct Case {
        std::string text;
        std::size_t max;
        std::string expected;
    } cases[] = {
        {"ab北京", 3, "ab"}, // 北 would need 2 more bytes, only 1 left
        {"ab北京", 4, "ab北"}, {"ab北京", 6, "ab北京"}, {"ab北京", 100, "ab北京"},
        {"北京", 1, ""},       {"abc", 0, ""},          {"a" + kExtB + "b", 3, "a" + kExtB},
    };
    for (const auto& c : cases) {
        const std::string got = TruncateGbk(c.text, c.max);
        EXPECT_EQ(got, c.expected) << c.text << " max " << c.max;
        EXPECT_LE(GbkLength(got), c.max);
    }
}

TEST(Charset, RoundTripsGbkAndReadsGbkAsGb18030) {
    EXPECT_EQ(Utf8ToCharset("北京", "GBK"), kBeijingGbk);
    for (const char* label : {"GBK", "gbk", "gb2312", "GB18030", ""})
        EXPECT_EQ(CharsetToUtf8(kBeijingGbk + "abc", label), "北京abc") << label;
    // Declared GBK, but the page holds a character beyond it.
    EXPECT_EQ(CharsetToUtf8(Utf8ToCharset(kExtB, "GB18030"), "gbk"), kExtB);
    EXPECT_EQ(CharsetToUtf8("", "gbk"), "");
}

// A bad byte in an answer is one replacement character, never a lost page;
// only text going out to the portal must convert exactly.
TEST(Charset, BadBytesInAnswersBecomeReplacementCharacters) {
    const std::string r = "\xEF\xBF\xBD";
    struct Case {
        std::string bytes, charset, expected;
    } cases[] = {
        {"ok\xFF\xFE", "utf-8", "ok" + r + r},
        {kBeijingGbk + "\xB1", "gbk", "北京" + r}, // cut in the middle of a character
        {"a\x80\xFF" + kBeijingGbk, "gbk", "a" + r + r + "北京"},
        {"\xC3(x", "utf-8", r + "(x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CharsetToUtf8(c.bytes, c.charset), c.expected) << c.charset;
}

TEST(Charset, UnconvertibleOutgoingTextAndUnknownNamesThrow) {
    EXPECT_THROW(Utf8ToCharset(kExtB, "GBK"), QuiloraError); // no GBK form
    EXPECT_THROW(CharsetToUtf8("abc", "no-such-charset"), QuiloraError);
    EXPECT_FALSE(IsKnownCharset("no-such-charset"));
    EXPECT_TRUE(IsKnownCharset("GBK"));
    EXPECT_TRUE(IsKnownCharset("UTF-8"));
}

} // namespace
} // namespace quilora
