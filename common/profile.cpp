#include "profile.h"

// SimpleIni with a converter of the platform's own (Debian ships no ConvertUTF).
#ifdef _WIN32
#define SI_CONVERT_WIN32
#else
#define SI_CONVERT_ICU
#endif
#include <SimpleIni.h>

#include <charconv>
#include <climits>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>

#include "errors.h"
#include "platform.h"

namespace quilora {

namespace {

constexpr std::size_t kMaxText = 2047;

// Loads the file afresh for every key; a missing file reads as empty.
bool Load(const std::string& path, CSimpleIniA& ini) {
    ini.SetUnicode(true);
    ini.SetMultiKey(false);
    // SimpleIni sizes its buffer from the file: a folder would read as an absurd size.
    const std::filesystem::path file = platform::PathFromUtf8(path);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        return false;
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        return false;
    return ini.LoadData(text) >= 0;
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

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

constexpr int kMaxLinkHops = 40;

// The file a write replaces: the path itself, or the end of its chain of symbolic links,
// so that a link stays a link. Nothing for a chain too long or looping.
std::optional<std::filesystem::path> FinalTarget(std::filesystem::path path) {
    for (int hop = 0; hop <= kMaxLinkHops; ++hop) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(path, ec)))
            return path;
        const std::filesystem::path next = std::filesystem::read_symlink(path, ec);
        if (ec)
            return std::nullopt;
        // A relative target is relative to the link's folder.
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
    return std::nullopt;
}

bool ReplaceFile(const std::string& path, std::string_view text) {
    const auto target = FinalTarget(platform::PathFromUtf8(path));
    return target && platform::ReplaceFilePrivately(*target, text);
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
    // A line break would end the line early and start one of the caller's making.
    if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value))
        RefuseWrite(path_);
    CSimpleIniA ini;
    const bool existed = Load(path_, ini);
    std::error_code ec;
    if (!existed && std::filesystem::exists(platform::PathFromUtf8(path_), ec))
        RefuseWrite(path_); // a folder or a device, not a settings file
    ini.SetSpaces(false);   // key=value, as the profile API writes it
    if (ini.SetValue(std::string(section).c_str(), std::string(key).c_str(), std::string(value).c_str()) < 0)
        RefuseWrite(path_);
    std::string text;
    if (ini.Save(text, false) < 0 || !ReplaceFile(path_, text))
        RefuseWrite(path_);
}

void ProfileFile::WriteInteger(std::string_view section, std::string_view key, int value) const {
    WriteString(section, key, std::to_string(value));
}

} // namespace quilora
