#include "portal/charset.h"

#include <memory>
#include <stdexcept>

namespace quilora::portal {

namespace {
std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& ch : out)
        if (ch >= 'A' && ch <= 'Z')
            ch = char(ch - 'A' + 'a');
    return out;
}
} // namespace

bool IsUtf8(std::string_view charset) {
    const std::string c = Lower(charset);
    return c == "utf-8" || c == "utf8";
}

std::string EncodeAnswer(std::string_view utf8, std::string_view charset) {
    if (IsUtf8(charset))
        return std::string(utf8);
    // One descriptor per thread and charset: opening one costs more than most pages.
    thread_local std::string openFor;
    thread_local std::unique_ptr<CharsetConverter> conv;
    if (!conv || openFor != charset) {
        conv = std::make_unique<CharsetConverter>(charset, "UTF-8");
        openFor = std::string(charset);
    }
    return conv->Convert(utf8);
}

std::string DecodeQueryValue(std::string_view bytes, std::string_view charset) {
    bool ascii = true;
    for (unsigned char ch : bytes)
        ascii = ascii && ch < 0x80;
    if (ascii || IsUtf8(charset))
        return std::string(bytes);
    try {
        return CharsetConverter("UTF-8", charset).Convert(bytes);
    } catch (const std::runtime_error&) {
        return std::string(bytes);
    }
}

} // namespace quilora::portal
