#include "profile.h"

// SimpleIni with its ICU converter (Debian ships no ConvertUTF).
#define SI_CONVERT_ICU
#include <SimpleIni.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <filesystem>
#include <string>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "errors.h"

namespace quilora {

namespace {

constexpr std::size_t kMaxText = 2047;

// Loads the file afresh for every key; a missing file reads as empty.
bool Load(const std::string& path, CSimpleIniA& ini) {
    ini.SetUnicode(true);
    ini.SetMultiKey(false);
    // SimpleIni sizes its buffer from the file: a folder would read as an absurd size.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return false;
    const SI_Error rc = ini.LoadFile(path.c_str());
    return rc >= 0;
}

// The longest prefix of at most max bytes that does not end inside a UTF-8 sequence.
std::string CutUtf8(std::string_view s, std::size_t max) {
    if (s.size() <= max)
        return std::string(s);
    std::size_t end = max;
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80)
        --end;
    return std::string(s.substr(0, end));
}

[[noreturn]] void RefuseWrite(const std::string& path) {
    throw QuiloraError("Unable to write to " + path);
}

} // namespace

bool ParseProfileInteger(std::string_view text, int& out) {
    long long value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    int base = 10;
    bool negative = false;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        first += 2;
        base = 16;
    } else if (text.size() > 1 && text[0] == '$') {
        first += 1;
        base = 16;
    } else if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        first += 1;
    }
    if (first == last || *first == '-' || *first == '+')
        return false;
    const auto [ptr, ec] = std::from_chars(first, last, value, base);
    if (ec != std::errc() || ptr != last)
        return false;
    if (negative)
        value = -value;
    // Hexadecimal values name the 32-bit pattern, as the profile API reads them.
    if (base == 16) {
        if (value > static_cast<long long>(UINT_MAX))
            return false;
        out = static_cast<int>(static_cast<unsigned int>(value));
        return true;
    }
    if (value < INT_MIN || value > INT_MAX)
        return false;
    out = static_cast<int>(value);
    return true;
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view def) const {
    CSimpleIniA ini;
    if (!Load(path_, ini))
        return CutUtf8(def, kMaxText);
    const char* v = ini.GetValue(std::string(section).c_str(), std::string(key).c_str(), nullptr);
    return CutUtf8(v ? std::string_view(v) : def, kMaxText);
}

int ProfileFile::ReadInteger(std::string_view section, std::string_view key, int def) const {
    CSimpleIniA ini;
    if (!Load(path_, ini))
        return def;
    const char* v = ini.GetValue(std::string(section).c_str(), std::string(key).c_str(), nullptr);
    int out = 0;
    if (!v || !ParseProfileInteger(v, out))
        return def;
    return out;
}

void ProfileFile::WriteString(std::string_view section, std::string_view key, std::string_view value) const {
    CSimpleIniA ini;
    const bool existed = Load(path_, ini);
    std::error_code ec;
    if (!existed && std::filesystem::exists(path_, ec))
        RefuseWrite(path_); // a folder or a device, not a settings file
#ifndef _WIN32
    // The file holds the portal password: a file created here is for its owner only.
    if (!existed) {
        const int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd < 0 && errno != EEXIST)
            RefuseWrite(path_);
        if (fd >= 0)
            ::close(fd);
    }
#else
    (void)existed;
#endif
    if (ini.SetValue(std::string(section).c_str(), std::string(key).c_str(), std::string(value).c_str()) < 0)
        RefuseWrite(path_);
    if (ini.SaveFile(path_.c_str(), false) < 0)
        RefuseWrite(path_);
}

void ProfileFile::WriteInteger(std::string_view section, std::string_view key, int value) const {
    WriteString(section, key, std::to_string(value));
}

} // namespace quilora
