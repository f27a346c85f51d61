#include "portal/charset.h"

#include <cerrno>
#include <iconv.h>
#include <memory>
#include <stdexcept>

namespace quilora::portal {

namespace {
iconv_t Handle(void* cd) {
    return static_cast<iconv_t>(cd);
}
const iconv_t kInvalid = reinterpret_cast<iconv_t>(-1);

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& ch : out)
        if (ch >= 'A' && ch <= 'Z')
            ch = char(ch - 'A' + 'a');
    return out;
}
} // namespace

Iconv::Iconv(std::string_view to, std::string_view from) {
    const iconv_t cd = iconv_open(std::string(to).c_str(), std::string(from).c_str());
    if (cd == kInvalid)
        throw std::runtime_error("unknown charset conversion " + std::string(from) + " -> " +
                                 std::string(to));
    cd_ = cd;
}

Iconv::~Iconv() {
    iconv_close(Handle(cd_));
}

std::string Iconv::Convert(std::string_view in) {
    iconv(Handle(cd_), nullptr, nullptr, nullptr, nullptr); // reset shift state
    std::string out(in.size() * 2 + 16, '\0');
    char* src = const_cast<char*>(in.data()); // iconv does not write through it
    std::size_t srcLeft = in.size();
    std::size_t done = 0;
    while (srcLeft > 0) {
        char* dst = out.data() + done;
        std::size_t dstLeft = out.size() - done;
        const std::size_t rc = iconv(Handle(cd_), &src, &srcLeft, &dst, &dstLeft);
        done = out.size() - dstLeft;
        if (rc != std::size_t(-1))
            break;
        if (errno != E2BIG)
            throw std::runtime_error("text does not convert");
        out.resize(out.size() * 2);
    }
    out.resize(done);
    return out;
}

bool IsUtf8(std::string_view charset) {
    const std::string c = Lower(charset);
    return c == "utf-8" || c == "utf8";
}

std::string EncodeAnswer(std::string_view utf8, std::string_view charset) {
    if (IsUtf8(charset))
        return std::string(utf8);
    // One descriptor per thread and charset: opening one costs more than most pages.
    thread_local std::string openFor;
    thread_local std::unique_ptr<Iconv> conv;
    if (!conv || openFor != charset) {
        conv = std::make_unique<Iconv>(charset, "UTF-8");
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
        return Iconv("UTF-8", charset).Convert(bytes);
    } catch (const std::runtime_error&) {
        return std::string(bytes);
    }
}

} // namespace quilora::portal
