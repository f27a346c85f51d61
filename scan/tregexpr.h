#pragma once
// The scanner: a thin object over PCRE2 (8-bit code units over UTF-8 text,
// JIT). Case-sensitive, '.' matches any byte including line breaks, no
// free-spacing mode. Limits are raised so that a match as long as the input
// never fails; every engine error throws QuiloraError instead of reading as
// "no match".
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace quilora {

class TRegExpr {
public:
    static constexpr int kMaxGroup = 14;

    TRegExpr();
    ~TRegExpr();
    TRegExpr(const TRegExpr&) = delete;
    TRegExpr& operator=(const TRegExpr&) = delete;

    // Stores the pattern; compiled no later than the next Exec. Input stays.
    void SetExpression(std::string_view pattern);
    const std::string& Expression() const;
    // Stores a copy of the text and forgets all captures.
    void SetInputString(std::string_view text);
    // Takes over a text the caller no longer needs instead of copying it.
    void SetInputString(std::string&& text);
    void SetInputString(const char* text);
    const std::string& InputString() const;

    // Forgets captures, searches the whole input from its first byte.
    bool Exec();
    // Searches on from the end of the previous match (the match-all loop);
    // same results as searching the remainder after that match.
    bool ExecNext();

    // Group i of the last successful search; empty when out of range,
    // unset, or after a failed search / a new input.
    std::string Capture(int i) const;
    std::string_view CaptureView(int i) const;
    // Byte offset just past the last match, within the input.
    std::size_t MatchEnd() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

namespace detail {
template <typename Fn> std::size_t MatchAll(TRegExpr& re, std::string_view pattern, Fn& fn) {
    re.SetExpression(pattern);
    std::size_t n = 0;
    for (bool ok = re.Exec(); ok; ok = re.ExecNext()) {
        ++n;
        fn(static_cast<const TRegExpr&>(re));
    }
    return n;
}
} // namespace detail

// The match-all loop over text: calls fn(const TRegExpr&) for each match in
// text order; matches never overlap. Returns the number of matches.
template <typename Fn> std::size_t ForEachMatch(std::string_view pattern, std::string_view text, Fn&& fn) {
    TRegExpr re;
    re.SetInputString(text);
    return detail::MatchAll(re, pattern, fn);
}

// The same over a text handed over whole (a fetched page): no copy is made.
template <typename Fn> std::size_t ForEachMatch(std::string_view pattern, std::string&& text, Fn&& fn) {
    TRegExpr re;
    re.SetInputString(std::move(text));
    return detail::MatchAll(re, pattern, fn);
}

template <typename Fn> std::size_t ForEachMatch(std::string_view pattern, const char* text, Fn&& fn) {
    return ForEachMatch(pattern, std::string_view(text), std::forward<Fn>(fn));
}

} // namespace quilora
