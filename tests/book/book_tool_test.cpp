// quilora-book's commands, outputs and exit codes against the demo portal.

#include <QElapsedTimer>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <functional>

#include "book_fixture.h"
#include "support/expected_cells.h"

namespace quilora::test {
namespace {

namespace state = portal::state;
using nlohmann::json;

const std::string kBooked = "预约成功, 请进入网页查看！";

class BookTool : public BookToolTest {
protected:
    // The number-list requests in order, as "sn state".
    std::vector<std::string> NumberListRequests() const {
        std::vector<std::string> r;
        for (const auto& e : Requests("/Action/NumberWater.ashx"))
            r.push_back(e.Param("sn") + " " + e.Param("state"));
        return r;
    }
};

TEST_F(BookTool, SignInTakesThePasswordFromConfigOrFile) {
    struct Case {
        std::string name;
        std::string configPasswd; // empty: no Passwd line
        std::string fileText;     // empty: no --password-file
        int exitCode;
        std::string output;
    } cases[] = {
        {"Config.ini", account().password, "", 0, "已登录：" + account().cardNumber},
        {"wrong password", "wrong", "", 1, "登录失败"},
        {"file with CR/LF wins", "wrong", account().password + "\r\nsecond line\n", 0, "已登录："},
        {"file wrong", account().password, "wrong\n", 1, "登录失败"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteConfig(c.configPasswd.empty() ? "" : "Passwd=" + c.configPasswd + "\n");
        QStringList args;
        if (!c.fileText.empty())
            args << QStringLiteral("--password-file") << WriteFile(QStringLiteral("pw.txt"), c.fileText);
        const ToolRun r = Run(args << QStringLiteral("signin"));
        EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
        EXPECT_TRUE(Has(r.out, c.output)) << r.out;
    }
    // Only the sign-ins went out, each with the password that was meant.
    const auto signIns = Requests("/Action/CardLogin.ashx");
    ASSERT_EQ(signIns.size(), 4u);
    EXPECT_EQ(signIns[2].Param("password"), account().password);
    EXPECT_EQ(portal->RequestLog().size(), 4u);
}

TEST_F(BookTool, BadUsageAndBadConfigEndWithExitTwo) {
    const auto open = SlotIn(state::kOpen);
    const QString doctor = Arg(open.doctor.id);
    struct Case {
        std::string name;
        std::string config; // the Config.ini text after the portal lines; "-" keeps the usual one
        bool withCard;
        QStringList args;
        std::string message;
        bool reachesPortal;
    } cases[] = {
        {"no command", "-", true, {}, "A subcommand is required", false},
        {"no doctor", "-", true, {"schedule"}, "--doctor is required", false},
        {"six slots",
         "-",
         true,
         {"watch", "--doctor", doctor, "--slot", "1", "--slot", "2", "--slot", "3", "--slot", "4", "--slot",
          "5", "--slot", "6"},
         "最多同时监视 5 个时段",
         false},
        {"slot twice",
         "-",
         true,
         {"watch", "--doctor", doctor, "--slot", "7", "--slot", "7"},
         "时段 7 给出了两次",
         false},
        {"the same pair twice",
         "-",
         true,
         {"watch", "--doctor", doctor, "--slot", "7", "--slot", doctor + ":7"},
         "时段 7 给出了两次",
         false},
        {"a slot without its doctor", "-", true, {"watch", "--slot", "7"}, "没有医生", false},
        {"a pair that is no pair", "-", true, {"watch", "--slot", "x:7"}, "医生:SN", false},
        {"a pair where book takes an sn",
         "-",
         true,
         {"book", "--doctor", doctor, "--slot", doctor + ":7"},
         "时段应写作 SN",
         false},
        {"watch without slots", "-", true, {"watch"}, "--saved", false},
        {"the saved list and slots",
         "-",
         true,
         {"watch", "--saved", "--slot", doctor + ":7"},
         "--saved",
         false},
        {"book two slots",
         "-",
         true,
         {"book", "--doctor", doctor, "--slot", "1", "--slot", "2"},
         "请用 watch",
         false},
        {"no card", "Passwd=x\n", false, {"signin"}, "中没有卡号（CardNo）", false},
        {"no password", "", true, {"signin"}, "没有密码", false},
        {"missing password file",
         "-",
         true,
         {"--password-file", dir.filePath("none.txt"), "signin"},
         "无法读取密码文件",
         false},
        {"unknown doctor",
         "-",
         true,
         {"schedule", "--doctor", "999999999"},
         "目录中没有医生 999999999",
         false},
        {"unknown slot",
         "-",
         true,
         {"book", "--doctor", doctor, "--slot", "999999999"},
         "没有时段 999999999",
         true},
        {"unknown patient",
         "-",
         true,
         {"book", "--doctor", doctor, "--slot", Arg(open.slot.sn), "--patient", "1"},
         "没有就诊卡号为 1 的就诊人",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteConfig(c.config == "-" ? "Passwd=" + account().password + "\n" : c.config, c.withCard);
        portal->ClearRequestLog();
        const ToolRun r = Run(c.args);
        EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
        EXPECT_TRUE(Has(r.err, c.message)) << r.err;
        EXPECT_EQ(!portal->RequestLog().empty(), c.reachesPortal);
    }
    EXPECT_TRUE(portal->Bookings().empty());

    QProcess p;
    p.start(
        QStringLiteral(QUILORA_BOOK_PATH),
        {QStringLiteral("--config"), dir.filePath(QStringLiteral("missing.ini")), QStringLiteral("signin")});
    const ToolRun missing = Finish(p);
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_EQ(missing.err,
              "quilora-book: 找不到配置文件 " + dir.filePath("missing.ini").toStdString() + "\n");
}

TEST_F(BookTool, HelpDocumentsExitCodesAndEvents) {
    const ToolRun r = Run({QStringLiteral("--help")});
    EXPECT_EQ(r.exitCode, 0);
    for (const char* part :
         {"signin", "patients", "schedule", "book", "watch", "130", R"({"event":"booked")"})
        EXPECT_TRUE(Has(r.out, part)) << part;
}

TEST_F(BookTool, StoppedPortalEndsWithExitThreeAndOneLine) {
    portal->Stop();
    const ToolRun r = Run({QStringLiteral("signin")});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_TRUE(r.err.starts_with("quilora-book: 无法连接到Quilora服务器，请检查网络后重试。（")) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;

    const ToolRun json = Run({QStringLiteral("--json"), QStringLiteral("signin")});
    EXPECT_EQ(json.exitCode, 3);
    const auto errors = json.EventsNamed("error");
    ASSERT_EQ(errors.size(), 1u) << json.out;
    EXPECT_EQ(errors[0]["exit"], 3);
}

TEST_F(BookTool, PatientsComeFromTheCacheOnceFetched) {
    std::vector<int> clinicNumbers;
    for (const auto& p : account().patients)
        clinicNumbers.push_back(p.clinicNumber);
    const auto listed = [](const ToolRun& r) {
        std::vector<int> numbers;
        for (const auto& e : r.EventsNamed("patient"))
            numbers.push_back(e["cardNo"].get<int>());
        return numbers;
    };

    // An empty cache is filled from the portal; the next run reads the cache alone.
    const ToolRun first = Run({QStringLiteral("patients"), QStringLiteral("--json")});
    ASSERT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(listed(first), clinicNumbers);
    EXPECT_EQ(first.EventsNamed("patients_fetched").size(), 1u);
    const ToolRun cached = Run({QStringLiteral("--json"), QStringLiteral("patients")});
    EXPECT_EQ(listed(cached), clinicNumbers);
    EXPECT_TRUE(cached.EventsNamed("patients_fetched").empty());
    EXPECT_EQ(Requests("/UserManage/cyxx.aspx").size(), 1u);

    const ToolRun refreshed = Run({QStringLiteral("patients"), QStringLiteral("--refresh")});
    EXPECT_EQ(refreshed.exitCode, 0);
    EXPECT_TRUE(Has(refreshed.out, std::to_string(clinicNumbers[1]) + "  liming")) << refreshed.out;
    EXPECT_EQ(Requests("/UserManage/cyxx.aspx").size(), 2u);
    // Every portal request of a command comes after its sign-in.
    for (const auto& e : portal->RequestLog())
        EXPECT_TRUE(e.path == "/Action/CardLogin.ashx" || e.signedIn) << e.path;
}

TEST_F(BookTool, ScheduleListsTheDoctorsSlotsWithTheirTexts) {
    const auto open = SlotIn(state::kOpen);
    std::vector<json> expected;
    for (const auto& s : portal->SlotsOf(open.doctor.id)) {
        const auto cells = ExpectedCells(s);
        expected.push_back({{"sn", s.sn},
                            {"date", cells[0]},
                            {"halfDay", cells[1]},
                            {"clinicType", cells[2]},
                            {"weekday", cells[3]},
                            {"state", s.state},
                            {"stateText", cells[4]}});
    }
    std::sort(expected.begin(), expected.end());

    for (const bool hospitalGiven : {false, true}) {
        SCOPED_TRACE(hospitalGiven ? "--hospital given" : "hospital from the catalogue");
        QStringList args = {"--json", "schedule", "--doctor", Arg(open.doctor.id)};
        if (hospitalGiven)
            args << QStringLiteral("--hospital") << Arg(open.doctor.hospitalId);
        const ToolRun r = Run(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::vector<json> shown;
        std::string previousDate;
        for (json e : r.EventsNamed("slot")) {
            EXPECT_LE(previousDate, e["date"].get<std::string>()) << "sorted by date";
            previousDate = e["date"].get<std::string>();
            EXPECT_FALSE(e["doctorName"].get<std::string>().empty());
            EXPECT_FALSE(e["hospitalName"].get<std::string>().empty());
            e.erase("event");
            e.erase("doctorName");
            e.erase("hospitalName");
            shown.push_back(e);
        }
        std::sort(shown.begin(), shown.end());
        EXPECT_EQ(shown, expected);
        EXPECT_EQ(Requests("/Doctor.aspx").back().Param("id"), std::to_string(open.doctor.hospitalId));
    }

    // Plain lines: the sn, then the row's texts.
    const ToolRun text = Run({"schedule", "--doctor", Arg(open.doctor.id)});
    EXPECT_EQ(text.exitCode, 0);
    std::string row = std::to_string(open.slot.sn);
    for (const std::string& cell : ExpectedCells(open.slot))
        row += "  " + cell;
    EXPECT_TRUE(Has(text.out, row + "\n")) << text.out;
}

TEST_F(BookTool, BookingAnOpenSlotBooksItForTheChosenPatient) {
    const auto open = SlotIn(state::kOpen);
    const ToolRun r = Run({"book", "--doctor", Arg(open.doctor.id), "--slot", Arg(open.slot.sn)});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, kBooked)) << r.out;
    ASSERT_EQ(portal->Bookings().size(), 1u);
    EXPECT_EQ(portal->Bookings()[0].sn, open.slot.sn);
    EXPECT_EQ(portal->Bookings()[0].clinicNumber, account().patients[0].clinicNumber);

    const int second = account().patients[1].clinicNumber;
    const ToolRun json = Run({"--json", "book", "--doctor", Arg(open.doctor.id), "--slot", Arg(open.slot.sn),
                              "--patient", Arg(second)});
    EXPECT_EQ(json.exitCode, 0) << json.out;
    const auto booked = json.EventsNamed("booked");
    ASSERT_EQ(booked.size(), 1u) << json.out;
    EXPECT_EQ(booked[0]["sn"], open.slot.sn);
    EXPECT_EQ(booked[0]["message"], kBooked);
    ASSERT_EQ(portal->Bookings().size(), 2u);
    EXPECT_EQ(portal->Bookings()[1].clinicNumber, second);
}

TEST_F(BookTool, SlotsThatCannotBeBookedNowBookNothing) {
    struct Case {
        int slotState;
        std::string message;
    } cases[] = {
        {state::kSuspended, "对不起，不能预约此内容：已停诊。"},
        {state::kClosed, "对不起，不能预约此内容：已截止。"},
        {state::kFull, "对不起，不能预约此内容：已约满。"},
        {state::kNotReleased, "此预约还未到放号时间"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        const auto found = SlotIn(c.slotState);
        const ToolRun r = Run({"book", "--doctor", Arg(found.doctor.id), "--slot", Arg(found.slot.sn)});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(Has(r.out, c.message)) << r.out << r.err;
    }
    const auto suspended = SlotIn(state::kSuspended);
    const ToolRun watch =
        Run({"--json", "watch", "--doctor", Arg(suspended.doctor.id), "--slot", Arg(suspended.slot.sn)});
    EXPECT_EQ(watch.exitCode, 1);
    ASSERT_EQ(watch.EventsNamed("refused").size(), 1u) << watch.out;
    EXPECT_TRUE(Requests("/Action/NumberWater.ashx").empty());
    EXPECT_TRUE(portal->Bookings().empty());
}

TEST_F(BookTool, WaitWatchesANotReleasedSlotUntilItOpens) {
    const auto later = SlotIn(state::kNotReleased);
    portal->ReleaseAfterPolls(later.slot.sn, 2);
    const ToolRun r = Run({"book", "--doctor", Arg(later.doctor.id), "--slot", Arg(later.slot.sn), "--wait"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::string sn = std::to_string(later.slot.sn);
    EXPECT_EQ(NumberListRequests(), (std::vector<std::string>{sn + " 2", sn + " 2", sn + " 2", sn + " 4"}));
    ASSERT_EQ(portal->Bookings().size(), 1u);
    EXPECT_EQ(portal->Bookings()[0].sn, later.slot.sn);

    // Into a pipe the status is a line when it says something new, not one per tick.
    const auto lines = r.Lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.starts_with("自动预约中："); }),
              2)
        << r.out;
    EXPECT_TRUE(lines.back() == kBooked) << r.out;
}

TEST_F(BookTool, WatchBooksTheFirstSlotToOpenAndPollsNothingMore) {
    // Two not-yet-released slots of one doctor.
    const auto first = SlotIn(state::kNotReleased);
    std::vector<int> later;
    for (const auto& s : portal->SlotsOf(first.doctor.id))
        if (s.state == state::kNotReleased)
            later.push_back(s.sn);
    ASSERT_GE(later.size(), 2u) << "the doctor has two slots not released yet";
    portal->ReleaseAfterPolls(later[0], 1000000);
    portal->ReleaseAfterPolls(later[1], 1);

    const ToolRun r = Run({"--json", "watch", "--doctor", Arg(first.doctor.id), "--slot", Arg(later[0]),
                           "--slot", Arg(later[1])});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const std::string a = std::to_string(later[0]), b = std::to_string(later[1]);
    // Each tick polls both in order; the second opens in the second tick and is booked at once.
    EXPECT_EQ(NumberListRequests(),
              (std::vector<std::string>{a + " 2", b + " 2", a + " 2", b + " 2", b + " 4"}));
    const auto log = portal->RequestLog();
    EXPECT_EQ(log.back().path, "/Action/Register.ashx");
    ASSERT_EQ(portal->Bookings().size(), 1u);
    EXPECT_EQ(portal->Bookings()[0].sn, later[1]);

    std::vector<std::string> names;
    for (const auto& e : r.Events())
        names.push_back(e["event"]);
    EXPECT_EQ(names, (std::vector<std::string>{"signed_in", "patients_fetched", "watching", "poll", "poll",
                                               "booking", "booked"}));
    const auto polls = r.EventsNamed("poll");
    EXPECT_EQ(polls[0]["answer"], "未放号");
    EXPECT_EQ(polls[0]["polls"], 2);
    EXPECT_EQ(polls[1]["answer"], "已放号");
    EXPECT_EQ(polls[1]["polls"], 4);
    EXPECT_EQ(r.EventsNamed("booked")[0]["sn"], later[1]);
}

TEST_F(BookTool, WatchSignsInAgainWhenThePortalForgetsTheSession) {
    portal::PortalOptions o = BookPortalOptions();
    o.forgetSessionsAfterPolls = 2;
    StartPortal(o);
    const auto later = SlotIn(state::kNotReleased);
    portal->ReleaseAfterPolls(later.slot.sn, 3);
    const ToolRun r =
        Run({"--json", "watch", "--doctor", Arg(later.doctor.id), "--slot", Arg(later.slot.sn)});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    const auto notices = r.EventsNamed("notice");
    ASSERT_FALSE(notices.empty()) << r.out;
    EXPECT_EQ(notices[0]["message"], "已重新登录");
    EXPECT_EQ(Requests("/Action/CardLogin.ashx").size(), 2u);
    EXPECT_EQ(portal->Bookings().size(), 1u);
}

// The portal's clock runs 1.3 s ahead and the release time is given: the
// opening poll reaches the portal just after the release, on its clock.
TEST_F(BookTool, WatchWithAReleaseTimeLandsTheOpeningPollJustAfterIt) {
    portal::PortalOptions o = BookPortalOptions();
    o.clockOffset = std::chrono::milliseconds(1300);
    StartPortal(o);
    const auto later = SlotIn(state::kNotReleased);
    const auto release = std::chrono::ceil<std::chrono::seconds>(portal->Now() + std::chrono::seconds(12));
    portal->ReleaseAt(later.slot.sn, release);
    const std::time_t t = std::chrono::system_clock::to_time_t(release);
    std::tm local{};
    localtime_r(&t, &local);
    char hhmmss[16];
    std::strftime(hhmmss, sizeof hhmmss, "%H:%M:%S", &local);

    const ToolRun r = Run({"--json", "watch", "--doctor", Arg(later.doctor.id), "--slot", Arg(later.slot.sn),
                           "--release-at", QString::fromLatin1(hhmmss)});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    ASSERT_EQ(portal->Bookings().size(), 1u);
    const long long releaseMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(release.time_since_epoch()).count();
    long long opening = 0;
    for (const auto& e : Requests("/Action/NumberWater.ashx"))
        if (e.Param("state") == "2" && e.timeMs >= releaseMs && opening == 0)
            opening = e.timeMs;
    // Aimed at 35 ms after the release; a loaded machine leaves some play.
    EXPECT_GE(opening - releaseMs, 0);
    EXPECT_LE(opening - releaseMs, 120);
    // The polls named the portal's clock and counted down to the release.
    const auto polls = r.EventsNamed("poll");
    ASSERT_GE(polls.size(), 2u) << r.out;
    EXPECT_EQ(polls.back()["server_clock"].get<std::string>().rfind("服务器时间 +1.", 0), 0u) << r.out;
    EXPECT_GT(polls.front()["until_release_ms"].get<long long>(), 5000) << r.out;
}

TEST_F(BookTool, AReleaseTimeThatIsNoTimeIsBadUsage) {
    const auto later = SlotIn(state::kNotReleased);
    for (const char* bad : {"8", "25:00", "08:00:00:00", "noon"}) {
        SCOPED_TRACE(bad);
        const ToolRun r = Run({"watch", "--doctor", Arg(later.doctor.id), "--slot", Arg(later.slot.sn),
                               "--release-at", QString::fromLatin1(bad)});
        EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    }
    EXPECT_TRUE(portal->RequestLog().empty());
}

TEST_F(BookTool, InterruptStopsAtTheNextTickWithExit130) {
    QUILORA_NEEDS_SIGNALS();
    const auto later = SlotIn(state::kNotReleased);
    portal->ReleaseAfterPolls(later.slot.sn, 1000000);
    for (const int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        const int before = portal->PollsOf(later.slot.sn);
        QProcess p;
        Start(p, {"--json", "watch", "--doctor", Arg(later.doctor.id), "--slot", Arg(later.slot.sn)});
        ASSERT_TRUE(WaitUntil([&] { return portal->PollsOf(later.slot.sn) > before; }));
        SendSignal(p, sig);
        const ToolRun r = Finish(p);
        EXPECT_EQ(r.exitCode, 130) << r.out << r.err;
        ASSERT_FALSE(r.Events().empty());
        EXPECT_EQ(r.Events().back()["event"], "stopped");
    }
    EXPECT_TRUE(portal->Bookings().empty());
}

} // namespace
} // namespace quilora::test
