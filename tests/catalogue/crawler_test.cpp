// The crawler against the in-process demo portal and a scripted one, into
// SQLite and, when QUILORA_TEST_ODBC names a server, PostgreSQL over ODBC.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <functional>

#include "catalogue/crawler.h"
#include "catalogue_fixture.h"
#include "common/errors.h"
#include "portal/demo_portal.h"
#include "scripted_portal.h"

namespace quilora::test {
namespace {

using catalogue::Crawler;
using catalogue::CrawlKind;
using catalogue::kAllCrawls;

portal::PortalOptions DemoOptions() {
    portal::PortalOptions o;
    o.port = o.scriptPort = 0;
    o.firstDay = portal::Date{2024, 3, 4};
    return o;
}

PortalHosts HostsOf(const portal::DemoPortal& p) {
    PortalHosts h;
    h.portalUrl = p.BaseUrl();
    h.scriptUrl = p.ScriptUrl();
    return h;
}

void CrawlAll(Crawler& crawler) {
    for (CrawlKind k : kAllCrawls)
        crawler.Run(k);
}

// Calls back after every page; lets a test break in half way.
struct CallbackProgress : catalogue::CrawlProgress {
    std::function<void(CrawlKind, std::size_t, std::size_t, std::size_t)> onAdvanced;
    std::vector<std::size_t> started;
    void Started(CrawlKind, std::size_t pages) override { started.push_back(pages); }
    void Advanced(CrawlKind kind, std::size_t done, std::size_t total, std::size_t rows) override {
        if (onAdvanced)
            onAdvanced(kind, done, total, rows);
    }
};

// One demo portal for the suite; tests that stop a portal start their own.
class Demo {
public:
    static portal::DemoPortal& Portal() {
        static portal::DemoPortal* p = [] {
            static portal::DemoPortal portal(DemoOptions());
            portal.Start();
            return &portal;
        }();
        return *p;
    }
};

class CrawlerBackend : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        if (!db.Open(GetParam()))
            GTEST_SKIP() << "QUILORA_TEST_ODBC is not set: no PostgreSQL server for the ODBC tests";
        hosts = HostsOf(Demo::Portal());
    }
    Crawler MakeCrawler() { return Crawler(http, hosts, db.connection, db.query, db.command); }

    CatalogueDatabase db;
    HttpClient http;
    PortalHosts hosts;
};

TEST_P(CrawlerBackend, FullCrawlStoresTheCatalogueRowForRowAndASecondRunChangesNothing) {
    const ExpectedTables want = Expected(Demo::Portal().GetCatalogue());
    Crawler crawler = MakeCrawler();
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        CrawlAll(crawler);
        EXPECT_EQ(CityRows(db.connection), want.cities);
        EXPECT_EQ(HospitalRows(db.connection), want.hospitals);
        EXPECT_EQ(ClassRows(db.connection), want.classes);
        EXPECT_EQ(DoctorRows(db.connection), want.doctors);
    }
}

TEST_P(CrawlerBackend, NamesKeepQuotesAndBlanksLoseCapitalsAndEmptyOnesAreEmptyText) {
    Crawler crawler = MakeCrawler();
    CrawlAll(crawler);
    const auto one = [&](const std::string& sql) {
        const Rows rows = ReadRows(db.connection, sql, {"v"});
        return rows.size() == 1 ? rows[0][0] : "<" + std::to_string(rows.size()) + " rows>";
    };
    EXPECT_EQ(one("Select HospitalName as v from THospital where HospitalID = 1003"), "st mary's妇儿医院");
    EXPECT_EQ(one("Select HospitalName as v from THospital where HospitalID = 1002"), "imc国际医疗中心");
    EXPECT_EQ(one("Select ClassName as v from TClass where ClassID = 10002"), "icu重症医学科");
    EXPECT_EQ(one("Select ClassName as v from TClass where ClassID = 10003"), "口腔 正畸科");
    EXPECT_EQ(one("Select DoctorName as v from TDoctor where DoctorID = 100003"), "o'brien");
    // Empty text, not NULL: the window shows both alike, other readers need not.
    EXPECT_EQ(one("Select count(*) as v from TDoctor where DoctorID = 100004 and DoctorName = ''"), "1");
    EXPECT_EQ(one("Select count(*) as v from TDoctor where DoctorID = 100005 and Title = ''"), "1");
    // The province without cities: its empty list is read as such.
    EXPECT_EQ(one("Select count(*) as v from TCity where CityName = '澳门特别行政区' and FatherID = 0"), "1");
}

INSTANTIATE_TEST_SUITE_P(Backends, CrawlerBackend, ::testing::Values("sqlite", "odbc"),
                         [](const auto& info) { return info.param; });

class CrawlerSqlite : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(db.Open("sqlite")); }
    Crawler MakeCrawler(const PortalHosts& h) {
        return Crawler(http, h, db.connection, db.query, db.command);
    }

    CatalogueDatabase db;
    HttpClient http;
};

std::string Doctors(int firstId, int count) {
    std::string page = "<UL class=\"DoctorList\">\r\n";
    for (int i = 0; i < count; ++i)
        page += "\t<LI><A HREF=\"Doctor.aspx?doctid=" + std::to_string(firstId + i) + "\">Dr" +
                std::to_string(i) + "&nbsp;Chief</A></LI>\r\n";
    return page + "</UL>\r\n";
}

TEST_F(CrawlerSqlite, EmptyListsStoreTheEntryAloneAndTheNextEntryIsReadNormally) {
    ScriptedPortal portal;
    portal.Serve("/js/City.js", "var p=[{Name:\"A\",Id:1,City:[{CityName:\"a1\",Id:11}]},"
                                "{Name:\"B\",Id:2,City:[]},"
                                "{Name:\"C\",Id:3,City:[{CityName:\"c1\",Id:31},{CityName:\"c2\",Id:32}]}];");
    portal.Serve("/js/Index.js", "var h=[{Pid:1,Cid:11,Hospital:[{Id:101,Name:\"h1\"}]},"
                                 "{Pid:2,Cid:21,Hospital:[]},"
                                 "{Pid:3,Cid:31,Hospital:[{Id:301,Name:\"h3\"},{Id:302,Name:\"h4\"}]}];");
    Crawler crawler = MakeCrawler(portal.Hosts());
    crawler.Cities();
    crawler.Hospitals();
    EXPECT_EQ(CityRows(db.connection), (Rows{{"1", "0", "a", "0"},
                                             {"2", "0", "b", "0"},
                                             {"3", "0", "c", "0"},
                                             {"11", "1", "a1", "1"},
                                             {"31", "3", "c1", "1"},
                                             {"32", "3", "c2", "1"}}));
    EXPECT_EQ(HospitalRows(db.connection),
              (Rows{{"101", "1", "11", "h1"}, {"301", "3", "31", "h3"}, {"302", "3", "31", "h4"}}));
}

TEST_F(CrawlerSqlite, DoctorsAreWrittenTwentyOneRowsPerStatementAcrossDepartments) {
    ScriptedPortal portal;
    // 45 doctors over four departments, one of them without any.
    const std::vector<std::pair<int, int>> departments = {{7001, 10}, {7002, 20}, {7003, 0}, {7004, 15}};
    int nextId = 1;
    for (const auto& [classId, count] : departments) {
        db.command.Execute("Insert into TClass (ClassID, HospitalID, ClassName) values(?, 1, 'x')",
                           {classId});
        portal.Serve("/Action/DoctorByHosdept.ashx?id=" + std::to_string(classId), Doctors(nextId, count));
        nextId += count;
    }
    Crawler crawler = MakeCrawler(portal.Hosts());
    std::vector<std::size_t> batches;
    std::vector<std::string> storedAtBatch;
    crawler.SetDoctorBatchObserver([&](std::size_t rows) {
        batches.push_back(rows);
        storedAtBatch.push_back(ReadRows(db.connection, "Select count(*) as n from TDoctor", {"n"})[0][0]);
    });
    const auto result = crawler.Doctors();
    EXPECT_EQ(batches, (std::vector<std::size_t>{21, 21, 3}));
    EXPECT_EQ(storedAtBatch, (std::vector<std::string>{"21", "42", "45"}));
    EXPECT_EQ(result.rows, 45u);
    EXPECT_EQ(result.pages, 4u);
    const Rows rows = DoctorRows(db.connection);
    ASSERT_EQ(rows.size(), 45u);
    EXPECT_EQ(rows[9], (std::vector<std::string>{"10", "7001", "dr9", "chief"}));
    EXPECT_EQ(rows[10], (std::vector<std::string>{"11", "7002", "dr0", "chief"}));
    EXPECT_EQ(rows[44], (std::vector<std::string>{"45", "7004", "dr14", "chief"}));
}

TEST_F(CrawlerSqlite, ADoctorWithoutNameOrTitleTakesNothingFromTheNextLink) {
    ScriptedPortal portal;
    db.command.Execute("Insert into TClass (ClassID, HospitalID, ClassName) values(5, 1, 'x')");
    portal.Serve("/Action/DoctorByHosdept.ashx?id=5",
                 "<A HREF=\"Doctor.aspx?doctid=1\">&nbsp;Chief</A>"
                 "<A HREF=\"Doctor.aspx?doctid=2\">Li&nbsp;</A>"
                 "<A HREF=\"Doctor.aspx?doctid=3\">Wu&nbsp;Resident</A>");
    MakeCrawler(portal.Hosts()).Doctors();
    EXPECT_EQ(DoctorRows(db.connection),
              (Rows{{"1", "5", "", "chief"}, {"2", "5", "li", ""}, {"3", "5", "wu", "resident"}}));
}

TEST_F(CrawlerSqlite, AnEmptyWorkTableEmptiesTheTargetAndMakesNoRequest) {
    ScriptedPortal portal;
    db.command.Execute("Insert into TDoctor (DoctorID, ClassID, DoctorName, Title) values(1, 2, 'old', 't')");
    db.command.Execute("Insert into TClass (ClassID, HospitalID, ClassName) values(2, 3, 'old')");
    Crawler crawler = MakeCrawler(portal.Hosts());

    crawler.Departments(); // THospital is empty
    EXPECT_TRUE(ClassRows(db.connection).empty());
    crawler.Doctors(); // and now TClass is
    EXPECT_TRUE(DoctorRows(db.connection).empty());
    EXPECT_TRUE(portal.Requests().empty());
}

TEST_F(CrawlerSqlite, ProgressCountsPagesOfTheWorkListAndRowsSoFar) {
    portal::DemoPortal& demo = Demo::Portal();
    Crawler crawler = MakeCrawler(HostsOf(demo));
    crawler.Hospitals();
    CallbackProgress progress;
    std::vector<std::pair<std::size_t, std::size_t>> seen; // (done, rows)
    progress.onAdvanced = [&](CrawlKind kind, std::size_t done, std::size_t total, std::size_t rows) {
        EXPECT_EQ(kind, CrawlKind::Departments);
        EXPECT_EQ(total, demo.GetCatalogue().Hospitals().size());
        seen.emplace_back(done, rows);
    };
    crawler.SetProgress(&progress);
    crawler.Departments();

    const auto& cat = demo.GetCatalogue();
    ASSERT_EQ(seen.size(), cat.Hospitals().size());
    EXPECT_EQ(progress.started, std::vector<std::size_t>{cat.Hospitals().size()});
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].first, i + 1);
        // Every hospital of the demo has two or three departments.
        const std::size_t before = i == 0 ? 0 : seen[i - 1].second;
        EXPECT_GE(seen[i].second - before, 2u) << "hospital " << i + 1;
    }
    EXPECT_EQ(seen.back().second, cat.Departments().size());
}

// A crawl that fails half way: the error reaches the caller, the table keeps
// the rows of the crawl before, and the connection is fit for the next crawl.
TEST_F(CrawlerSqlite, ACrawlThatFailsHalfWayLeavesThePreviousTable) {
    struct Case {
        const char* name;
        CrawlKind kind;
        std::function<void(portal::DemoPortal&, Crawler&, CallbackProgress&)> breakIn;
        std::function<void(const std::exception&)> checkError;
    };
    const Case cases[] = {
        {"the portal stops answering during the doctor crawl", CrawlKind::Doctors,
         [](portal::DemoPortal& p, Crawler&, CallbackProgress& progress) {
             progress.onAdvanced = [&p](CrawlKind, std::size_t done, std::size_t, std::size_t) {
                 if (done == 30)
                     p.Stop();
             };
         },
         [](const std::exception& e) {
             EXPECT_NE(dynamic_cast<const FetchError*>(&e), nullptr) << e.what();
         }},
        {"the database refuses a department", CrawlKind::Departments,
         [this](portal::DemoPortal& p, Crawler&, CallbackProgress&) {
             const auto& departments = p.GetCatalogue().Departments();
             const int middle = departments[departments.size() / 2].id;
             db.command.Execute("Create Trigger refuse Before Insert On TClass When NEW.ClassID = " +
                                std::to_string(middle) +
                                " Begin Select Raise(Abort, 'department refused'); End");
         },
         [](const std::exception& e) {
             EXPECT_NE(dynamic_cast<const DatabaseError*>(&e), nullptr);
             EXPECT_NE(std::string(e.what()).find("department refused"), std::string::npos) << e.what();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(db.Open("sqlite"));
        portal::DemoPortal demo(DemoOptions());
        demo.Start();
        Crawler crawler = MakeCrawler(HostsOf(demo));
        http.SetLimits(FetchMode::Interactive,
                       FetchLimits{std::chrono::milliseconds(300), std::chrono::milliseconds(500), 2,
                                   std::chrono::milliseconds(1000)});
        CrawlAll(crawler);
        const Rows classes = ClassRows(db.connection), doctors = DoctorRows(db.connection);
        ASSERT_GT(doctors.size(), 30u);

        CallbackProgress progress;
        crawler.SetProgress(&progress);
        c.breakIn(demo, crawler, progress);
        try {
            crawler.Run(c.kind);
            ADD_FAILURE() << "the crawl went through";
        } catch (const std::exception& e) {
            c.checkError(e);
        }
        EXPECT_EQ(ClassRows(db.connection), classes);
        EXPECT_EQ(DoctorRows(db.connection), doctors);
        db.command.Execute("Drop Trigger If Exists refuse");
    }
}

struct Tables {
    Rows cities, hospitals, classes, doctors;
    bool operator==(const Tables&) const = default;
};

Tables TablesOf(db::Connection& c) {
    return {CityRows(c), HospitalRows(c), ClassRows(c), DoctorRows(c)};
}

// An error page is not a catalogue page: a crawl over error answers fails with
// the status it met and leaves every table as it was.
TEST_F(CrawlerSqlite, ErrorAnswersFailTheCrawlAndKeepEveryTable) {
    portal::DemoPortal good(DemoOptions());
    good.Start();
    Crawler first = MakeCrawler(HostsOf(good));
    CrawlAll(first);
    const Tables before = TablesOf(db.connection);
    ASSERT_FALSE(before.doctors.empty());

    portal::PortalOptions failing = DemoOptions();
    failing.faults.errorRate = 1.0;
    portal::DemoPortal broken(failing);
    broken.Start();
    PortalHosts scriptOnMainHost = HostsOf(good);
    scriptOnMainHost.scriptUrl = good.BaseUrl(); // the scripts are not there: 404

    struct Case {
        const char* name;
        PortalHosts hosts;
        std::vector<CrawlKind> kinds;
        const char* reason;
    } cases[] = {
        {"every answer a 500 page",
         HostsOf(broken),
         {std::begin(kAllCrawls), std::end(kAllCrawls)},
         "（服务器返回错误 500）"},
        {"the scripts asked of the main host",
         scriptOnMainHost,
         {CrawlKind::Cities, CrawlKind::Hospitals},
         "（服务器返回错误 404）"},
    };
    for (const Case& c : cases) {
        for (const CrawlKind kind : c.kinds) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::string(catalogue::CrawlName(kind)));
            try {
                MakeCrawler(c.hosts).Run(kind);
                ADD_FAILURE() << "the crawl went through";
            } catch (const FetchError& e) {
                EXPECT_EQ(e.Failure(), FetchFailure::ErrorStatus);
                EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
            }
            EXPECT_TRUE(TablesOf(db.connection) == before);
        }
    }
}

// Error answers now and then are tried again: the crawl either comes right
// whole or fails whole, never with part of a table.
TEST_F(CrawlerSqlite, OccasionalErrorAnswersNeverLeaveAPartTable) {
    portal::PortalOptions o = DemoOptions();
    o.faults.errorRate = 0.3;
    for (const std::uint64_t seed : {1u, 2u, 3u}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        o.seed = seed;
        portal::DemoPortal flaky(o);
        flaky.Start();
        const ExpectedTables wanted = Expected(flaky.GetCatalogue());
        Crawler crawler = MakeCrawler(HostsOf(flaky));
        for (const CrawlKind kind : kAllCrawls) {
            const Tables before = TablesOf(db.connection);
            try {
                crawler.Run(kind);
            } catch (const FetchError&) {
                EXPECT_TRUE(TablesOf(db.connection) == before) << catalogue::CrawlName(kind);
                break;
            }
            const Tables after = TablesOf(db.connection);
            const Rows& got = kind == CrawlKind::Cities        ? after.cities
                              : kind == CrawlKind::Hospitals   ? after.hospitals
                              : kind == CrawlKind::Departments ? after.classes
                                                               : after.doctors;
            const Rows& expected = kind == CrawlKind::Cities        ? wanted.cities
                                   : kind == CrawlKind::Hospitals   ? wanted.hospitals
                                   : kind == CrawlKind::Departments ? wanted.classes
                                                                    : wanted.doctors;
            EXPECT_EQ(got, expected) << catalogue::CrawlName(kind);
        }
    }
}

TEST_F(CrawlerSqlite, AScriptWithoutAnyEntryIsNotACatalogue) {
    ScriptedPortal portal;
    db.command.Execute("Insert into TCity (CityID, FatherID, CityName, LevelIndex) values(9, 0, 'old', 0)");
    db.command.Execute("Insert into THospital (HospitalID, pid, cid, hospitalName) values(7, 9, 9, 'old')");
    portal.Serve("/js/City.js", "<html><body>维护中，请稍后访问</body></html>");
    portal.Serve("/js/Index.js", "var hospitals = [];");
    const Tables before = TablesOf(db.connection);
    for (const CrawlKind kind : {CrawlKind::Cities, CrawlKind::Hospitals}) {
        SCOPED_TRACE(std::string(catalogue::CrawlName(kind)));
        try {
            MakeCrawler(portal.Hosts()).Run(kind);
            ADD_FAILURE() << "the crawl went through";
        } catch (const QuiloraError& e) {
            EXPECT_NE(std::string(e.what()).find("保持不变"), std::string::npos) << e.what();
        }
        EXPECT_TRUE(TablesOf(db.connection) == before);
    }
}

// quilora-admin crawls for a long time; the window reads the same file meanwhile.
TEST_F(CrawlerSqlite, AReaderDuringACrawlSeesThePreviousCatalogue) {
    portal::DemoPortal demo(DemoOptions());
    demo.Start();
    Crawler crawler = MakeCrawler(HostsOf(demo));
    CrawlAll(crawler);
    {
        // Enough old rows that the crawl's delete cannot stay in a small cache.
        db::Transaction tx(db.connection);
        for (int i = 0; i < 20000; ++i)
            db.command.Execute(
                "Insert into TDoctor (DoctorID, ClassID, DoctorName, Title) values(?, 1, 'x', 'y')",
                {900000LL + i});
        tx.Commit();
    }
    db.command.Execute("PRAGMA cache_size=10");
    const std::size_t before = DoctorRows(db.connection).size();

    db::Connection reader(QStringLiteral("reader"));
    reader.SetConnectionString("Provider=SQLite;Data Source=catalogue.db", db.Folder());
    reader.Open();
    std::vector<std::string> seen;
    CallbackProgress progress;
    progress.onAdvanced = [&](CrawlKind, std::size_t done, std::size_t, std::size_t) {
        if (done != 2)
            return;
        try {
            db::Query q(reader);
            db::OpenQuery(q, "Select count(*) as n from TDoctor");
            seen.push_back(q.FieldAsString("n"));
        } catch (const std::exception& e) {
            seen.push_back(e.what());
        }
    };
    crawler.SetProgress(&progress);
    crawler.Doctors();
    EXPECT_EQ(seen, std::vector<std::string>{std::to_string(before)});
    EXPECT_EQ(DoctorRows(db.connection), Expected(demo.GetCatalogue()).doctors);
}

// The lists read identifiers back as 32-bit integers: a wider one must not get in.
TEST_F(CrawlerSqlite, AnIdentifierTooLongForAnIntegerFailsTheCrawlAndKeepsTheTable) {
    ScriptedPortal portal;
    db.command.Execute("Insert into TCity (CityID, FatherID, CityName, LevelIndex) values(9, 0, 'old', 0)");
    for (const char* id : {"99999999999999999999", "2147483648"}) {
        SCOPED_TRACE(id);
        portal.Serve("/js/City.js", std::string("{Name:\"A\",Id:1,City:[{CityName:\"a1\",Id:") + id + "}]}");
        EXPECT_THROW(MakeCrawler(portal.Hosts()).Cities(), QuiloraError);
        EXPECT_EQ(CityRows(db.connection), (Rows{{"9", "0", "old", "0"}}));
    }
    portal.Serve("/js/City.js", "{Name:\"A\",Id:1,City:[{CityName:\"a1\",Id:2147483647}]}");
    MakeCrawler(portal.Hosts()).Cities();
    EXPECT_EQ(CityRows(db.connection), (Rows{{"1", "0", "a", "0"}, {"2147483647", "1", "a1", "1"}}));
}

} // namespace
} // namespace quilora::test

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv); // Qt SQL loads its drivers as plugins
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
