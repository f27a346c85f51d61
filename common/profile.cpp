#include "profile.h"

// SimpleIni with its ICU converter (Debian ships no ConvertUTF).
#define SI_CONVERT_ICU
#include <SimpleIni.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <fstream>
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

bool HasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

#ifndef _WIN32

// Owns a file descriptor.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int Get() const { return fd_; }
    void Reset(int fd) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    // A late write error may show only here, so the result counts.
    bool Close() { return ::close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_ = -1;
};

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// A new file beside the one it is to replace, for its owner only. It is removed again
// unless Commit renamed it into place.
class TempFile {
public:
    explicit TempFile(const std::filesystem::path& target) {
        std::filesystem::path folder = target.parent_path();
        if (folder.empty())
            folder = ".";
        static std::atomic<unsigned> serial{0};
        for (int attempt = 0; attempt < 100; ++attempt) {
            name_ = folder / ("." + target.filename().string() + "." + std::to_string(::getpid()) + "-" +
                              std::to_string(serial++));
            // O_EXCL: never a file or link that was there before.
            const int fd = ::open(name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd >= 0) {
                fd_.Reset(fd);
                owned_ = true;
                return;
            }
            if (errno != EEXIST)
                return;
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile() {
        if (owned_)
            ::unlink(name_.c_str());
    }

    // Puts text on disk and renames the file over target.
    bool Commit(std::string_view text, const std::filesystem::path& target) {
        if (!owned_)
            return false;
        // The mode is set outright rather than trusted to what open made of it.
        if (::fchmod(fd_.Get(), 0600) != 0 || !WriteAll(fd_.Get(), text) || ::fsync(fd_.Get()) != 0 ||
            !fd_.Close())
            return false;
        if (::rename(name_.c_str(), target.c_str()) != 0)
            return false;
        owned_ = false;
        return true;
    }

private:
    std::filesystem::path name_;
    Fd fd_;
    bool owned_ = false;
};

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

// Replaces the file with text in one step: a reader, or a crash, finds the old file or
// the new one, and the new one is never open to others.
bool ReplaceFile(const std::string& path, std::string_view text) {
    const auto target = FinalTarget(path);
    if (!target)
        return false;
    // rename() would replace a read-only file without asking.
    if (::access(target->c_str(), W_OK) != 0 && errno != ENOENT)
        return false;
    TempFile temp(*target);
    if (!temp.Commit(text, *target))
        return false;
    // Best effort: the rename itself reaches the disk with the folder.
    const std::filesystem::path folder = target->parent_path();
    const Fd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0)
        ::fsync(dir.Get());
    return true;
}

#else

bool ReplaceFile(const std::string& path, std::string_view text) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path target(path);
    if (fs::exists(target, ec) &&
        (fs::status(target, ec).permissions() & fs::perms::owner_write) == fs::perms::none)
        return false;
    fs::path temp = target;
    temp += ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
        if (!out) {
            fs::remove(temp, ec);
            return false;
        }
    }
    fs::rename(temp, target, ec);
    if (ec) {
        fs::remove(temp, ec);
        return false;
    }
    return true;
}

#endif

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
    if (!existed && std::filesystem::exists(path_, ec))
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
