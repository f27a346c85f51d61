// iconv side of the portal's charset conversion.
#include "portal/charset.h"

#include <cerrno>
#include <iconv.h>
#include <stdexcept>

namespace quilora::portal {

namespace {
iconv_t Handle(void* cd) {
    return static_cast<iconv_t>(cd);
}
const iconv_t kInvalid = reinterpret_cast<iconv_t>(-1);
} // namespace

CharsetConverter::CharsetConverter(std::string_view to, std::string_view from) {
    const iconv_t cd = iconv_open(std::string(to).c_str(), std::string(from).c_str());
    if (cd == kInvalid)
        throw std::runtime_error("unknown charset conversion " + std::string(from) + " -> " +
                                 std::string(to));
    cd_ = cd;
}

CharsetConverter::~CharsetConverter() {
    iconv_close(Handle(cd_));
}

std::string CharsetConverter::Convert(std::string_view in) {
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

} // namespace quilora::portal
