// Config.ini read and written one key at a time, with the profile value rules.
#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>
#include <vector>

#include <QTemporaryDir>

#include "common/errors.h"
#include "common/installation.h"
#include "common/profile.h"

using quilora::ProfileFile;

namespace {

std::string WriteFile(const QTemporaryDir& dir, const std::string& text) {
    const std::string path = dir.path().toStdString() + "/Config.ini";
    std::ofstream(path) << text;
    return path;
}

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

TEST(ProfileFile, ACreatedFileIsForItsOwnerOnly) {
    QTemporaryDir dir;
    const ProfileFile ini(dir.path().toStdString() + "/Config.ini");
    ini.WriteString("Data", "Passwd", "secret");
    struct stat st {};
    ASSERT_EQ(::stat(ini.Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(ProfileFile, ARefusedWriteNamesTheFile) {
    QTemporaryDir dir;
    // A path below a regular file cannot be written, not even by root.
    const std::string blocker = WriteFile(dir, "x");
    const ProfileFile ini(blocker + "/Config.ini");
    try {
        ini.WriteString("Data", "Passwd", "x");
        FAIL() << "the write was not refused";
    } catch (const quilora::QuiloraError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + blocker + "/Config.ini");
    }
    // A folder in the file's place reads as no file and refuses writes.
    const ProfileFile folder(dir.path().toStdString());
    EXPECT_EQ(folder.ReadString("Data", "Passwd", "none"), "none");
    EXPECT_THROW(folder.WriteString("Data", "Passwd", "x"), quilora::QuiloraError);
}

} // namespace
