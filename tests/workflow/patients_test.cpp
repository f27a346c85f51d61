// The patient page read into records, and the per-account cache in TUser.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include "catalogue/schema.h"
#include "common/database.h"
#include "common/errors.h"
#include "workflow/patients.h"

namespace quilora {
namespace {

// One patient row as the portal's patient page writes it.
std::string Row(const std::string& name, const std::string& relation, const std::string& sex,
                const std::string& birthday, long long member, long long clinic) {
    return "\t\t<DIV class=\"UserRow\" onmouseover=\"this.style.background='#EAF4FF'\" "
           "onmouseout=\"this.style.background='#FFFFFF'\">\r\n"
           "\t\t\t<SPAN style=\"width:100px;\">" +
           name + "</SPAN>\r\n\t\t\t<SPAN>" + relation + "</SPAN>\r\n\t\t\t<SPAN>" + sex +
           "</SPAN>\r\n\t\t\t<SPAN>" + birthday +
           "</SPAN>\r\n"
           "\t\t\t<SPAN><A href=\"javascript:void(0)\" onclick=\"showForm('update','" +
           std::to_string(member) +
           "')\">修改资料</A></SPAN>\r\n"
           "\t\t\t<SPAN style=\"width:80px\"><A href=\"javascript:void(0)\" onclick=\"Clinic(" +
           std::to_string(clinic) + ");\">诊疗卡</A></SPAN>\r\n\t\t</DIV>\r\n";
}

std::string Page(const std::string& rows) {
    return "<HTML><BODY>\r\n\t<DIV class=\"UserList\">\r\n\t\t<DIV class=\"UserHead\"><SPAN "
           "style=\"width:100px;\">姓名</SPAN></DIV>\r\n" +
           rows + "\t</DIV>\r\n</BODY></HTML>";
}

TEST(ReadPatients, OneRecordPerRowInPageOrder) {
    const auto patients = ReadPatients(Page(Row("王 小明", "本人", "男", "1985-02-03", 11, 501) +
                                            Row("Li Na", "配偶", "女", "1987-12-30", 12, 502) +
                                            Row("王\t乐", "儿子", "男", "2015-06-01", 13, 503)));
    ASSERT_EQ(patients.size(), 3u);
    EXPECT_EQ(patients[0].name, "王小明"); // blanks go
    EXPECT_EQ(patients[0].relation, "本人");
    EXPECT_EQ(patients[0].sex, "男");
    EXPECT_EQ(patients[0].birthday, "1985-02-03");
    EXPECT_EQ(patients[0].userId, 11);
    EXPECT_EQ(patients[0].cardNo, 501);
    EXPECT_EQ(patients[1].name, "lina"); // lower case, no blank
    EXPECT_EQ(patients[2].name, "王乐"); // the tab goes with normalisation
    EXPECT_EQ(patients[2].cardNo, 503);
}

// Seen: a clinic number of 3000000000 was stored, and every later sign-in failed
// to read the list back.
TEST(ReadPatients, ANumberBeyondThirtyTwoBitsRefusesThePage) {
    const std::string good = Row("王小明", "本人", "男", "1985-02-03", 11, 501);
    for (const auto& [member, clinic] : {std::pair{12LL, 3000000000LL}, std::pair{4294967308LL, 502LL}}) {
        SCOPED_TRACE(std::to_string(member) + "/" + std::to_string(clinic));
        try {
            ReadPatients(Page(good + Row("李娜", "配偶", "女", "1987-12-30", member, clinic)));
            ADD_FAILURE() << "read";
        } catch (const QuiloraError& e) {
            const std::string wide = std::to_string(member == 12 ? clinic : member);
            EXPECT_NE(std::string(e.what()).find(wide), std::string::npos) << e.what();
        }
    }
    EXPECT_EQ(ReadPatients(Page(good + Row("李娜", "配偶", "女", "1987-12-30", 12, 2147483647)))[1].cardNo,
              2147483647);
}

TEST(ReadPatients, OtherPagesGiveNone) {
    EXPECT_TRUE(ReadPatients(Page("")).empty());
    EXPECT_TRUE(ReadPatients("您尚未登录或登录已超时，请先登录后再进行操作。").empty());
}

class PatientCache : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        connection.SetOnOpened(catalogue::PrepareCatalogue);
        connection.SetConnectionString("Provider=SQLite;Data Source=cat.db", dir.path().toStdString());
        connection.Open();
    }
    std::vector<std::string> Names(const std::string& login) {
        std::vector<std::string> names;
        for (const PatientEntry& e : CachedPatients(query, login))
            names.push_back(e.name + "/" + std::to_string(e.cardNo));
        return names;
    }
    static PatientRecord Patient(std::string name, long long card) {
        PatientRecord p;
        p.name = std::move(name);
        p.relation = "本人";
        p.userId = card + 1000;
        p.cardNo = card;
        return p;
    }

    QTemporaryDir dir;
    db::Connection connection{"patients_test"};
    db::Query query{connection};
    db::Command command{connection};
};

TEST_F(PatientCache, ReplacesOnlyTheAccountsRows) {
    ReplaceCachedPatients(connection, command, "A", {Patient("a1", 1), Patient("a2", 2)});
    ReplaceCachedPatients(connection, command, "B", {Patient("b1", 3)});
    ReplaceCachedPatients(connection, command, "A", {Patient("o'neil", 4)}); // a quote is just a character
    EXPECT_EQ(Names("A"), std::vector<std::string>{"o'neil/4"});
    EXPECT_EQ(Names("B"), std::vector<std::string>{"b1/3"});
    EXPECT_TRUE(Names("' or ''='").empty());
}

TEST_F(PatientCache, FailingInsertKeepsTheOldRows) {
    ReplaceCachedPatients(connection, command, "A", {Patient("a1", 1), Patient("a2", 2)});
    command.Execute("CREATE TRIGGER refuse BEFORE INSERT ON TUser WHEN NEW.UserName = 'bad' "
                    "BEGIN SELECT RAISE(ABORT, 'refused'); END");
    EXPECT_THROW(ReplaceCachedPatients(connection, command, "A", {Patient("new", 5), Patient("bad", 6)}),
                 DatabaseError);
    EXPECT_EQ(Names("A"), (std::vector<std::string>{"a1/1", "a2/2"}));
}

TEST_F(PatientCache, EmptyPageEmptiesTheAccount) {
    ReplaceCachedPatients(connection, command, "A", {Patient("a1", 1)});
    ReplaceCachedPatients(connection, command, "A", {});
    EXPECT_TRUE(Names("A").empty());
}

} // namespace
} // namespace quilora

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
