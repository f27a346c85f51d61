// The catalogue connection, queries, commands and list filling, on a real
// SQLite file and, when QUILORA_TEST_ODBC names a server, on PostgreSQL over ODBC.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>

#include "catalogue/schema.h"
#include "common/database.h"
#include "common/errors.h"
#include "odbc_backend.h"

using namespace quilora;
using namespace quilora::db;

namespace {

// Records what a fill did to the list.
struct RecordingList : ComboSink {
    struct Entry {
        std::string text;
        int tag = 0;
        std::string id;
    };
    std::vector<Entry> entries;
    int selected = -1;
    int clears = 0;
    void Clear() override {
        entries.clear();
        selected = -1;
        ++clears;
    }
    void AddInteger(const std::string& text, int tag) override { entries.push_back({text, tag, {}}); }
    void AddText(const std::string& text, const std::string& id) override {
        entries.push_back({text, 0, id});
    }
    int Count() const override { return static_cast<int>(entries.size()); }
    void Select(int index) override { selected = index; }
};

#ifdef _WIN32
// SQL Server through Windows' own driver manager; no Microsoft driver is installed here.
TEST(ConnectionString, TranslatesEachForm) {
    const std::filesystem::path base = L"C:\\Quilora 预约";
    struct Case {
        std::string ado;
        QString driver;
        QString name;
    } cases[] = {
        {"Provider=SQLite;Data Source=catalogue.db", "QSQLITE", "C:\\Quilora 预约\\catalogue.db"},
        {"provider=sqlite; data source = D:\\数据\\cat.db", "QSQLITE", "D:\\数据\\cat.db"},
        {"Provider=SQLOLEDB.1;Password=x;Persist Security Info=True;User ID=sa;Initial Catalog=QUILORA;"
         "Data Source=dbhost\\SQLEXPRESS",
         "QODBC", "Driver={SQL Server};Server=dbhost\\SQLEXPRESS;Database=QUILORA;UID=sa;PWD={x};"},
        {"Provider=SQLNCLI11;Data Source=dbhost,1433;Initial Catalog=Q;User ID=u;Password=p;w", "QODBC",
         "Driver={SQL Server};Server=dbhost,1433;Database=Q;UID=u;PWD={p};"},
        {"Provider=MSOLEDBSQL;Data Source=h;User ID=sa;Password=a}b;c", "QODBC",
         "Driver={SQL Server};Server=h;UID=sa;PWD={a}}b};"},
        {"DSN=quilora", "QODBC", "DSN=quilora"},
    };
#else
TEST(ConnectionString, TranslatesEachForm) {
    const std::filesystem::path base = "/opt/quilora";
    struct Case {
        std::string ado;
        QString driver;
        QString name;
    } cases[] = {
        {"Provider=SQLite;Data Source=catalogue.db", "QSQLITE", "/opt/quilora/catalogue.db"},
        {"provider=sqlite; data source = /var/lib/q/cat.db", "QSQLITE", "/var/lib/q/cat.db"},
        {"Provider=SQLOLEDB.1;Password=x;Persist Security Info=True;User ID=sa;Initial Catalog=QUILORA;"
         "Data Source=dbhost\\SQLEXPRESS",
         "QODBC",
         "Driver={FreeTDS};Server=dbhost\\SQLEXPRESS;TDS_Version=7.3;ClientCharset=UTF-8;Database=QUILORA;"
         "UID=sa;"
         "PWD={x};"},
        {"Provider=SQLNCLI11;Data Source=dbhost,1433;Initial Catalog=Q;User ID=u;Password=p;w", "QODBC",
         "Driver={FreeTDS};Server=dbhost;Port=1433;TDS_Version=7.3;ClientCharset=UTF-8;Database=Q;UID=u;PWD={"
         "p};"},
        // A closing brace in the password must not end the braced value.
        {"Provider=MSOLEDBSQL;Data Source=h;User ID=sa;Password=a}b;c", "QODBC",
         "Driver={FreeTDS};Server=h;TDS_Version=7.3;ClientCharset=UTF-8;UID=sa;PWD={a}}b};"},
        {"Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=5432;Database=q", "QODBC",
         "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=5432;Database=q"},
        {"DSN=quilora", "QODBC", "DSN=quilora"},
    };
#endif
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ado);
        const ConnectionSpec target = TranslateConnectionString(c.ado, base);
        EXPECT_EQ(target.driver, c.driver);
        EXPECT_EQ(target.databaseName, c.name);
    }
    EXPECT_THROW(TranslateConnectionString("Provider=Jet;Data Source=x.mdb", base), DatabaseError);
    EXPECT_THROW(TranslateConnectionString("Provider=SQLite", base), DatabaseError);
}

TEST(ConnectionString, SqlServerTakesTheNewestMicrosoftDriverInstalled) {
    using Drivers = std::vector<std::string>;
    const struct {
        Drivers installed;
        std::string chosen;
    } cases[] = {
        {{}, "SQL Server"},
        {{"PostgreSQL Unicode", "SQL Server"}, "SQL Server"},
        {{"SQL Server", "ODBC Driver 17 for SQL Server"}, "ODBC Driver 17 for SQL Server"},
        {{"ODBC Driver 18 for SQL Server", "SQL Server", "ODBC Driver 17 for SQL Server"},
         "ODBC Driver 18 for SQL Server"},
        // A name that only starts like one is another driver.
        {{"ODBC Driver 18 for SQL Server (test)"}, "SQL Server"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SqlServerDriver(c.installed), c.chosen) << ::testing::PrintToString(c.installed);
}

TEST(SchemaScript, SplitsStatementsAndDropsComments) {
    const auto parts =
        catalogue::SplitScript("-- head\nCREATE TABLE a (x INT);\n\nINSERT INTO a VALUES (1);\n"
                               "INSERT INTO a VALUES ('x;y')");
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0], "CREATE TABLE a (x INT)");
    EXPECT_EQ(parts[2], "INSERT INTO a VALUES ('x;y')");
}

TEST(SqliteCatalogue, NewFileGetsSchemaAndSeedRowsOnce) {
    QTemporaryDir dir;
    Connection c;
    c.SetOnOpened(catalogue::ApplySchemaIfEmpty);
    c.SetConnectionString("Provider=SQLite;Data Source=cat.db", dir.path().toStdString());
    c.Open();
    Query q(c);
    OpenQuery(q, "Select * From TUserTypeArea");
    EXPECT_EQ(q.RecordCount(), 2u);
    Command(c).Execute("Delete from TUserTypeArea");
    c.Close();
    c.Open(); // an existing file is left as it is
    OpenQuery(q, "Select * From TUserTypeArea");
    EXPECT_EQ(q.RecordCount(), 0u);
}

TEST(SqliteCatalogue, UnreachableFileFailsAndALaterUseReopens) {
    QTemporaryDir dir;
    Connection c;
    c.SetOnOpened(catalogue::ApplySchemaIfEmpty);
    const auto missing = dir.path().toStdString() + "/not-yet";
    c.SetConnectionString("Provider=SQLite;Data Source=not-yet/cat.db", dir.path().toStdString());
    EXPECT_THROW(c.Open(), DatabaseError);
    EXPECT_FALSE(c.IsOpen());
    std::filesystem::create_directory(missing);
    Query q(c);
    OpenQuery(q, "Select * From TUserTypeCard"); // reopens on its own
    EXPECT_TRUE(c.IsOpen());
    EXPECT_EQ(q.RecordCount(), 3u);
}

TEST(SqliteCatalogue, AFileThatCannotTakeItsSchemaIsNotLeftOpen) {
    QTemporaryDir dir;
    Connection c;
    int prepared = 0;
    c.SetOnOpened([&](Connection& opened) {
        if (++prepared == 1)
            throw DatabaseError("disk I/O error");
        catalogue::ApplySchemaIfEmpty(opened);
    });
    c.SetConnectionString("Provider=SQLite;Data Source=cat.db", dir.path().toStdString());
    EXPECT_THROW(c.Open(), DatabaseError);
    EXPECT_FALSE(c.IsOpen());
    Query q(c);
    OpenQuery(q, "Select * From TUserTypeArea"); // opens and prepares again
    EXPECT_EQ(prepared, 2);
    EXPECT_EQ(q.RecordCount(), 2u);
}

// The same behaviour on every backend the machine offers.
class CatalogueBackend : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (GetParam() == "odbc") {
            const std::string odbc = test::OdbcConnectionString();
            if (odbc.empty())
                GTEST_SKIP() << "QUILORA_TEST_ODBC is not set: no PostgreSQL server for the ODBC tests";
            c.SetConnectionString(odbc, ".");
        } else {
            c.SetOnOpened(catalogue::ApplySchemaIfEmpty);
            c.SetConnectionString("Provider=SQLite;Data Source=cat.db", dir.path().toStdString());
        }
        c.Open();
        for (const char* t : {"TCity", "THospital", "TClass", "TDoctor", "TUser", "TUserTypeCard"})
            Command(c).Execute(std::string("Delete from ") + t);
    }
    QTemporaryDir dir;
    Connection c;
};

TEST_P(CatalogueBackend, FillComboKeepsTheRowAndSelectsTheFirstEntry) {
    Command cmd(c);
    cmd.Execute("Insert into TCity (CityID, FatherID, CityName, LevelIndex) values(?, ?, ?, ?)",
                {10LL, 0LL, std::string("北京"), 0LL});
    cmd.Execute("Insert into TCity (CityID, FatherID, CityName, LevelIndex) values(?, ?, ?, ?)",
                {20LL, 0LL, std::string("上海"), 0LL});
    cmd.Execute("Insert into TCity (CityID, FatherID, CityName, LevelIndex) values(?, ?, ?, ?)",
                {30LL, 0LL, std::string("无级别"), SqlValue{}});
    Query q(c);
    OpenQuery(q, "Select * From TCity order by CityName");
    q.Next();
    const std::string before = q.FieldAsString("CITYNAME");
    RecordingList list;
    FillCombo(q, "CityName", "levelindex", list); // a NULL integer reads as 0
    EXPECT_EQ(q.FieldAsString("CityName"), before);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.selected, 0);
    for (const auto& e : list.entries)
        EXPECT_EQ(e.tag, 0) << e.text;

    // A NULL text reads as empty text.
    cmd.Execute("Insert into TCity (CityID, FatherID, CityName, LevelIndex) values(?, ?, ?, ?)",
                {40LL, 1LL, SqlValue{}, 1LL});
    OpenQuery(q, "Select * From TCity Where CityID = 40");
    FillCombo(q, "CityName", "CityID", list);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.entries[0].text, "");
    EXPECT_EQ(list.entries[0].tag, 40);

    OpenQuery(q, "Select * From TCity Where FatherID = 99");
    FillCombo(q, "CityName", "CityID", list);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.selected, -1);
}

TEST_P(CatalogueBackend, CardTypeIdentifiersAreCutTo50GbkBytes) {
    const std::string longId = std::string(49, '9') + "卡号"; // 49 + 2 + 2 GBK bytes
    Command(c).Execute("Insert into TUserTypeCard (UserTypeID, UserTypeName) values(?, ?)",
                       {longId, std::string("长卡")});
    Query q(c);
    OpenQuery(q, "Select * From TUserTypeCard");
    RecordingList list;
    FillComboText(q, "UserTypeName", "UserTypeID", list);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.entries[0].id, std::string(49, '9')); // the character that would cross 50 is dropped
}

TEST_P(CatalogueBackend, BoundTextsWithQuotesAreStoredIntactAndColumnCaseIsIgnored) {
    Command(c).Execute("Insert into THospital (HospitalID, pid, cid, hospitalName) values(?, ?, ?, ?)",
                       {7LL, 1LL, 2LL, std::string("o'neil 医院")});
    Command(c).Execute("Insert into TUser (UserID, LoginID, UserName, Guanxi,Sex, Birthday,CardNO) "
                       "values(?, ?, ?, ?,?, ?, ?)",
                       {1LL, std::string("card'1"), std::string("张三"), std::string("本人"),
                        std::string("男"), std::string("1980-01-01"), 12345LL});
    Query q(c);
    OpenQuery(q, "Select * from THospital Where cid = 2 ");
    ASSERT_FALSE(q.Eof());
    EXPECT_EQ(q.FieldAsString("HospitalName"), "o'neil 医院");
    OpenQuery(q, "Select * from TUser Where LoginID = ?", {std::string("card'1")});
    ASSERT_FALSE(q.Eof());
    EXPECT_EQ(q.FieldAsInteger("CardNo"), 12345);
    EXPECT_THROW(q.FieldAsString("NoSuchColumn"), DatabaseError);
}

TEST_P(CatalogueBackend, FailedStatementsRaiseTheDatabaseTextAndRollBack) {
    EXPECT_THROW(Command(c).Execute("Insert into TNoSuchTable values(1)"), DatabaseError);
    Query q(c);
    EXPECT_THROW(OpenQuery(q, "Select NoSuchColumn from TCity"), DatabaseError);
    {
        Transaction tx(c);
        Command(c).Execute("Insert into TClass (ClassID, HospitalID, ClassName) values(?, ?, ?)",
                           {1LL, 1LL, std::string("内科")});
    } // not committed
    OpenQuery(q, "Select * from TClass");
    EXPECT_TRUE(q.Eof());
}

INSTANTIATE_TEST_SUITE_P(Backends, CatalogueBackend, ::testing::Values("sqlite", "odbc"),
                         [](const auto& info) { return info.param; });

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
