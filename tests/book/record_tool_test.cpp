// quilora-book over the booking record and the saved watch list: history,
// slots of several doctors in one watch, the saved list watched headless, and
// an attempt cut short by a killed process.

#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <cctype>
#include <functional>

#include "book_fixture.h"
#include "catalogue/schema.h"
#include "support/later_slots.h"
#include "workflow/watch_list.h"

namespace quilora::test {
namespace {

namespace state = portal::state;
using nlohmann::json;

class RecordTool : public BookToolTest {
protected:
    // A slot not released yet of each of n different doctors.
    std::vector<portal::SlotOfDoctor> LaterSlotsOfDoctors(std::size_t n) const {
        return test::LaterSlotsOfDoctors(*portal, n);
    }
    std::vector<std::string> NumberListRequests() const {
        std::vector<std::string> r;
        for (const auto& e : Requests("/Action/NumberWater.ashx"))
            r.push_back(e.Param("sn") + " " + e.Param("state"));
        return r;
    }
    std::vector<json> History(QStringList more = {}) const {
        more.prepend(QStringLiteral("history"));
        more.prepend(QStringLiteral("--json"));
        const ToolRun r = Run(more);
        EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
        return r.EventsNamed("record");
    }
    // The window's catalogue, as the test's own connection sees it.
    db::Connection& Catalogue() {
        if (!catalogue_.IsOpen()) {
            catalogue_.SetOnOpened(catalogue::PrepareCatalogue);
            catalogue_.SetConnectionString("Provider=SQLite;Data Source=cat.db", dir.path().toStdString());
            catalogue_.Open();
        }
        return catalogue_;
    }
    // The slot as the window lists it (the page's url is read lower case).
    static WatchedSlot Watched(const portal::SlotOfDoctor& s, const portal::Patient& patient) {
        WatchedSlot w;
        w.patient = {patient.name, patient.clinicNumber};
        w.slot.sn = s.slot.sn;
        w.slot.date = s.slot.date;
        w.slot.timeid = s.slot.timeid;
        w.slot.type = s.slot.type;
        w.slot.weekid = s.slot.weekid;
        w.slot.url = s.slot.url;
        std::transform(w.slot.url.begin(), w.slot.url.end(), w.slot.url.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        w.slot.state = s.slot.state;
        w.slot.doctorId = s.doctor.id;
        w.slot.doctorName = s.doctor.name;
        w.slot.hospitalId = s.doctor.hospitalId;
        w.slot.hospitalName = "医院";
        return w;
    }

    db::Connection catalogue_{QStringLiteral("record_tool_test")};
};

TEST_F(RecordTool, OneWatchTakesSlotsOfSeveralDoctorsAndBooksTheFirstToOpen) {
    const auto later = LaterSlotsOfDoctors(2);
    ASSERT_NE(later[0].doctor.id, later[1].doctor.id);
    portal->ReleaseAfterPolls(later[0].slot.sn, 1000000);
    portal->ReleaseAfterPolls(later[1].slot.sn, 1);
    // The plain form for the first doctor, a pair for the second.
    const ToolRun r =
        Run({"--json", "watch", "--doctor", Arg(later[0].doctor.id), "--slot", Arg(later[0].slot.sn),
             "--slot", Arg(later[1].doctor.id) + ":" + Arg(later[1].slot.sn)});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::string a = std::to_string(later[0].slot.sn), b = std::to_string(later[1].slot.sn);
    EXPECT_EQ(NumberListRequests(),
              (std::vector<std::string>{a + " 2", b + " 2", a + " 2", b + " 2", b + " 4"}));
    EXPECT_EQ(Requests("/Doctor.aspx").size(), 2u) << "each doctor's page once";
    ASSERT_EQ(portal->Bookings().size(), 1u);
    EXPECT_EQ(portal->Bookings()[0].sn, later[1].slot.sn);
    EXPECT_EQ(r.EventsNamed("watching")[0]["slots"], json::array({later[0].slot.sn, later[1].slot.sn}));

    const auto rows = History();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["origin"], "命令行");
    EXPECT_EQ(rows[0]["outcome"], "已预约");
    EXPECT_EQ(rows[0]["sn"], later[1].slot.sn);
    EXPECT_EQ(rows[0]["doctorId"], later[1].doctor.id);
    EXPECT_EQ(rows[0]["hospitalId"], later[1].doctor.hospitalId);
    EXPECT_TRUE(Has(rows[0]["answer"].get<std::string>(), "成功")) << rows[0].dump();
    EXPECT_EQ(rows[0]["requests"], 3);
    EXPECT_EQ(rows[0]["cardNo"], account().cardNumber);
}

TEST_F(RecordTool, HistoryPrintsEveryAttemptNewestFirst) {
    const auto open = portal->FindSlot(state::kOpen);
    ASSERT_TRUE(open);
    const QStringList book = {"book", "--doctor", Arg(open->doctor.id), "--slot", Arg(open->slot.sn)};
    EXPECT_EQ(Run(book).exitCode, 0);
    EXPECT_EQ(Run(book).exitCode, 1) << "the portal refuses a second registration";
    // Nothing booked, nothing recorded: a refusal before any request.
    const auto suspended = portal->FindSlot(state::kSuspended);
    ASSERT_TRUE(suspended);
    EXPECT_EQ(
        Run({"book", "--doctor", Arg(suspended->doctor.id), "--slot", Arg(suspended->slot.sn)}).exitCode, 1);

    const ToolRun lines = Run({"history"});
    ASSERT_EQ(lines.exitCode, 0) << lines.err;
    ASSERT_EQ(lines.Lines().size(), 2u) << lines.out;
    EXPECT_TRUE(Has(lines.Lines()[0], "命令行  被拒绝")) << lines.out;
    EXPECT_TRUE(Has(lines.Lines()[0], "您已预约过该时段")) << lines.out;
    EXPECT_TRUE(Has(lines.Lines()[1], "命令行  已预约")) << lines.out;
    EXPECT_TRUE(Has(lines.Lines()[1], "请求 3 次")) << lines.out;

    const auto newest = History({"--limit", "1"});
    ASSERT_EQ(newest.size(), 1u);
    EXPECT_EQ(newest[0]["outcome"], "被拒绝");
    EXPECT_EQ(newest[0]["patientCardNo"], account().patients.front().clinicNumber);
    EXPECT_FALSE(newest[0].contains("releaseToRegisterMs"));
    EXPECT_EQ(Run({"history", "--limit", "0"}).exitCode, 2);
    EXPECT_EQ(portal->Bookings().size(), 1u);
}

// A tool killed while its registration is under way leaves its row under way;
// another run meanwhile leaves it so, the next start after the kill tells it
// as 未能确认.
TEST_F(RecordTool, AnAttemptCutShortByAKillShowsAsUnconfirmedNextStart) {
    portal::PortalOptions o = BookPortalOptions();
    o.registerFault.kind = portal::RegisterFault::Kind::Slow;
    o.registerFault.slowMs = 30000;
    StartPortal(o);
    const auto open = portal->FindSlot(state::kOpen);
    ASSERT_TRUE(open);
    QProcess p;
    Start(p, {"--json", "book", "--doctor", Arg(open->doctor.id), "--slot", Arg(open->slot.sn)});
    ASSERT_TRUE(WaitUntil([&] { return !Requests("/Action/Register.ashx").empty(); }));

    auto rows = History();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["outcome"], "进行中") << "the attempt of a running process is left alone";

    p.kill(); // SIGKILL; TerminateProcess on Windows
    ASSERT_TRUE(p.waitForFinished(10000));
    rows = History();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["outcome"], "未能确认");
    EXPECT_EQ(rows[0]["sn"], open->slot.sn);
}

// The window's saved list watched headless: only its armed slots whose date
// has not passed, each for its own patient; the list's table follows.
TEST_F(RecordTool, WatchSavedWatchesTheArmedListAndKeepsEachSlotsState) {
    const auto later = LaterSlotsOfDoctors(3);
    const auto& patients = account().patients;
    ASSERT_GE(patients.size(), 2u);
    {
        WatchList list(Catalogue(), account().cardNumber);
        list.Load(TodayText());
        ASSERT_FALSE(list.Add(Watched(later[0], patients[0]), TodayText()));
        ASSERT_FALSE(list.Add(Watched(later[1], patients[1]), TodayText()));
        WatchedSlot gone = Watched(later[2], patients[0]);
        gone.slot.date = "2020-01-01";
        ASSERT_FALSE(list.Add(gone, "2019-12-31"));
        list.SetArmed(true);
        // Added after the start: not armed.
        auto unarmed = later[2];
        unarmed.slot.sn = 0;
        for (const portal::Slot& s : portal->SlotsOf(later[2].doctor.id))
            if (s.state == state::kNotReleased && s.sn != later[2].slot.sn)
                unarmed.slot = s;
        ASSERT_NE(unarmed.slot.sn, 0);
        ASSERT_FALSE(list.Add(Watched(unarmed, patients[0]), TodayText()));
        portal->ReleaseAfterPolls(unarmed.slot.sn, 1);
        portal->ReleaseAfterPolls(later[2].slot.sn, 1);
    }
    portal->ReleaseAfterPolls(later[0].slot.sn, 1000000);
    portal->ReleaseAfterPolls(later[1].slot.sn, 1);

    const ToolRun r = Run({"--json", "watch", "--saved"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::string a = std::to_string(later[0].slot.sn), b = std::to_string(later[1].slot.sn);
    EXPECT_EQ(NumberListRequests(),
              (std::vector<std::string>{a + " 2", b + " 2", a + " 2", b + " 2", b + " 4"}));
    ASSERT_EQ(portal->Bookings().size(), 1u);
    EXPECT_EQ(portal->Bookings()[0].sn, later[1].slot.sn);
    EXPECT_EQ(portal->Bookings()[0].clinicNumber, patients[1].clinicNumber) << "the slot's own patient";

    WatchList list(Catalogue(), account().cardNumber);
    list.Load(TodayText());
    ASSERT_EQ(list.Slots().size(), 4u);
    EXPECT_EQ(list.Slots()[0].state, "已停止");
    EXPECT_EQ(list.Slots()[0].polls, 2);
    EXPECT_EQ(list.Slots()[0].lastAnswer.substr(0, 9), "未放号");
    EXPECT_EQ(list.Slots()[1].state, "已预约");
    EXPECT_EQ(list.Slots()[2].state, "已过期");
    EXPECT_EQ(list.Slots()[3].state, "等待中");
    EXPECT_TRUE(list.ArmedIndexes().empty());

    const auto rows = History();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["patient"], patients[1].name);
    EXPECT_EQ(rows[0]["origin"], "命令行");

    // Nothing armed any more: nothing to watch.
    const ToolRun none = Run({"--json", "watch", "--saved"});
    EXPECT_EQ(none.exitCode, 1) << none.out;
    EXPECT_EQ(none.EventsNamed("refused").size(), 1u) << none.out;
    EXPECT_EQ(portal->Bookings().size(), 1u);
}

} // namespace
} // namespace quilora::test
