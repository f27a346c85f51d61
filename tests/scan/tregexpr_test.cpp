#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

#include "common/errors.h"
#include "scan/patterns.h"
#include "scan/tregexpr.h"

namespace quilora {
namespace {

std::vector<std::string> AllGroups(const TRegExpr& re) {
    std::vector<std::string> g;
    for (int i = 0; i <= TRegExpr::kMaxGroup; ++i)
        g.push_back(re.Capture(i));
    return g;
}

TEST(TRegExpr, CapturesAreForgottenExactlyWhenTheyShouldBe) {
    TRegExpr re;
    re.SetInputString("id=42;id=7");
    re.SetExpression(R"(id=(\d+)(x)?)");
    ASSERT_TRUE(re.Exec());
    EXPECT_EQ(re.Capture(0), "id=42");
    EXPECT_EQ(re.Capture(1), "42");
    EXPECT_EQ(re.Capture(2), ""); // took no part
    EXPECT_EQ(re.Capture(15), "");
    EXPECT_EQ(re.Capture(-1), "");
    EXPECT_EQ(re.MatchEnd(), 5u);

    // A new expression searches the input set before, from its start.
    re.SetExpression(R"(;id=(\d+))");
    ASSERT_TRUE(re.Exec());
    EXPECT_EQ(re.Capture(1), "7");

    // A new input forgets the captures.
    re.SetInputString("nothing here");
    EXPECT_EQ(re.Capture(0), "");
    EXPECT_FALSE(re.Exec());
    EXPECT_EQ(AllGroups(re), std::vector<std::string>(15));
    EXPECT_FALSE(re.ExecNext());

    re.SetInputString("");
    EXPECT_FALSE(re.Exec());
}

TEST(TRegExpr, KeepsItsOwnCopyOfTheInput) {
    std::string text = "{id:5,name:abc}";
    TRegExpr re;
    re.SetExpression(pattern::kHospital);
    re.SetInputString(text);
    text.assign(text.size(), 'x');
    ASSERT_TRUE(re.Exec());
    EXPECT_EQ(re.Capture(2), "abc");
    EXPECT_EQ(re.InputString(), "{id:5,name:abc}");
}

TEST(TRegExpr, FourteenGroupsAreReadable) {
    TRegExpr re;
    re.SetExpression("(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)(m)(n)(o)");
    re.SetInputString("abcdefghijklmno");
    ASSERT_TRUE(re.Exec());
    EXPECT_EQ(re.Capture(14), "n");
    EXPECT_EQ(re.Capture(15), "");
}

struct DialectCase {
    const char* pattern;
    std::string text;
    bool matches;
    std::string group1;
};

// The constructs the system's patterns are written in, with the readings
// another engine setting would get wrong.
TEST(TRegExpr, Dialect) {
    const DialectCase cases[] = {
        {R"({id:(\d+)})", "x{id:12}", true, "12"},          // a leading brace is literal
        {R"(a(.)b)", "a\nb", true, "\n"},                   // '.' takes line breaks
        {R"(a(.)b)", "a北b", false, ""},                    // one byte, not one character
        {R"(a(.+?)b)", "a北b", true, "北"},                 // a lazy group takes the whole character
        {R"(id=(\d+))", "id=１２", false, ""},              // \d is ASCII only
        {R"(value=(\d+))", "VALUE=1", false, ""},           // case-sensitive
        {"# (x) #", "a # x # b", true, "x"},                // blanks and # are literal
        {R"(修改(资料))", "<a>修改资料</a>", true, "资料"}, // Chinese literals
        {R"(\(\[(\.)\]\)\?)", "([.])?", true, "."},         // escapes
        {R"((a)$)", "a\n", false, ""},                      // '$' only at the very end
        {R"(x(.+?)y)", "xy xzy", true, "y xz"},             // .+? takes at least one
        {R"(x(.*?)y)", "xy xzy", true, ""},                 // .*? may be empty
        {R"(<(.+?)>)", "<ab><cd>", true, "ab"},             // lazy stops at first close
        {R"(<(\d+)>)", "<123456>", true, "123456"},         // greedy digits
    };
    for (const auto& c : cases) {
        TRegExpr re;
        re.SetExpression(c.pattern);
        re.SetInputString(c.text);
        EXPECT_EQ(re.Exec(), c.matches) << c.pattern;
        EXPECT_EQ(re.Capture(1), c.group1) << c.pattern;
    }
}

TEST(TRegExpr, EngineErrorsThrowInsteadOfReadingAsNoMatch) {
    TRegExpr re;
    re.SetInputString("abc");
    re.SetExpression("(unclosed");
    EXPECT_THROW(re.Exec(), QuiloraError);
    re.SetExpression("");
    EXPECT_THROW(re.Exec(), QuiloraError);
    // A limit the pattern lowers itself: the engine gives up, which is an error.
    re.SetExpression("(*LIMIT_MATCH=5)(a+)+b");
    re.SetInputString(std::string(30, 'a') + "cb");
    EXPECT_THROW(re.Exec(), QuiloraError);
}

TEST(TRegExpr, StrayBytesAreOrdinaryBytes) {
    TRegExpr re;
    re.SetExpression(R"({id:(\d+),name:(.+?)})");
    const char text[] = "{id:1,name:a\xFF\0}";
    re.SetInputString(std::string_view(text, sizeof text - 1));
    ASSERT_TRUE(re.Exec());
    EXPECT_EQ(re.Capture(2), std::string("a\xFF\0", 3));
}

TEST(TRegExpr, TakesOverAMovedInput) {
    std::string page = "{id:1,name:a},{id:2,name:b}";
    const std::string copy = page;
    std::vector<std::string> ids;
    ForEachMatch(pattern::kHospital, std::move(page), [&](const TRegExpr& re) {
        EXPECT_EQ(re.InputString(), copy);
        ids.push_back(re.Capture(1));
    });
    EXPECT_EQ(ids, (std::vector<std::string>{"1", "2"}));
}

// The copy-the-remainder loop, done literally, as the reference for ExecNext.
std::vector<std::vector<std::string>> RemainderLoop(std::string_view pattern, std::string text) {
    std::vector<std::vector<std::string>> out;
    TRegExpr re;
    re.SetExpression(pattern);
    re.SetInputString(text);
    while (re.Exec()) {
        out.push_back(AllGroups(re));
        const std::string m = re.Capture(0);
        text = text.substr(text.find(m) + m.size());
        re.SetInputString(text);
    }
    return out;
}

std::vector<std::vector<std::string>> OffsetLoop(std::string_view pattern, std::string_view text) {
    std::vector<std::vector<std::string>> out;
    ForEachMatch(pattern, text, [&](const TRegExpr& re) { out.push_back(AllGroups(re)); });
    return out;
}

TEST(MatchAll, SearchingOnFromTheMatchEndEqualsCopyingTheRemainder) {
    std::mt19937 rng(3);
    const std::vector<std::string> pieces = {"{cityname:", "{id:", ",id:", ",name:", "}",     "1",
                                             "23",         "北京", "a",    ",",      "{id:1", "}}"};
    std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1), len(0, 30);
    for (int i = 0; i < 1500; ++i) {
        std::string text;
        for (std::size_t n = len(rng); n > 0; --n)
            text += pieces[pick(rng)];
        for (const auto p : {pattern::kCity, pattern::kHospital})
            ASSERT_EQ(OffsetLoop(p, text), RemainderLoop(p, text)) << p << " over " << text;
    }
}

TEST(MatchAll, EndsWhenAMatchEndsAtTheLastByte) {
    std::vector<std::string> ids;
    const auto n = ForEachMatch(pattern::kHospital, "{id:1,name:a},{id:2,name:b}",
                                [&](const TRegExpr& re) { ids.push_back(re.Capture(1)); });
    EXPECT_EQ(n, 2u);
    EXPECT_EQ(ids, (std::vector<std::string>{"1", "2"}));
}

TEST(MatchAll, EmptyMatchesStillAdvance) {
    std::vector<std::string> found;
    ForEachMatch("x*", "axxb", [&](const TRegExpr& re) { found.push_back(re.Capture(0)); });
    EXPECT_EQ(found, (std::vector<std::string>{"", "xx", "", ""}));
}

TEST(MatchAll, HundredThousandMatchesInOneLinearPass) {
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "{id:" + std::to_string(i) + ",name:医院" + std::to_string(i) + "},";
    long long sum = 0;
    const auto start = std::chrono::steady_clock::now();
    const auto n =
        ForEachMatch(pattern::kHospital, text, [&](const TRegExpr& re) { sum += std::stoll(re.Capture(1)); });
    EXPECT_EQ(n, 100000u);
    EXPECT_EQ(sum, 99999LL * 100000 / 2);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

TEST(MatchAll, LazyGroupSpanningAHugeTextMatches) {
    // Far past the engine's default match limit of ten million.
    const std::size_t span = 120u * 1024 * 1024;
    std::string text = "{pid:1,cid:2,hospital:[";
    text.append(span, 'x');
    text += "]}";
    TRegExpr re;
    re.SetExpression(pattern::kCityHospitals);
    re.SetInputString(text);
    ASSERT_TRUE(re.Exec());
    EXPECT_EQ(re.CaptureView(3).size(), span);
    EXPECT_FALSE(re.ExecNext());
}

TEST(MatchAll, NestedLoopReadsOuterGroupsDuringTheInnerLoop) {
    const std::string script = "{pid:1,cid:10,hospital:[{id:100,name:a},{id:101,name:b}]},"
                               "{pid:2,cid:20,hospital:[{id:200,name:c}]}";
    std::vector<std::string> rows;
    ForEachMatch(pattern::kCityHospitals, script, [&](const TRegExpr& city) {
        ForEachMatch(pattern::kHospital, city.CaptureView(3), [&](const TRegExpr& h) {
            rows.push_back(h.Capture(1) + "/" + city.Capture(1) + "/" + city.Capture(2) + "/" + h.Capture(2));
        });
    });
    EXPECT_EQ(rows, (std::vector<std::string>{"100/1/10/a", "101/1/10/b", "200/2/20/c"}));
}

} // namespace
} // namespace quilora
