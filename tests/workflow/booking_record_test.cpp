// The booking record and the catalogue tables behind it, on a real SQLite file
// and over ODBC on PostgreSQL.
#include <gtest/gtest.h>

#include <QSqlDatabase>
#include <QSysInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <regex>
#include <set>

#include <QProcess>

#include "common/gbk.h"
#include "common/platform.h"
#include "record_backend.h"
#include "workflow/booking_record.h"

namespace quilora::test {
namespace {

BookingAttempt AttemptOn(int sn, BookingOrigin origin = BookingOrigin::BookNow) {
    BookingAttempt a;
    a.loginId = "6201000000000001";
    a.patientCardNo = 3001;
    a.patientName = "张晓燕";
    a.hospitalId = 11;
    a.hospitalName = "东城第一人民医院";
    a.doctorId = 100001;
    a.doctorName = "周兰超(住院医师)";
    a.sn = sn;
    a.slotDate = "2026-12-22";
    a.timeid = 2;
    a.origin = origin;
    return a;
}

// The column names of a table's CREATE statement in a script.
std::set<std::string> ColumnsOf(std::string_view script, const std::string& table) {
    for (const std::string& statement : catalogue::SplitScript(script)) {
        if (statement.find("CREATE TABLE " + table + " (") == std::string::npos &&
            statement.find("CREATE TABLE IF NOT EXISTS " + table + " (") == std::string::npos)
            continue;
        std::set<std::string> columns;
        const std::regex column(R"(\n  (\w+) )");
        for (std::sregex_iterator it(statement.begin(), statement.end(), column), end; it != end; ++it)
            columns.insert((*it)[1]);
        return columns;
    }
    return {};
}

// The same two tables in the three scripts, and each can run again on a
// catalogue that has them (the program runs them on older catalogues).
TEST(LaterTables, TheThreeScriptsAgreeAndCanRunAgain) {
    for (const std::string& table : {std::string("TWatchSlot"), std::string("TBookingRecord")}) {
        SCOPED_TRACE(table);
        const auto sqlite = ColumnsOf(catalogue::SqliteSchemaScript(), table);
        EXPECT_GE(sqlite.size(), 15u);
        EXPECT_EQ(ColumnsOf(catalogue::PostgresqlSchemaScript(), table), sqlite);
        EXPECT_EQ(ColumnsOf(catalogue::SqlServerSchemaScript(), table), sqlite);
        // Never a password or a cookie.
        for (const std::string& c : sqlite) {
            std::string lower = c;
            std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
            EXPECT_EQ(lower.find("pass"), std::string::npos) << c;
            EXPECT_EQ(lower.find("cookie"), std::string::npos) << c;
        }
    }
    for (const auto& [name, script, guard] :
         {std::tuple{"sqlite", catalogue::SqliteSchemaScript(), "CREATE TABLE IF NOT EXISTS "},
          std::tuple{"postgresql", catalogue::PostgresqlSchemaScript(), "CREATE TABLE IF NOT EXISTS "},
          std::tuple{"sqlserver", catalogue::SqlServerSchemaScript(), "IS NULL\nCREATE TABLE "}}) {
        SCOPED_TRACE(name);
        for (const std::string& statement : catalogue::SplitScript(script))
            for (const char* table : catalogue::kLaterTables)
                if (statement.find(std::string("TABLE ") + table) != std::string::npos) {
                    EXPECT_NE(statement.find(guard), std::string::npos) << statement;
                }
    }
}

// A catalogue made before the two tables gets them when opened, keeps its
// rows, and opening it again changes nothing.
TEST(LaterTables, AnOlderSqliteCatalogueGetsThemOnOpening) {
    QTemporaryDir dir;
    {
        db::Connection old;
        old.SetConnectionString("Provider=SQLite;Data Source=cat.db", dir.path().toStdString());
        old.Open();
        for (const std::string& statement : catalogue::SplitScript(catalogue::SqliteSchemaScript()))
            if (statement.find("TWatchSlot") == std::string::npos &&
                statement.find("TBookingRecord") == std::string::npos)
                db::Command(old).Execute(statement);
        db::Command(old).Execute("Insert into TCity (CityID, FatherID, CityName) values(1, 0, '北京')");
        ASSERT_FALSE(old.Handle().tables().contains(QStringLiteral("TBookingRecord")));
    }
    for (int opening = 0; opening < 2; ++opening) {
        db::Connection c;
        c.SetOnOpened(catalogue::PrepareCatalogue);
        c.SetConnectionString("Provider=SQLite;Data Source=cat.db", dir.path().toStdString());
        c.Open();
        EXPECT_TRUE(c.Handle().tables().contains(QStringLiteral("TWatchSlot")));
        BookingRecord record(c);
        record.Begin(AttemptOn(1000 + opening));
        EXPECT_EQ(record.Newest().size(), std::size_t(opening + 1));
        db::Query q(c);
        db::OpenQuery(q, "Select * From TCity");
        EXPECT_EQ(q.RecordCount(), 1u);
    }
}

using BookingRecordOn = RecordBackend;

TEST_P(BookingRecordOn, AnAttemptIsOneRowThatOnlyItsOutcomeChanges) {
    BookingRecord record(c);
    const std::string first = record.Begin(AttemptOn(1000025, BookingOrigin::List));
    const std::string second = record.Begin(AttemptOn(1000026, BookingOrigin::CommandLine));
    auto rows = record.Newest();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].sn, 1000026) << "newest first";
    EXPECT_EQ(rows[0].outcome, "进行中");
    EXPECT_EQ(rows[0].origin, "命令行");
    EXPECT_FALSE(rows[0].requests);
    EXPECT_TRUE(std::regex_match(rows[0].startedAt, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)")))
        << rows[0].startedAt;

    record.Finish(first, {RecordOutcome::Booked, "预约成功, 请进入网页查看！", 3, 39});
    // A second outcome for the same attempt is not written over the first.
    record.Finish(first, {RecordOutcome::Error, "后来的错误", 9, std::nullopt});
    rows = record.Newest();
    const RecordRow& booked = rows[1];
    EXPECT_EQ(booked.outcome, "已预约");
    EXPECT_EQ(booked.origin, "列表");
    EXPECT_EQ(booked.answer, "预约成功, 请进入网页查看！");
    EXPECT_EQ(booked.requests, 3);
    EXPECT_EQ(booked.releaseToRegister, 39);
    EXPECT_EQ(booked.patientName, "张晓燕");
    EXPECT_EQ(booked.patientCardNo, 3001);
    EXPECT_EQ(booked.hospitalName, "东城第一人民医院");
    EXPECT_EQ(booked.doctorName, "周兰超(住院医师)");
    EXPECT_EQ(booked.doctorId, 100001);
    EXPECT_EQ(booked.slotDate, "2026-12-22");
    EXPECT_EQ(booked.timeid, 2);
    EXPECT_EQ(booked.loginId, "6201000000000001");
    EXPECT_EQ(rows[0].outcome, "进行中") << "the other attempt is untouched";

    // An answer longer than 1,000 GBK bytes is cut at a character boundary.
    record.Finish(second, {RecordOutcome::Refused, std::string(999, 'x') + "拒绝" + std::string(50, 'y'),
                           std::nullopt, std::nullopt});
    rows = record.Newest(1);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].answer, std::string(999, 'x'));
    EXPECT_EQ(GbkLength(rows[0].answer), 999u);
    EXPECT_FALSE(rows[0].requests) << "an attempt that broke off uncounted";
    EXPECT_FALSE(rows[0].releaseToRegister);
}

// At start-up a row still under way is 未能确认 when its process is gone, and
// left alone while its process runs or when another machine wrote it.
TEST_P(BookingRecordOn, TheStartUpSweepSettlesOnlyAttemptsOfProcessesThatAreGone) {
#ifdef _WIN32
    const QString shell = QStringLiteral("cmd.exe");
    const QStringList ends = {"/c", "exit"}, waits = {"/k"}; // /k reads its input until it closes
#else
    const QString shell = QStringLiteral("/bin/sh");
    const QStringList ends = {"-c", "exit 0"}, waits = {"-c", "read line"};
#endif
    QProcess ended, running;
    ended.start(shell, ends);
    ASSERT_TRUE(ended.waitForStarted());
    const long child = static_cast<long>(ended.processId());
    ASSERT_TRUE(ended.waitForFinished());
    running.start(shell, waits);
    ASSERT_TRUE(running.waitForStarted());
    const long alive = static_cast<long>(running.processId());
    const std::string host = QSysInfo::machineHostName().toStdString();
    struct Case {
        const char* name;
        std::string key;
        const char* after;
    } cases[] = {
        {"a process that died", host + "/" + std::to_string(child) + "/a", "未能确认"},
        {"this process, before it booked anything",
         host + "/" + std::to_string(platform::CurrentProcessId()) + "/b", "未能确认"},
        {"a process still running", host + "/" + std::to_string(alive) + "/c", "进行中"},
        {"another machine", "elsewhere.example/1/d", "进行中"},
        {"a key of no known form", "garbage", "未能确认"},
    };
    int sn = 1;
    for (const Case& k : cases)
        db::Command(c).Execute("Insert into TBookingRecord (AttemptKey, StartedAt, SN, Origin, Outcome) "
                               "values(?, '2026-12-11 08:00:00', ?, '列表', '进行中')",
                               {k.key, sn++});
    db::Command(c).Execute("Insert into TBookingRecord (AttemptKey, StartedAt, SN, Origin, Outcome) "
                           "values('done', '2026-12-11 08:00:00', 99, '列表', '已预约')");
    BookingRecord record(c);
    EXPECT_EQ(record.SettleInterrupted(), 3);
    const auto rows = record.Newest();
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const auto it = std::find_if(rows.begin(), rows.end(),
                                     [&](const RecordRow& r) { return r.sn == int(&k - cases) + 1; });
        ASSERT_NE(it, rows.end());
        EXPECT_EQ(it->outcome, k.after);
    }
    EXPECT_EQ(rows.front().outcome, "已预约") << "a finished attempt is left as it ended";
    EXPECT_EQ(record.SettleInterrupted(), 0);
    running.closeWriteChannel();
    running.waitForFinished();
}

// A catalogue that lost (or never had) the two tables gets them back on opening.
TEST_P(BookingRecordOn, MissingTablesAreCreatedOnOpening) {
    for (const char* t : catalogue::kLaterTables)
        db::Command(c).Execute(std::string("Drop Table ") + t);
    c.Close();
    c.Open();
    BookingRecord record(c);
    record.Begin(AttemptOn(1));
    EXPECT_EQ(record.Newest().size(), 1u);
    db::Query q(c);
    db::OpenQuery(q, "Select * From TWatchSlot");
    EXPECT_EQ(q.RecordCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Backends, BookingRecordOn, ::testing::Values("sqlite", "odbc"));

} // namespace
} // namespace quilora::test
