#pragma once
// Drawing the user's attention to the outcome of an auto-booking, which may
// come hours after it was armed while the user looks at another window: the
// taskbar entry asks for attention, a short sound plays and a desktop
// notification appears where the desktop has a system tray.
#include <functional>
#include <string>

class QWidget;

namespace quilora {

struct AttentionRequest {
    std::string title; // UTF-8
    std::string text;  // UTF-8
};

// Replaces what DrawAttention does (an empty hook restores the real one);
// returns the previous hook. Tests record the calls here, as with message boxes.
using AttentionHook = std::function<void(const AttentionRequest&)>;
AttentionHook SetAttentionHook(AttentionHook hook);

class ScopedAttentionHook {
public:
    explicit ScopedAttentionHook(AttentionHook hook) : previous_(SetAttentionHook(std::move(hook))) {}
    ~ScopedAttentionHook() { SetAttentionHook(std::move(previous_)); }
    ScopedAttentionHook(const ScopedAttentionHook&) = delete;
    ScopedAttentionHook& operator=(const ScopedAttentionHook&) = delete;

private:
    AttentionHook previous_;
};

void DrawAttention(QWidget& window, const AttentionRequest& request);

} // namespace quilora
