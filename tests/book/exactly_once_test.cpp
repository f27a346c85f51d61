// quilora-book at the release moment against a portal that behaves as an
// overloaded one does: each registration is sent once (again only when it was
// turned away unread), its outcome is told as it is, server trouble is never
// read as the portal's word, and no Date header can raise the polling rate.

#include <QElapsedTimer>
#include <QThread>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <functional>

#include "book_fixture.h"

namespace quilora::test {
namespace {

namespace state = portal::state;
using Kind = portal::RegisterFault::Kind;
using nlohmann::json;

std::string LocalHhMmSs(std::chrono::system_clock::time_point at) {
    const std::time_t t = std::chrono::system_clock::to_time_t(at);
    std::tm local{};
    localtime_r(&t, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

class ExactlyOnce : public BookToolTest {
protected:
    void StartWithFault(Kind kind, bool after, int count = 0, int slowMs = 3000) {
        portal::PortalOptions o = BookPortalOptions();
        o.registerFault.kind = kind;
        o.registerFault.afterTaking = after;
        o.registerFault.count = count;
        o.registerFault.slowMs = slowMs;
        StartPortal(o);
    }
};

// Registration faults x what the user is told, for book (an open slot) and
// watch (a slot that opens after two polls).
TEST_F(ExactlyOnce, EachRegistrationFaultIsToldAsWhatItIs) {
    struct Case {
        const char* name;
        Kind kind;
        bool after;
        int count;
        int registrations; // that reached the portal
        std::size_t booked;
        const char* event;
        const char* message; // a part of the event's message
        int exitCode;
    } cases[] = {
        {"500 after the number was taken", Kind::Error500, true, 0, 1, 1, "unanswered", "服务器返回错误 500",
         3},
        {"500 before it was taken", Kind::Error500, false, 0, 1, 0, "unanswered", "服务器返回错误 500", 3},
        {"dropped after", Kind::Drop, true, 0, 1, 1, "unanswered", "没有收到Quilora服务器的应答", 3},
        {"empty after", Kind::Empty, true, 0, 1, 1, "unanswered", "没有收到Quilora服务器的应答", 3},
        {"turned away twice with 503", Kind::Busy503, false, 2, 3, 1, "booked", "预约成功", 0},
    };
    for (const bool watch : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(watch ? "watch: " : "book: ") + c.name);
            StartWithFault(c.kind, c.after, c.count);
            const auto slot = SlotIn(watch ? state::kNotReleased : state::kOpen);
            if (watch)
                portal->ReleaseAfterPolls(slot.slot.sn, 2);
            const ToolRun r = Run({"--json", watch ? "watch" : "book", "--doctor", Arg(slot.doctor.id),
                                   "--slot", Arg(slot.slot.sn)});
            EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
            EXPECT_EQ(Requests("/Action/Register.ashx").size(), std::size_t(c.registrations));
            EXPECT_EQ(portal->Bookings().size(), c.booked);
            const auto told = r.EventsNamed(c.event);
            ASSERT_EQ(told.size(), 1u) << r.out;
            EXPECT_TRUE(Has(told[0]["message"].get<std::string>(), c.message)) << r.out;
            if (watch && c.exitCode == 3) {
                // Nothing more after an unknown outcome: no poll, no re-arming.
                const auto polls = Requests("/Action/NumberWater.ashx");
                ASSERT_FALSE(polls.empty());
                EXPECT_EQ(polls.back().Param("state"), "4") << "polled after the registration";
            }
        }
    }
}

// A registration that never answers in time may still be under way at the
// portal: it is told as unknown and not sent again.
TEST_F(ExactlyOnce, ATimedOutRegistrationIsNotSentAgain) {
    StartWithFault(Kind::Slow, true, 0, 8000);
    const auto open = SlotIn(state::kOpen);
    const ToolRun r = Run({"--json", "book", "--doctor", Arg(open.doctor.id), "--slot", Arg(open.slot.sn)});
    EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
    EXPECT_EQ(Requests("/Action/Register.ashx").size(), 1u);
    EXPECT_EQ(r.EventsNamed("unanswered").size(), 1u) << r.out;
}

// The real portal refuses a second registration of one patient on one slot.
TEST_F(ExactlyOnce, ASecondRegistrationOfTheSamePatientIsRefusedByThePortal) {
    const auto open = SlotIn(state::kOpen);
    const ToolRun first =
        Run({"--json", "book", "--doctor", Arg(open.doctor.id), "--slot", Arg(open.slot.sn)});
    ASSERT_EQ(first.exitCode, 0) << first.out;
    const ToolRun second =
        Run({"--json", "book", "--doctor", Arg(open.doctor.id), "--slot", Arg(open.slot.sn)});
    EXPECT_EQ(second.exitCode, 1) << second.out;
    const auto refused = second.EventsNamed("refused");
    ASSERT_EQ(refused.size(), 1u) << second.out;
    EXPECT_TRUE(Has(refused[0]["message"].get<std::string>(), "您已预约过该时段，不能重复预约！"));
    EXPECT_EQ(portal->Bookings().size(), 1u);
}

// An error page at sign-in, on the patient page or on the doctor's page is
// the server's trouble: never a signed-in session, a wrong password, no
// patients or no such slot.
TEST_F(ExactlyOnce, ServerErrorsAreNeverThePortalsWord) {
    const auto open = SlotIn(state::kOpen);
    struct Case {
        const char* path;
        QStringList args;
    } cases[] = {
        {"/action/cardlogin.ashx", {"--json", "signin"}},
        {"/usermanage/cyxx.aspx", {"--json", "patients", "--refresh"}},
        {"/doctor.aspx", {"--json", "book", "--doctor", Arg(open.doctor.id), "--slot", Arg(open.slot.sn)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        portal::PortalOptions o = BookPortalOptions();
        o.errorPaths[c.path] = 500;
        StartPortal(o);
        const ToolRun r = Run(c.args);
        EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
        const auto errors = r.EventsNamed("error");
        ASSERT_EQ(errors.size(), 1u) << r.out;
        EXPECT_TRUE(Has(errors[0]["message"].get<std::string>(), "（服务器返回错误 500）")) << r.out;
        EXPECT_TRUE(r.EventsNamed("signed_in").empty() || std::string(c.path) != "/action/cardlogin.ashx");
        EXPECT_TRUE(r.EventsNamed("refused").empty()) << r.out;
        EXPECT_TRUE(portal->Bookings().empty());
    }
}

// Whatever the portal's Date says, a watched slot is polled at most every
// 800 ms; a Date a day or more away is ignored and said once.
TEST_F(ExactlyOnce, NoDateHeaderRaisesThePollingRate) {
    QUILORA_NEEDS_SIGNALS();
    using portal::DateMode;
    struct Run_ {
        DateMode mode;
        const char* name;
        std::unique_ptr<portal::DemoPortal> portal;
        std::unique_ptr<QTemporaryDir> dir;
        std::unique_ptr<QProcess> process;
    };
    std::vector<Run_> runs;
    for (const auto& [mode, name] :
         {std::pair{DateMode::Frozen, "frozen"}, std::pair{DateMode::HalfSpeed, "half-speed"},
          std::pair{DateMode::FarFuture, "far-future"}, std::pair{DateMode::Epoch, "1970"}})
        runs.push_back({mode, name, nullptr, nullptr, nullptr});
    for (Run_& run : runs) {
        portal::PortalOptions o = BookPortalOptions();
        o.dateMode = run.mode;
        run.portal = std::make_unique<portal::DemoPortal>(o);
        run.portal->Start();
        run.dir = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(QFile::copy(CrawledCatalogue(), run.dir->filePath(QStringLiteral("cat.db"))));
        const QString config = run.dir->filePath(QStringLiteral("Config.ini"));
        std::ofstream(config.toStdString())
            << "[Data]\nConnect=Provider=SQLite;Data Source=cat.db\nCardNo="
            << run.portal->DemoAccount().cardNumber << "\nPasswd=" << run.portal->DemoAccount().password
            << "\nPortalUrl=" << run.portal->BaseUrl() << "\nScriptUrl=" << run.portal->ScriptUrl() << "\n";
        const auto later = run.portal->FindSlot(state::kNotReleased);
        ASSERT_TRUE(later);
        run.portal->ReleaseAfterPolls(later->slot.sn, 0); // opens only at its time, which never comes here
        // 40 s ahead: within the minute before it, the 800 ms phase from the start.
        const std::string releaseAt =
            LocalHhMmSs(std::chrono::system_clock::now() + std::chrono::seconds(40));
        run.process = std::make_unique<QProcess>();
        run.process->start(QStringLiteral(QUILORA_BOOK_PATH),
                           {"--config", config, "--json", "-v", "watch", "--doctor", Arg(later->doctor.id),
                            "--slot", Arg(later->slot.sn), "--release-at",
                            QString::fromStdString(releaseAt)});
        run.process->closeWriteChannel();
        ASSERT_TRUE(run.process->waitForStarted());
    }
    QThread::msleep(9000);
    for (Run_& run : runs) {
        SCOPED_TRACE(run.name);
        SendSignal(*run.process, SIGINT);
        const ToolRun r = Finish(*run.process);
        EXPECT_EQ(r.exitCode, 130) << r.out << r.err;
        std::vector<long long> times;
        for (const auto& e : run.portal->RequestLog())
            if (e.path == "/Action/NumberWater.ashx")
                times.push_back(e.timeMs);
        EXPECT_GE(times.size(), 3u) << "polled at all";
        EXPECT_LE(times.size(), 12u) << "9 s at one poll per 800 ms at most";
        for (std::size_t i = 1; i < times.size(); ++i) {
            EXPECT_GE(times[i] - times[i - 1], 760) << "poll " << i; // arrival jitter aside
        }
        const bool farOff = run.mode == DateMode::FarFuture || run.mode == DateMode::Epoch;
        int ignored = 0;
        for (const auto& e : r.EventsNamed("log"))
            ignored += Has(e["line"].get<std::string>(), "相差超过一天") ? 1 : 0;
        EXPECT_EQ(ignored, farOff ? 1 : 0) << r.out;
        for (const auto& e : r.EventsNamed("poll")) {
            if (e.contains("until_release_ms")) {
                EXPECT_LT(std::abs(e["until_release_ms"].get<long long>()), 3600 * 1000LL) << e.dump();
            }
        }
    }
}

// Ctrl+C while the registration is under way waits for its answer and tells
// it; before the registration it stops at once.
TEST_F(ExactlyOnce, InterruptWaitsOutARegistrationButNothingElse) {
    QUILORA_NEEDS_SIGNALS();
    StartWithFault(Kind::Slow, true, 0, 1500);
    const auto open = SlotIn(state::kOpen);
    QProcess p;
    Start(p, {"--json", "book", "--doctor", Arg(open.doctor.id), "--slot", Arg(open.slot.sn)});
    ASSERT_TRUE(WaitUntil([&] { return !Requests("/Action/Register.ashx").empty(); }));
    SendSignal(p, SIGINT);
    const ToolRun booked = Finish(p);
    EXPECT_EQ(booked.exitCode, 0) << booked.out << booked.err;
    EXPECT_EQ(booked.EventsNamed("booked").size(), 1u) << booked.out;
    EXPECT_EQ(portal->Bookings().size(), 1u);

    // A portal that holds every answer: the sign-in wait ends on Ctrl+C.
    portal::PortalOptions o = BookPortalOptions();
    o.faults.latencyMs = 20000;
    StartPortal(o);
    QProcess waiting;
    Start(waiting, {"--json", "signin"});
    ASSERT_TRUE(WaitUntil([&] { return !portal->RequestLog().empty(); }));
    QElapsedTimer timer;
    timer.start();
    SendSignal(waiting, SIGINT);
    const ToolRun stopped = Finish(waiting);
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_EQ(stopped.exitCode, 130) << stopped.out << stopped.err;
    EXPECT_EQ(stopped.EventsNamed("stopped").size(), 1u) << stopped.out;
}

} // namespace
} // namespace quilora::test
