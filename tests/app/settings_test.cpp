// Config.ini as the window reads and writes it: the restore rules, the saved
// keys, the keys that are never written, and a refused write.
#include "support/owner_only.h"
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>

#include "app/combo_sink.h"
#include "app_fixture.h"
#include "common/errors.h"
#include "common/profile.h"

namespace quilora::testing {
namespace {

class SettingsTest : public WindowFixture {
protected:
    void SetUp() override { CreateCatalogue(); }
    ProfileFile Profile() const { return ProfileFile(Path("Config.ini")); }
    std::string Read(const char* key) const { return Profile().ReadString("Data", key, "<absent>"); }
};

TEST_F(SettingsTest, RestoresTheUserTypeFromEveryIntegerForm) {
    const struct {
        const char* stored;
        int tag;
    } cases[] = {
        {"0x1F", 31}, {"0X1f", 31}, {"$1F", 31}, {"5", 5},
        {"abc", 1},   {"0x", 1},    {"31x", 1},  {"", 1}, // no number: the first entry stays
        {"77", 1},                                        // no such user type
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        WriteConfig(std::string(kSqlite) + "UserTypeArea=" + c.stored + "\n");
        auto w = Start();
        EXPECT_EQ(SelectedTag(*w->cbxUserTypeArea), c.tag);
    }
}

TEST_F(SettingsTest, RestoresTheCardTypeByExactIdentifierText) {
    const struct {
        const char* stored;
        const char* name;
    } cases[] = {{"a-2", "身份证"}, {"A-2", "医保卡"}, {"a", "就诊卡"}, {"zz", "就诊卡"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        WriteConfig(std::string(kSqlite) + "UserTypeCard=" + c.stored + "\n");
        auto w = Start();
        EXPECT_EQ(w->cbxUserTypeCard->currentText().toStdString(), c.name);
    }
}

TEST_F(SettingsTest, SaveWritesSelectionsAndPasswordAndTheNextStartRestoresThem) {
    WriteConfig(std::string(kSqlite) + "CardNo=123\nAreaID=77\nHospitalID=$10\nPasswd=old\n");
    {
        auto w = Start();
        SelectItem(*w->cbxUserTypeArea, 1);
        SelectItem(*w->cbxUserTypeCard, 2);
        w->edtPasswd->clear();
        w->SaveSettings();
    }
    EXPECT_EQ(Read("UserTypeArea"), "31");
    EXPECT_EQ(Read("UserTypeCard"), "a-2");
    EXPECT_EQ(Read("Passwd"), ""); // an empty password is written, not skipped
    // The empty lists leave their keys as they were; the program's own keys stay untouched.
    EXPECT_EQ(Read("AreaID"), "77");
    EXPECT_EQ(Read("HospitalID"), "$10");
    EXPECT_EQ(Read("ClassID"), "<absent>");
    EXPECT_EQ(Read("DoctorID"), "<absent>");
    EXPECT_EQ(Read("CardNo"), "123");
    EXPECT_EQ(Read("Connect"), "Provider=SQLite;Data Source=cat.db");

    auto again = Start();
    EXPECT_EQ(again->cbxUserTypeArea->currentIndex(), 1);
    EXPECT_EQ(again->cbxUserTypeCard->currentIndex(), 2);
    EXPECT_TRUE(again->edtPasswd->text().isEmpty());

    again->edtPasswd->setText(QStringLiteral("新密码=;x"));
    again->SaveSettings();
    EXPECT_EQ(Read("Passwd"), "新密码=;x");
}

TEST_F(SettingsTest, ACreatedFileIsForItsOwnerOnly) {
    WriteConfig(kSqlite);
    auto w = Start();
    ASSERT_TRUE(QFile::remove(QString::fromStdString(Path("Config.ini"))));
    w->SaveSettings();
    EXPECT_EQ(test::OwnerOnlyProblem(Path("Config.ini")), "");
    EXPECT_EQ(Read("UserTypeArea"), "1");
    EXPECT_EQ(Read("CardNo"), "<absent>"); // never written
}

// Seen: a pasted "password⏎Connect=…" added a second Connect line, and the
// next start opened the other catalogue.
TEST_F(SettingsTest, ALineBreakInThePasswordNeverBecomesASetting) {
    WriteConfig(std::string(kSqlite) + "Passwd=old\n");
    auto w = Start();
    const std::string connect = Read("Connect");
    w->edtPasswd->clear();
    w->edtPasswd->insert(QStringLiteral("demo1234\r\nConnect=Provider=SQLite;Data Source=evil.db"));
    EXPECT_EQ(w->edtPasswd->text(), QStringLiteral("demo1234Connect=Provider=SQLite;Data Source=evil.db"));
    w->SaveSettings();
    EXPECT_EQ(Read("Connect"), connect);
    EXPECT_EQ(Read("Passwd"), "demo1234Connect=Provider=SQLite;Data Source=evil.db");
}

TEST_F(SettingsTest, ARefusedWriteRaisesUnableToWriteWithTheFullPath) {
    WriteConfig(kSqlite);
    auto w = Start();
    // The settings folder becomes a regular file: no one can write below it, root included.
    const QString folder = dir.path();
    const QString moved = folder + QStringLiteral("-moved");
    ASSERT_TRUE(QDir().rename(folder, moved));
    {
        QFile blocker(folder);
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    }
    std::string error;
    try {
        w->SaveSettings();
    } catch (const QuiloraError& e) {
        error = e.what();
    }
    QFile::remove(folder);
    QDir().rename(moved, folder);

    EXPECT_EQ(error, "Unable to write to " + w->SettingsPath().toStdString());
    // In the system's own form: backslashes on Windows.
    EXPECT_EQ(w->SettingsPath(), QDir::toNativeSeparators(QString::fromStdString(Path("Config.ini"))));
}

} // namespace
} // namespace quilora::testing
