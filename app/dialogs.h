#pragma once
// The message boxes of the handlers: hints, the hint that ends an action and
// yes/no questions. Flags and answers keep the Windows message-box values, so
// that callers and tests speak one vocabulary on every platform.
#include <functional>
#include <string>
#include <string_view>

namespace quilora {

inline constexpr unsigned kMbOk = 0x0;
inline constexpr unsigned kMbYesNoCancel = 0x3;
inline constexpr unsigned kMbYesNo = 0x4;
inline constexpr unsigned kMbButtonMask = 0xF;
inline constexpr unsigned kMbIconError = 0x10;
inline constexpr unsigned kMbIconQuestion = 0x20;
inline constexpr unsigned kMbIconInformation = 0x40;
inline constexpr unsigned kMbIconMask = 0xF0;
inline constexpr unsigned kMbDefButton2 = 0x100;
inline constexpr unsigned kMbDefButton3 = 0x200;
inline constexpr unsigned kMbDefButton4 = 0x300;
inline constexpr unsigned kMbDefButtonMask = 0xF00;

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

struct MessageRequest {
    std::string text;    // UTF-8, always shown as plain text
    std::string caption; // UTF-8
    unsigned flags = 0;
    bool centreOnScreen = false; // else over the active window
};

// Answers a message box: gives the code of the button pressed.
using Responder = std::function<int(const MessageRequest&)>;

// Replaces the responder (an empty one restores the real message box) and
// returns the previous one.
Responder SetResponder(Responder responder);

// Installs a responder for the lifetime of the object (tests).
class ScopedResponder {
public:
    explicit ScopedResponder(Responder responder) : previous_(SetResponder(std::move(responder))) {}
    ~ScopedResponder() { SetResponder(std::move(previous_)); }
    ScopedResponder(const ScopedResponder&) = delete;
    ScopedResponder& operator=(const ScopedResponder&) = delete;

private:
    Responder previous_;
};

// Shows one box through the current responder.
int ShowMessage(const MessageRequest& request);

// The real responder: a modal QMessageBox with the icon, buttons and default
// button that the flags name.
int ShowMessageBox(const MessageRequest& request);

unsigned HintFlags();
// 36 (Yes, No) or 35 (Yes, No, Cancel) with the question icon, plus the
// default-button flag: 2, 3 and 4 name the second to fourth button, anything
// else the first.
unsigned ConfirmFlags(bool allowCancel, int defaultButton);

// The captions are resources of the program, read afresh at each call.
std::string HintCaption();
std::string ConfirmCaption();

void ShowHint(std::string_view text);
// ShowHint, then the silent abort: throws SilentAbort, which the error report swallows.
[[noreturn]] void AbortWithHint(std::string_view text);
// Gives kIdYes, kIdNo or kIdCancel.
int AskConfirm(std::string_view text, bool allowCancel, int defaultButton);

} // namespace quilora
