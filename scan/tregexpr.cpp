#include "tregexpr.h"

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include "common/errors.h"

namespace quilora {

namespace {

// Case-sensitive, '.' takes any byte including line breaks, '$' only at the
// very end. Byte mode on purpose: Chinese literals are UTF-8 byte sequences
// that match the UTF-8 text byte for byte, every group of the system's
// patterns is bounded by ASCII delimiters and so starts and ends on character
// boundaries, and no call pays for a UTF check of the remaining subject (which
// would make the match-all loop quadratic) or fails on a stray byte.
constexpr std::uint32_t kCompileOptions = PCRE2_DOTALL | PCRE2_DOLLAR_ENDONLY;

std::string EngineMessage(int code) {
    std::array<PCRE2_UCHAR, 256> buffer{};
    if (pcre2_get_error_message(code, buffer.data(), buffer.size()) < 0)
        return "error " + std::to_string(code);
    return reinterpret_cast<const char*>(buffer.data());
}

struct CodeDeleter {
    void operator()(pcre2_code* p) const { pcre2_code_free(p); }
};
struct MatchDataDeleter {
    void operator()(pcre2_match_data* p) const { pcre2_match_data_free(p); }
};
struct MatchContextDeleter {
    void operator()(pcre2_match_context* p) const { pcre2_match_context_free(p); }
};
struct JitStackDeleter {
    void operator()(pcre2_jit_stack* p) const { pcre2_jit_stack_free(p); }
};
using CodePtr = std::unique_ptr<pcre2_code, CodeDeleter>;
using MatchDataPtr = std::unique_ptr<pcre2_match_data, MatchDataDeleter>;
using MatchContextPtr = std::unique_ptr<pcre2_match_context, MatchContextDeleter>;
using JitStackPtr = std::unique_ptr<pcre2_jit_stack, JitStackDeleter>;

struct Compiled {
    CodePtr code;
};

// Compiled patterns are read-only once built; the handful of fixed patterns are
// compiled (and JIT-compiled) once per thread rather than once per scanner,
// which matters for the inner loops of nested lists.
std::shared_ptr<const Compiled> Compile(const std::string& pattern) {
    thread_local std::unordered_map<std::string, std::shared_ptr<const Compiled>> cache;
    if (auto it = cache.find(pattern); it != cache.end())
        return it->second;

    int error = 0;
    PCRE2_SIZE offset = 0;
    CodePtr code(pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), kCompileOptions,
                               &error, &offset, nullptr));
    if (!code)
        throw QuiloraError("表达式错误（位置 " + std::to_string(offset) + "）：" + EngineMessage(error));
    // Without JIT (an unsupported platform) the interpreter serves; same results.
    pcre2_jit_compile(code.get(), PCRE2_JIT_COMPLETE);

    auto compiled = std::make_shared<Compiled>();
    compiled->code = std::move(code);
    if (cache.size() >= 64)
        cache.clear();
    cache.emplace(pattern, compiled);
    return compiled;
}

// One match context per thread: limits raised so that a lazy group as long as
// the whole text never fails, and a JIT stack large enough for it.
pcre2_match_context* MatchContext() {
    struct Holder {
        JitStackPtr stack{pcre2_jit_stack_create(64 * 1024, 256 * 1024 * 1024, nullptr)};
        MatchContextPtr context{pcre2_match_context_create(nullptr)};
        Holder() {
            if (!context)
                throw QuiloraError("表达式引擎内存不足。");
            pcre2_set_match_limit(context.get(), UINT32_MAX);
            pcre2_set_depth_limit(context.get(), UINT32_MAX);
            pcre2_set_heap_limit(context.get(), UINT32_MAX);
            if (stack)
                pcre2_jit_stack_assign(context.get(), nullptr, stack.get());
        }
    };
    thread_local Holder holder;
    return holder.context.get();
}

} // namespace

struct TRegExpr::Impl {
    std::string expression;
    std::string input;
    std::shared_ptr<const Compiled> compiled; // null until the next Exec
    MatchDataPtr matchData;
    bool matched = false;
    std::size_t matchEnd = 0;
    bool lastEmpty = false;
    std::array<std::pair<std::size_t, std::size_t>, kMaxGroup + 1> groups{};

    void Forget() {
        matched = false;
        matchEnd = 0;
        lastEmpty = false;
    }

    void EnsureCompiled() {
        if (compiled)
            return;
        if (expression.empty())
            throw QuiloraError("表达式为空，无法查找。");
        compiled = Compile(expression);
        matchData.reset(pcre2_match_data_create_from_pattern(compiled->code.get(), nullptr));
        if (!matchData)
            throw QuiloraError("表达式引擎内存不足。");
    }

    bool Search(std::size_t start, std::uint32_t options) {
        EnsureCompiled();
        const int rc = pcre2_match(compiled->code.get(), reinterpret_cast<PCRE2_SPTR>(input.data()),
                                   input.size(), start, options, matchData.get(), MatchContext());
        if (rc == PCRE2_ERROR_NOMATCH)
            return false;
        if (rc < 0)
            throw QuiloraError("表达式匹配失败：" + EngineMessage(rc));
        const PCRE2_SIZE* ov = pcre2_get_ovector_pointer(matchData.get());
        const auto pairs = std::min<std::uint32_t>(pcre2_get_ovector_count(matchData.get()), kMaxGroup + 1);
        const auto set = static_cast<std::uint32_t>(rc); // groups beyond rc took no part
        for (std::uint32_t i = 0; i <= kMaxGroup; ++i) {
            if (i < pairs && i < set && ov[2 * i] != PCRE2_UNSET)
                groups[i] = {ov[2 * i], ov[2 * i + 1]};
            else
                groups[i] = {0, 0};
        }
        matched = true;
        matchEnd = ov[1];
        lastEmpty = ov[0] == ov[1];
        return true;
    }
};

TRegExpr::TRegExpr() : impl_(std::make_unique<Impl>()) {}
TRegExpr::~TRegExpr() = default;

void TRegExpr::SetExpression(std::string_view pattern) {
    impl_->expression.assign(pattern);
    impl_->compiled.reset();
    impl_->matchData.reset();
}

const std::string& TRegExpr::Expression() const {
    return impl_->expression;
}

void TRegExpr::SetInputString(std::string_view text) {
    impl_->input.assign(text);
    impl_->Forget();
}

void TRegExpr::SetInputString(std::string&& text) {
    impl_->input = std::move(text);
    impl_->Forget();
}

void TRegExpr::SetInputString(const char* text) {
    SetInputString(std::string_view(text));
}

const std::string& TRegExpr::InputString() const {
    return impl_->input;
}

bool TRegExpr::Exec() {
    impl_->Forget();
    return impl_->Search(0, 0);
}

bool TRegExpr::ExecNext() {
    if (!impl_->matched)
        return false;
    const std::size_t start = impl_->matchEnd;
    // After an empty match the next one must not be that same empty match
    // again, or the loop would never advance.
    const std::uint32_t options = impl_->lastEmpty ? PCRE2_NOTEMPTY_ATSTART : 0;
    impl_->Forget();
    if (start > impl_->input.size())
        return false;
    return impl_->Search(start, options);
}

std::string TRegExpr::Capture(int i) const {
    return std::string(CaptureView(i));
}

std::string_view TRegExpr::CaptureView(int i) const {
    if (!impl_->matched || i < 0 || i > kMaxGroup)
        return {};
    const auto [begin, end] = impl_->groups[static_cast<std::size_t>(i)];
    return std::string_view(impl_->input).substr(begin, end - begin);
}

std::size_t TRegExpr::MatchEnd() const {
    return impl_->matched ? impl_->matchEnd : 0;
}

} // namespace quilora
