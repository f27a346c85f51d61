// Config.ini read and written one key at a time, with the profile value rules.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <QTemporaryDir>

#include "common/errors.h"
#include "common/profile.h"
#include "common/settings.h"
#include "support/owner_only.h"

using quilora::ProfileFile;
namespace fs = std::filesystem;

namespace {

void Put(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string WriteFile(const QTemporaryDir& dir, const std::string& text) {
    const std::string path = dir.path().toStdString() + "/Config.ini";
    Put(path, text);
    return path;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A path in UTF-8, as the program names files.
std::string Name(const fs::path& path) {
#ifdef _WIN32
    return QString::fromStdWString(path.wstring()).toStdString();
#else
    return path.string();
#endif
}

// Everything below the folder: a file's content, a link's target, or its kind.
std::map<std::string, std::string> Snapshot(const fs::path& dir) {
    std::map<std::string, std::string> entries;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const auto type = e.symlink_status().type();
        std::string what = type == fs::file_type::regular     ? ReadAll(e.path())
                           : type == fs::file_type::symlink   ? "-> " + fs::read_symlink(e.path()).string()
                           : type == fs::file_type::directory ? "<folder>"
                                                              : "<other>";
        entries[Name(e.path().lexically_relative(dir))] = what;
    }
    return entries;
}

#ifndef _WIN32
// The regular files below the folder that anyone but their owner may open.
std::vector<std::string> OpenToOthers(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        struct stat st {};
        if (::lstat(e.path().c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0)
            names.push_back(e.path().lexically_relative(dir).string());
    }
    return names;
}

unsigned ModeOf(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : ~0u;
}
#endif

// The text of the error the write throws; empty when it goes through.
std::string WriteError(const ProfileFile& ini, std::string_view section, std::string_view key,
                       std::string_view value) {
    try {
        ini.WriteString(section, key, value);
    } catch (const quilora::QuiloraError& e) {
        return e.what();
    }
    return "";
}

#ifndef _WIN32
// Makes a file or folder read-only until the end of the scope. The mode does not stop
// root, so as root it is made immutable as well (chattr +i).
class ReadOnly {
public:
    explicit ReadOnly(fs::path path) : path_(std::move(path)), perms_(fs::status(path_).permissions()) {
        fs::permissions(
            path_, perms_ & ~(fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write));
        immutable_ = ::geteuid() == 0 && SetImmutable(true);
    }
    ReadOnly(const ReadOnly&) = delete;
    ReadOnly& operator=(const ReadOnly&) = delete;
    ~ReadOnly() {
        if (immutable_)
            SetImmutable(false);
        std::error_code ec;
        fs::permissions(path_, perms_, ec);
    }
    bool Holds() const { return ::geteuid() != 0 || immutable_; }

private:
    bool SetImmutable(bool on) const {
        struct Fd {
            int fd;
            ~Fd() {
                if (fd >= 0)
                    ::close(fd);
            }
        } const file{::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
        int flags = 0;
        if (file.fd < 0 || ::ioctl(file.fd, FS_IOC_GETFLAGS, &flags) != 0)
            return false;
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        return ::ioctl(file.fd, FS_IOC_SETFLAGS, &flags) == 0;
    }

    fs::path path_;
    fs::perms perms_;
    bool immutable_ = false;
};

// Caps the size of any file this process writes for the scope, so a write stops partway
// as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) : handler_(std::signal(SIGXFSZ, SIG_IGN)) {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit capped = old_;
        capped.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &capped);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, handler_);
    }

private:
    rlimit old_{};
    void (*handler_)(int);
};

// Sets the umask for the scope; 0 lets nothing narrow a mode that is too wide.
class Umask {
public:
    explicit Umask(mode_t mask) : old_(::umask(mask)) {}
    Umask(const Umask&) = delete;
    Umask& operator=(const Umask&) = delete;
    ~Umask() { ::umask(old_); }

private:
    mode_t old_;
};
#endif

TEST(ProfileInteger, ReadsDecimalAndBothHexadecimalForms) {
    struct Case {
        const char* text;
        bool ok;
        int value;
    } cases[] = {
        {"42", true, 42},          {"-7", true, -7},  {"0x1F", true, 31},
        {"0X1f", true, 31},        {"$1F", true, 31}, {"0xFFFFFFFF", true, -1},
        {"0x", false, 0},          {"$", false, 0},   {"", false, 0},
        {"12abc", false, 0},       {"1.5", false, 0}, {"0xZZ", false, 0},
        {"99999999999", false, 0}, {"-", false, 0},   {"--1", false, 0},
        {" 5", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        int out = 0;
        EXPECT_EQ(quilora::ParseProfileInteger(c.text, out), c.ok);
        if (c.ok) {
            EXPECT_EQ(out, c.value);
        }
    }
}

TEST(ProfileFile, MissingFileAndKeysGiveTheDefaults) {
    QTemporaryDir dir;
    const ProfileFile ini(dir.path().toStdString() + "/Config.ini");
    EXPECT_EQ(ini.ReadString("Data", "Connect", "fallback"), "fallback");
    EXPECT_EQ(ini.ReadInteger("Data", "AreaID", 0), 0);
    const ProfileFile bad(WriteFile(dir, "[Data]\nAreaID=abc\nHospitalID=0x1F\n"));
    EXPECT_EQ(bad.ReadInteger("Data", "AreaID", 5), 5);
    EXPECT_EQ(bad.ReadInteger("Data", "HospitalID", 0), 31);
    EXPECT_EQ(bad.ReadInteger("Other", "HospitalID", 0), 0);
    // A folder in the file's place reads as no file.
    EXPECT_EQ(ProfileFile(dir.path().toStdString()).ReadString("Data", "Passwd", "none"), "none");
}

TEST(ProfileFile, WithoutAFileTheCatalogueIsTheDefaultServerAndNoCardNumber) {
    QTemporaryDir dir;
    const ProfileFile ini(dir.path().toStdString() + "/Config.ini");
    EXPECT_EQ(quilora::ReadCardNo(ini), "");
    const std::string connect = quilora::ReadConnect(ini);
    std::vector<std::string> fields;
    for (std::size_t from = 0, semi = 0; semi != std::string::npos; from = semi + 1) {
        semi = connect.find(';', from);
        fields.push_back(connect.substr(from, semi == std::string::npos ? semi : semi - from));
    }
    ASSERT_EQ(fields.size(), 6u) << connect;
    EXPECT_EQ(fields[0], "Provider=SQLOLEDB.1");
    EXPECT_EQ(fields[1].rfind("Password=", 0), 0u);
    EXPECT_EQ(fields[1].size(), std::string("Password=").size() + 1); // one character
    EXPECT_EQ(fields[2], "Persist Security Info=True");
    EXPECT_EQ(fields[3], "User ID=sa");
    EXPECT_EQ(fields[4], "Initial Catalog=QUILORA");
    EXPECT_EQ(fields[5].rfind("Data Source=", 0), 0u);
    const std::string source = fields[5].substr(std::string("Data Source=").size());
    const auto slash = source.find('\\');
    ASSERT_NE(slash, std::string::npos) << "host\\instance: " << source;
    EXPECT_GT(slash, 0u);
    EXPECT_LT(slash + 1, source.size());
}

TEST(ProfileFile, KeepsCommasAndOtherKeysAndCutsLongTexts) {
    QTemporaryDir dir;
    const std::string cs = "Provider=SQLOLEDB.1;Password=x;User ID=sa;Data Source=host,1433";
    const ProfileFile ini(
        WriteFile(dir, "; installation settings\n[Data]\nConnect=" + cs + "\nCardNo=123\n"));
    ini.WriteString("Data", "Passwd", "");
    ini.WriteInteger("Data", "AreaID", -3);
    EXPECT_EQ(ini.ReadString("Data", "Connect", ""), cs);
    EXPECT_EQ(ini.ReadString("Data", "CardNo", ""), "123");
    EXPECT_EQ(ini.ReadString("Data", "Passwd", "default"), "");
    EXPECT_EQ(ini.ReadInteger("Data", "AreaID", 0), -3);

    std::string longText(2046, 'a');
    longText += "密码"; // crosses 2047 bytes inside the first character
    ini.WriteString("Data", "Passwd", longText);
    EXPECT_EQ(ini.ReadString("Data", "Passwd", ""), std::string(2046, 'a'));
}

TEST(ProfileWrite, WritesKeyEqualsValueAndKeepsTheOtherKeysSectionsAndOrder) {
    QTemporaryDir dir;
    const ProfileFile ini(WriteFile(dir, "; installation settings\n[Portal]\nHost=a\n"
                                         "[Data]\nConnect=c\nCardNo = 123\nAreaID=$10\n[Other]\nKey=1\n"));
    ini.WriteString("Data", "Passwd", "abc");
    ini.WriteString("Data", "CardNo", "456");
    ini.WriteInteger("New", "UserTypeArea", 3);

    std::vector<std::string> lines;
    std::istringstream text(ReadAll(ini.Path()));
    for (std::string line; std::getline(text, line);) {
        // Lines end in CR LF on Windows, as its profile functions write them.
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
    }
    const std::vector<std::string> expected = {
        "; installation settings",
        "[Portal]",
        "Host=a",
        "[Data]",
        "Connect=c",
        "CardNo=456",
        "AreaID=$10",
        "Passwd=abc",
        "[Other]",
        "Key=1",
        "[New]",
        "UserTypeArea=3",
    };
    EXPECT_EQ(lines, expected);
}

TEST(ProfileWrite, ALineBreakIsRefusedAndNothingIsWritten) {
    const struct {
        const char* what;
        std::string_view section, key, value;
    } cases[] = {
        {"LF in the value", "Data", "Passwd", "demo1234\nConnect=Provider=SQLite;Data Source=evil.db"},
        {"CR in the value", "Data", "Passwd", "demo1234\rConnect=Provider=SQLite;Data Source=evil.db"},
        {"CRLF in the value", "Data", "Passwd", "demo1234\r\nConnect=Provider=SQLite;Data Source=evil.db"},
        {"LF ending the value", "Data", "Passwd", "demo1234\n"},
        {"LF in the key", "Data", "Passwd\nConnect", "evil"},
        {"CR in the key", "Data", "Passwd\rConnect", "evil"},
        {"LF in the section", "Data]\n[Evil", "Passwd", "x"},
        {"CR in the section", "Data\r", "Passwd", "x"},
    };
    // CRLF and blanks around "=": any rewrite of the file would change them.
    const std::string original = "[Data]\r\nConnect = Provider=SQLite;Data Source=cat.db\r\nPasswd = old\r\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const ProfileFile ini(WriteFile(dir, original));
        EXPECT_EQ(WriteError(ini, c.section, c.key, c.value), "Unable to write to " + ini.Path());
        const std::map<std::string, std::string> unchanged = {{"Config.ini", original}};
        EXPECT_EQ(Snapshot(dir.path().toStdString()), unchanged);

        const ProfileFile missing(dir.path().toStdString() + "/New.ini");
        EXPECT_EQ(WriteError(missing, c.section, c.key, c.value), "Unable to write to " + missing.Path());
        EXPECT_FALSE(fs::exists(missing.Path()));
    }
}

#ifndef _WIN32
TEST(ProfileWrite, NoFileHoldingThePasswordIsOpenToOthers) {
    const Umask umask(0);
    const struct {
        const char* what;
        std::function<void(const fs::path&)> make; // what stands at Config.ini before the write
        const char* target;                        // the file that takes the value
    } cases[] = {
        {"no file", [](const fs::path&) {}, "Config.ini"},
        {"a file of mode 0644",
         [](const fs::path& dir) {
             Put(dir / "Config.ini", "[Data]\nCardNo=123\n");
             fs::permissions(dir / "Config.ini", static_cast<fs::perms>(0644));
         },
         "Config.ini"},
        {"a dangling link", [](const fs::path& dir) { fs::create_symlink("Real.ini", dir / "Config.ini"); },
         "Real.ini"},
        {"a link to a file of mode 0644",
         [](const fs::path& dir) {
             Put(dir / "Real.ini", "[Data]\nCardNo=123\n");
             fs::permissions(dir / "Real.ini", static_cast<fs::perms>(0644));
             fs::create_symlink(dir / "Real.ini", dir / "Config.ini");
         },
         "Real.ini"},
        // Each relative target is taken from its own link's folder: store/Real.ini, not Real.ini.
        {"a chain of relative links ending nowhere",
         [](const fs::path& dir) {
             fs::create_directory(dir / "store");
             fs::create_symlink("Real.ini", dir / "store" / "Link.ini");
             fs::create_symlink("store/Link.ini", dir / "Config.ini");
         },
         "store/Real.ini"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const fs::path folder = dir.path().toStdString();
        c.make(folder);
        const bool wasLink = fs::is_symlink(folder / "Config.ini");
        std::map<std::string, std::string> before = Snapshot(folder);
        const ProfileFile ini((folder / "Config.ini").string());

        ini.WriteString("Data", "Passwd", "secret");

        EXPECT_EQ(fs::is_symlink(folder / "Config.ini"), wasLink);
        EXPECT_EQ(ProfileFile((folder / c.target).string()).ReadString("Data", "Passwd", ""), "secret");
        EXPECT_EQ(ModeOf(folder / c.target), 0600u);
        EXPECT_EQ(OpenToOthers(folder), std::vector<std::string>{});
        // Nothing but the target has changed: no temporary file is left behind.
        std::map<std::string, std::string> after = Snapshot(folder);
        EXPECT_EQ(after.erase(c.target), 1u);
        before.erase(c.target);
        EXPECT_EQ(after, before);
    }
}

TEST(ProfileWrite, AWriteCutShortLeavesTheOldFileWhole) {
    QTemporaryDir dir;
    const std::string old = "[Data]\nConnect=Provider=SQLite;Data Source=cat.db\nPasswd=old\n";
    const ProfileFile ini(WriteFile(dir, old));
    {
        const FileSizeLimit limit(old.size());
        EXPECT_EQ(WriteError(ini, "Data", "Passwd", std::string(1000, 'x')),
                  "Unable to write to " + ini.Path());
    }
    const std::map<std::string, std::string> unchanged = {{"Config.ini", old}};
    EXPECT_EQ(Snapshot(dir.path().toStdString()), unchanged);
}

TEST(ProfileWrite, ARefusedWriteKeepsTheOldFileAndLeavesNoTemporaryFile) {
    const std::string old = "[Data]\nPasswd=old\n";
    const struct {
        const char* what;
        const char* config;   // handed to ProfileFile
        const char* readOnly; // made read-only for the write, if any
        std::function<void(const fs::path&)> make;
    } cases[] = {
        {"a read-only file", "Config.ini", "Config.ini",
         [&](const fs::path& dir) { Put(dir / "Config.ini", old); }},
        {"a file in a read-only folder", "ro/Config.ini", "ro",
         [&](const fs::path& dir) {
             fs::create_directory(dir / "ro");
             Put(dir / "ro" / "Config.ini", old);
         }},
        {"a link to a file in a read-only folder", "Config.ini", "ro",
         [&](const fs::path& dir) {
             fs::create_directory(dir / "ro");
             Put(dir / "ro" / "Real.ini", old);
             fs::create_symlink("ro/Real.ini", dir / "Config.ini");
         }},
        {"a folder", "Config.ini", nullptr,
         [](const fs::path& dir) { fs::create_directory(dir / "Config.ini"); }},
        {"a pipe", "Config.ini", nullptr,
         [](const fs::path& dir) { ::mkfifo((dir / "Config.ini").c_str(), 0600); }},
        {"a link to itself", "Config.ini", nullptr,
         [](const fs::path& dir) { fs::create_symlink("Config.ini", dir / "Config.ini"); }},
        // No one can write below a regular file, not even root.
        {"a path below a regular file", "blocker/Config.ini", nullptr,
         [](const fs::path& dir) { Put(dir / "blocker", "x"); }},
    };
    std::vector<std::string> untested;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const fs::path folder = dir.path().toStdString();
        c.make(folder);
        const std::map<std::string, std::string> before = Snapshot(folder);
        const ProfileFile ini((folder / c.config).string());
        {
            std::optional<ReadOnly> lock;
            if (c.readOnly)
                lock.emplace(folder / c.readOnly);
            if (lock && !lock->Holds()) {
                untested.push_back(c.what);
                continue;
            }
            EXPECT_EQ(WriteError(ini, "Data", "Passwd", "new"), "Unable to write to " + ini.Path());
        }
        EXPECT_EQ(Snapshot(folder), before);
    }
    if (!untested.empty())
        GTEST_SKIP() << "root without the immutable attribute: " << untested.size()
                     << " read-only layouts untested";
}

#else

// Windows: the file is replaced whole and carries an ACL for its owner alone,
// whatever the folder would have given it.
TEST(ProfileWrite, TheWrittenFileIsForItsOwnerOnlyAndNothingElseChanges) {
    const struct {
        const char* what;
        const char* config;
        std::function<void(const fs::path&)> make;
    } cases[] = {
        {"no file", "Config.ini", [](const fs::path&) {}},
        {"a file the folder's entries open to others", "Config.ini",
         [](const fs::path& dir) { Put(dir / "Config.ini", "[Data]\nCardNo=123\n"); }},
        {"a folder with a Chinese name", "预约设置/Config.ini",
         [](const fs::path& dir) { fs::create_directory(dir / L"预约设置"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const fs::path folder = fs::path(dir.path().toStdWString()).make_preferred();
        c.make(folder);
        std::map<std::string, std::string> before = Snapshot(folder);
        const std::string utf8 = dir.path().toStdString() + "/" + c.config;
        const ProfileFile ini(utf8);

        ini.WriteString("Data", "Passwd", "secret");

        EXPECT_EQ(ini.ReadString("Data", "Passwd", ""), "secret");
        const fs::path target =
            fs::path(dir.path().toStdWString() + L"/" + QString::fromUtf8(c.config).toStdWString())
                .make_preferred();
        EXPECT_EQ(quilora::test::OwnerOnlyProblem(target), "");
        std::map<std::string, std::string> after = Snapshot(folder);
        const std::string key = Name(target.lexically_relative(folder));
        EXPECT_EQ(after.erase(key), 1u) << key;
        before.erase(key);
        EXPECT_EQ(after, before) << "a temporary file was left behind";
    }
}

TEST(ProfileWrite, ARefusedWriteKeepsTheOldFileAndLeavesNoTemporaryFile) {
    const std::string old = "[Data]\nPasswd=old\n";
    const struct {
        const char* what;
        const char* config;
        std::function<void(const fs::path&)> make;
    } cases[] = {
        {"a read-only file", "Config.ini",
         [&](const fs::path& dir) {
             Put(dir / "Config.ini", old);
             ::SetFileAttributesW((dir / "Config.ini").c_str(), FILE_ATTRIBUTE_READONLY);
         }},
        {"a folder", "Config.ini", [](const fs::path& dir) { fs::create_directory(dir / "Config.ini"); }},
        {"a path below a regular file", "blocker/Config.ini",
         [](const fs::path& dir) { Put(dir / "blocker", "x"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        const fs::path folder = dir.path().toStdWString();
        c.make(folder);
        const std::map<std::string, std::string> before = Snapshot(folder);
        const ProfileFile ini(dir.path().toStdString() + "/" + c.config);
        EXPECT_EQ(WriteError(ini, "Data", "Passwd", "new"), "Unable to write to " + ini.Path());
        EXPECT_EQ(Snapshot(folder), before);
        ::SetFileAttributesW((folder / "Config.ini").c_str(), FILE_ATTRIBUTE_NORMAL); // so the folder can go
    }
}
#endif

} // namespace
