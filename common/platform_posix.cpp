// Linux (and other POSIX systems) side of the platform layer.
#include "platform.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace quilora::platform {

namespace {

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
} // namespace

std::filesystem::path PathFromUtf8(const std::string& utf8) {
    return std::filesystem::path(utf8);
}

bool ReplaceFilePrivately(const std::filesystem::path& target, std::string_view text) {
    // rename() would replace a read-only file without asking.
    if (::access(target.c_str(), W_OK) != 0 && errno != ENOENT)
        return false;
    TempFile temp(target);
    if (!temp.Commit(text, target))
        return false;
    // Best effort: the rename itself reaches the disk with the folder.
    const std::filesystem::path folder = target.parent_path();
    const Fd dir(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.Get() >= 0)
        ::fsync(dir.Get());
    return true;
}

long CurrentProcessId() {
    return static_cast<long>(::getpid());
}

bool ProcessHasEnded(long pid) {
    if (pid <= 0)
        return true;
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

bool IsTerminal(std::FILE* stream) {
    return ::isatty(::fileno(stream)) != 0;
}

void UseUtf8Console() {}

} // namespace quilora::platform
