// The order and auto-booking engine: its transitions on their own, and its
// ticks against the in-process demo portal.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <QTemporaryDir>

#include "catalogue/schema.h"
#include "common/errors.h"
#include "net/fetcher.h"
#include "portal/demo_portal.h"
#include "workflow/auto_booking.h"
#include "workflow/booking_record.h"
#include "workflow/portal_session.h"

namespace quilora {
namespace {

using Phase = AutoBookingStatus::Phase;
using TickEnd = AutoBooking::TickEnd;

struct RecordingHost : AutoBookingHost {
    int member = 0;
    std::vector<std::string> lines;
    std::vector<bool> timer;
    std::vector<Phase> phases;
    std::function<void(std::string_view)> onLog;

    int MemberId() override { return member; }
    std::string PatientName() override { return "张三"; }
    void Log(std::string_view line) override {
        lines.emplace_back(line);
        if (onLog)
            onLog(line);
    }
    void TimerChanged(bool enabled) override { timer.push_back(enabled); }
    void StatusChanged(const AutoBookingStatus& s) override { phases.push_back(s.phase); }
};

struct Flags {
    bool busy, timer, stop;
    bool operator==(const Flags&) const = default;
};
Flags FlagsOf(const AutoBooking& a) {
    return {a.OrderBusy(), a.TimerEnabled(), a.StopRequested()};
}
std::ostream& operator<<(std::ostream& os, const Flags& f) {
    return os << "{busy " << f.busy << ", timer " << f.timer << ", stop " << f.stop << "}";
}

ScheduleSlot SlotOf(const portal::Slot& s, int state) {
    ScheduleSlot slot;
    slot.sn = s.sn;
    slot.date = s.date;
    slot.timeid = s.timeid;
    slot.type = s.type;
    slot.weekid = s.weekid;
    slot.url = s.url;
    std::transform(slot.url.begin(), slot.url.end(), slot.url.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    slot.state = state;
    slot.doctorName = "王医生(主任医师)";
    slot.hospitalName = "协和医院";
    return slot;
}

// The rows of the order command's and the tick's table, one sequence each.
TEST(AutoBookingTransitions, TheOrderCommandsTable) {
    RecordingHost host;
    HttpClient http; // nothing here reaches it: a pending stop ends without a poll
    PortalSession session(http, PortalHosts{"http://127.0.0.1:9", "http://127.0.0.1:9", "GBK"});
    const auto slot = std::make_shared<const ScheduleSlot>();

    struct Step {
        const char* event;
        std::function<void(AutoBooking&)> run;
        Flags after;
    };
    const Step declined[] = {
        {"order confirmed", [&](AutoBooking& a) { a.StartOrder(slot), a.Confirm(); }, {true, false, false}},
        {"No to auto-booking", [](AutoBooking& a) { a.Decline(); }, {false, false, false}},
    };
    const Step stopped[] = {
        {"order confirmed", [&](AutoBooking& a) { a.StartOrder(slot), a.Confirm(); }, {true, false, false}},
        {"Yes to auto-booking: armed", [](AutoBooking& a) { a.Arm(); }, {true, true, false}},
        {"Yes to the busy question: stop pending",
         [](AutoBooking& a) { EXPECT_FALSE(a.RequestStop()) << "the order must end here"; },
         {true, true, true}},
        {"Yes again: still pending",
         [](AutoBooking& a) { EXPECT_FALSE(a.RequestStop()); },
         {true, true, true}},
        {"tick: stopped without a poll",
         [&](AutoBooking& a) { EXPECT_EQ(a.Tick(session).end, TickEnd::Stopped); },
         {false, false, false}},
        {"a new order after a stop", [&](AutoBooking& a) { a.StartOrder(slot); }, {false, false, false}},
    };
    // The auto-booking ended (its tick booked) while the busy question was open.
    const Step endedMeanwhile[] = {
        {"Yes when nothing is busy any more: the order goes on",
         [](AutoBooking& a) { EXPECT_TRUE(a.RequestStop()); },
         {false, false, true}},
        {"the new order lowers the stop", [&](AutoBooking& a) { a.StartOrder(slot); }, {false, false, false}},
    };
    for (const auto& steps : {std::vector<Step>(std::begin(declined), std::end(declined)),
                              std::vector<Step>(std::begin(stopped), std::end(stopped)),
                              std::vector<Step>(std::begin(endedMeanwhile), std::end(endedMeanwhile))}) {
        AutoBooking order(host);
        EXPECT_EQ(FlagsOf(order), (Flags{false, false, false}));
        for (const Step& step : steps) {
            SCOPED_TRACE(step.event);
            step.run(order);
            EXPECT_EQ(FlagsOf(order), step.after);
        }
    }
    EXPECT_TRUE(std::find(host.phases.begin(), host.phases.end(), Phase::Stopped) != host.phases.end());
}

class AutoBookingOnThePortal : public ::testing::Test {
protected:
    void SetUp() override { Start({}); }

    void Start(portal::PortalOptions o) {
        o.port = o.scriptPort = 0;
        o.releaseAfterPolls = 0;
        demo = std::make_unique<portal::DemoPortal>(o);
        demo->Start();
        session =
            std::make_unique<PortalSession>(http, PortalHosts{demo->BaseUrl(), demo->ScriptUrl(), "GBK"});
        const portal::Account& account = demo->DemoAccount();
        ASSERT_TRUE(session->SignIn(account.cardNumber, account.password));
        host.member = account.patients.front().clinicNumber;
        const auto found = demo->FindSlot(portal::state::kNotReleased);
        ASSERT_TRUE(found);
        slot = std::make_shared<const ScheduleSlot>(SlotOf(found->slot, 2));
        order = std::make_unique<AutoBooking>(host);
        order->SetClock([this] { return now; });
    }

    void Arm() {
        order->StartOrder(slot);
        order->Confirm();
        order->Arm();
    }
    int Requests(const std::string& path) const {
        const auto log = demo->RequestLog();
        return int(std::count_if(log.begin(), log.end(), [&](const auto& e) { return e.path == path; }));
    }

    RecordingHost host;
    HttpClient http;
    std::unique_ptr<portal::DemoPortal> demo;
    std::unique_ptr<PortalSession> session;
    std::shared_ptr<const ScheduleSlot> slot;
    std::unique_ptr<AutoBooking> order;
    AutoBooking::Clock::time_point now{};
};

TEST_F(AutoBookingOnThePortal, PollsUntilTheSlotOpensThenBooksInThatTick) {
    Arm();
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(order->Tick(*session).end, TickEnd::Polled);
    EXPECT_EQ(FlagsOf(*order), (Flags{true, true, false}));
    EXPECT_EQ(order->Status().polls, 3);
    EXPECT_EQ(order->Status().lastAnswer, PollAnswer::NotReleased);
    // one line a poll: the normalised answer
    ASSERT_EQ(host.lines.size(), 3u);
    EXPECT_NE(host.lines[0].find("|未放号|"), std::string::npos) << host.lines[0];

    demo->ReleaseAt(slot->sn, demo->Now());
    const AutoBooking::TickResult tick = order->Tick(*session);
    EXPECT_EQ(tick.end, TickEnd::Booked);
    EXPECT_EQ(tick.booking.outcome, BookingOutcome::Booked);
    EXPECT_EQ(FlagsOf(*order), (Flags{false, false, false}));
    EXPECT_EQ(host.timer, (std::vector<bool>{true, false}));
    EXPECT_EQ(order->Status().phase, Phase::Booked);
    ASSERT_EQ(demo->Bookings().size(), 1u);
    EXPECT_EQ(demo->Bookings()[0].sn, slot->sn);
}

// Open, but the number list shows no number yet: the slot is watched on.
TEST_F(AutoBookingOnThePortal, AnOpenSlotWithoutNumbersYetIsArmedAgain) {
    Arm();
    demo->ReleaseAt(slot->sn, demo->Now());
    // Between the opening poll and the booking's number list, the numbers go back.
    host.onLog = [&](std::string_view line) {
        if (line.find("guahaodiv") != std::string_view::npos && demo->Bookings().empty())
            demo->ReleaseAfterPolls(slot->sn, 1000000);
    };
    EXPECT_EQ(order->Tick(*session).end, TickEnd::Rearmed);
    EXPECT_EQ(FlagsOf(*order), (Flags{true, true, false}));
    EXPECT_EQ(order->Status().phase, Phase::Armed);
    EXPECT_NE(std::find(host.lines.begin(), host.lines.end(), "已放号但暂无可选的预约号，继续自动预约"),
              host.lines.end());
    EXPECT_EQ(Requests("/Action/RegCheck.ashx"), 0);

    host.onLog = nullptr;
    demo->ReleaseAt(slot->sn, demo->Now());
    EXPECT_EQ(order->Tick(*session).end, TickEnd::Booked);
    EXPECT_EQ(demo->Bookings().size(), 1u);
    EXPECT_EQ(Requests("/Action/Register.ashx"), 1);
}

// A portal that forgot the session answers the sign-in page: sign in again, no
// more often than every 30 s, and go on polling with the new session.
TEST_F(AutoBookingOnThePortal, AForgottenSessionIsSignedInAgainAtMostEvery30Seconds) {
    Arm();
    struct Step {
        const char* what;
        bool forget;
        std::chrono::seconds later;
        PollAnswer answer;
        int signIns; // sign-in requests so far, the first of the test included
    } steps[] = {
        {"polling", false, {}, PollAnswer::NotReleased, 1},
        {"the portal forgets: signed in again", true, std::chrono::seconds(1), PollAnswer::SignedOut, 2},
        {"the new session polls", false, std::chrono::seconds(1), PollAnswer::NotReleased, 2},
        {"forgotten again within 30 s: no sign-in", true, std::chrono::seconds(10), PollAnswer::SignedOut, 2},
        {"still within 30 s", false, std::chrono::seconds(10), PollAnswer::SignedOut, 2},
        {"30 s after the last sign-in", false, std::chrono::seconds(10), PollAnswer::SignedOut, 3},
        {"back to polling", false, std::chrono::seconds(1), PollAnswer::NotReleased, 3},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        if (s.forget)
            demo->ForgetSessions();
        now += s.later;
        EXPECT_EQ(order->Tick(*session).end, TickEnd::Polled);
        EXPECT_EQ(order->Status().lastAnswer, s.answer);
        EXPECT_EQ(Requests("/Action/CardLogin.ashx"), s.signIns);
        EXPECT_EQ(FlagsOf(*order), (Flags{true, true, false}));
    }
    demo->ReleaseAt(slot->sn, demo->Now());
    EXPECT_EQ(order->Tick(*session).end, TickEnd::Booked);
    EXPECT_EQ(demo->Bookings().size(), 1u);
}

TEST_F(AutoBookingOnThePortal, ServerTroubleAtTheReleaseIsPolledThroughAndBookedOnce) {
    portal::PortalOptions o;
    o.busyAfterRelease = 3;
    Start(o);
    Arm();
    demo->ReleaseAt(slot->sn, demo->Now());
    std::vector<PollAnswer> answers;
    for (int tick = 0; tick < 10 && order->TimerEnabled(); ++tick) {
        order->Tick(*session);
        answers.push_back(*order->Status().lastAnswer);
    }
    EXPECT_EQ(answers, (std::vector<PollAnswer>{PollAnswer::ServerTrouble, PollAnswer::ServerTrouble,
                                                PollAnswer::ServerTrouble, PollAnswer::Opened}));
    EXPECT_EQ(order->Status().phase, Phase::Booked);
    EXPECT_EQ(demo->Bookings().size(), 1u);
    EXPECT_EQ(Requests("/Action/Register.ashx"), 1);
}

// Each tick polls every watched slot once, in order; the first that opens is
// booked and the others are no longer polled.
TEST_F(AutoBookingOnThePortal, WatchingTwoSlotsBooksTheOneThatOpensFirst) {
    std::shared_ptr<const ScheduleSlot> second;
    for (const portal::Doctor& d : demo->GetCatalogue().Doctors()) {
        for (const portal::Slot& s : demo->SlotsOf(d.id))
            if (s.state == portal::state::kNotReleased && s.sn != slot->sn)
                second = std::make_shared<const ScheduleSlot>(SlotOf(s, 2));
        if (second)
            break;
    }
    ASSERT_TRUE(second);
    order->Watch({slot, second});
    EXPECT_EQ(order->Status().watched, 2u);
    order->Tick(*session);
    demo->ReleaseAt(second->sn, demo->Now());
    const AutoBooking::TickResult tick = order->Tick(*session);
    EXPECT_EQ(tick.end, TickEnd::Booked);
    EXPECT_EQ(tick.slot, second);
    EXPECT_EQ(order->OrderSlot(), second);
    ASSERT_EQ(demo->Bookings().size(), 1u);
    EXPECT_EQ(demo->Bookings()[0].sn, second->sn);
    EXPECT_EQ(demo->PollsOf(slot->sn), 2);
    EXPECT_FALSE(order->TimerEnabled());
}

// Every attempt leaves one row in the booking record, whatever its end.
class AttemptRecord : public AutoBookingOnThePortal {
protected:
    void SetUp() override {
        catalogueConnection.SetOnOpened(catalogue::PrepareCatalogue);
        catalogueConnection.SetConnectionString("Provider=SQLite;Data Source=cat.db",
                                                dir.path().toStdString());
        catalogueConnection.Open();
        AutoBookingOnThePortal::SetUp();
    }
    void Restart(portal::PortalOptions o) {
        Start(std::move(o));
        order->SetRecord(&record, "6201000000000001");
    }
    std::shared_ptr<const ScheduleSlot> Open() const {
        const auto found = demo->FindSlot(portal::state::kOpen);
        EXPECT_TRUE(found);
        auto s = SlotOf(found->slot, 4);
        s.doctorId = found->doctor.id;
        s.hospitalId = 11;
        return std::make_shared<const ScheduleSlot>(s);
    }
    QTemporaryDir dir;
    db::Connection catalogueConnection;
    BookingRecord record{catalogueConnection};
};

TEST_F(AttemptRecord, BookNowLeavesOneRowForEachOutcome) {
    using Kind = portal::RegisterFault::Kind;
    struct Case {
        const char* name;
        Kind fault;
        bool afterTaking;
        bool stop;    // the stop comes before the registration
        int bookings; // attempts on the same slot, the last one recorded here
        const char* outcome;
        const char* answer; // a part of it
        std::optional<int> requests;
    } cases[] = {
        {"booked", Kind::None, true, false, 1, "已预约", "成功", 3},
        {"refused: booked before", Kind::None, true, false, 2, "被拒绝", "您已预约过该时段", 3},
        {"500 after the number was taken", Kind::Error500, true, false, 1, "未能确认", "服务器返回错误 500",
         3},
        {"turned away unread every time", Kind::Busy503, false, false, 1, "出错", "503", std::nullopt},
        {"stopped before the registration", Kind::None, true, true, 1, "已停止", "已停止", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        db::Command(catalogueConnection).Execute("Delete From TBookingRecord");
        portal::PortalOptions o;
        o.registerFault.kind = c.fault;
        o.registerFault.afterTaking = c.afterTaking;
        Restart(o);
        // One try: a registration turned away gives up at once, certainly not taken in.
        FetchLimits once = LimitsFor(FetchMode::Booking);
        once.attempts = 1;
        http.SetLimits(FetchMode::Booking, once);
        order->SetExternalStop([&c] { return c.stop; });
        const auto open = Open();
        for (int i = 0; i < c.bookings; ++i) {
            order->StartOrder(open);
            order->Confirm();
            try {
                order->BookNow(*session);
            } catch (const FetchError&) {
            }
        }
        const auto rows = record.Newest();
        ASSERT_EQ(rows.size(), std::size_t(c.bookings));
        const RecordRow& r = rows.front();
        EXPECT_EQ(r.outcome, c.outcome);
        EXPECT_NE(r.answer.find(c.answer), std::string::npos) << r.answer;
        EXPECT_EQ(r.requests, c.requests);
        EXPECT_EQ(r.origin, "立刻预约");
        EXPECT_EQ(r.sn, open->sn);
        EXPECT_EQ(r.doctorId, open->doctorId);
        EXPECT_EQ(r.doctorName, "王医生(主任医师)");
        EXPECT_EQ(r.hospitalName, "协和医院");
        EXPECT_EQ(r.patientCardNo, host.member);
        EXPECT_EQ(r.patientName, "张三");
        EXPECT_EQ(r.loginId, "6201000000000001");
        EXPECT_FALSE(r.releaseToRegister) << "no release time was given";
    }
}

// Armed from the order button or from the list, the row says so; a slot of
// the list is booked for its own patient; a known release time gives how long
// after it the registration went out.
TEST_F(AttemptRecord, AutoBookingRowsSayHowTheyStartedAndForWhom) {
    Restart({});
    const portal::Account& account = demo->DemoAccount();
    ASSERT_GE(account.patients.size(), 2u);
    order->SetRelease(std::chrono::system_clock::now() - std::chrono::seconds(2));
    Arm();
    demo->ReleaseAt(slot->sn, demo->Now());
    ASSERT_EQ(order->Tick(*session).end, TickEnd::Booked);

    std::shared_ptr<const ScheduleSlot> later;
    for (const portal::Doctor& d : demo->GetCatalogue().Doctors()) {
        for (const portal::Slot& s : demo->SlotsOf(d.id))
            if (s.state == portal::state::kNotReleased && s.sn != slot->sn)
                later = std::make_shared<const ScheduleSlot>(SlotOf(s, 2));
        if (later)
            break;
    }
    ASSERT_TRUE(later);
    order->SetRelease(std::nullopt);
    const PatientEntry other{account.patients[1].name, account.patients[1].clinicNumber};
    order->Watch({later}, {other});
    demo->ReleaseAt(later->sn, demo->Now());
    ASSERT_EQ(order->Tick(*session).end, TickEnd::Booked);

    const auto rows = record.Newest();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].origin, "自动预约");
    EXPECT_EQ(rows[1].outcome, "已预约");
    ASSERT_TRUE(rows[1].releaseToRegister);
    EXPECT_GE(*rows[1].releaseToRegister, 1500);
    EXPECT_LT(*rows[1].releaseToRegister, 30000);
    EXPECT_EQ(rows[0].origin, "列表");
    EXPECT_EQ(rows[0].outcome, "已预约");
    EXPECT_EQ(rows[0].patientName, other.name);
    EXPECT_EQ(rows[0].patientCardNo, other.cardNo);
    EXPECT_FALSE(rows[0].releaseToRegister);
    ASSERT_EQ(demo->Bookings().size(), 2u);
    EXPECT_EQ(demo->Bookings()[1].clinicNumber, other.cardNo) << "booked for the slot's own patient";
}

// With "预约成功后停止其余" off, a confirmed booking takes its slot out of the
// watch and the others are polled on; the last booking ends it.
TEST_F(AutoBookingOnThePortal, WithStopOthersOffTheOtherSlotsAreWatchedOn) {
    std::vector<std::shared_ptr<const ScheduleSlot>> watched{slot};
    for (const portal::Doctor& d : demo->GetCatalogue().Doctors()) {
        for (const portal::Slot& s : demo->SlotsOf(d.id))
            if (s.state == portal::state::kNotReleased && s.sn != slot->sn && watched.size() < 3)
                watched.push_back(std::make_shared<const ScheduleSlot>(SlotOf(s, 2)));
        if (watched.size() == 3)
            break;
    }
    ASSERT_EQ(watched.size(), 3u);
    order->SetStopOthersOnBooking(false);
    order->Watch(watched);
    demo->ReleaseAt(watched[1]->sn, demo->Now());
    AutoBooking::TickResult tick = order->Tick(*session);
    EXPECT_EQ(tick.end, TickEnd::Booked);
    EXPECT_EQ(tick.slot, watched[1]);
    EXPECT_TRUE(order->TimerEnabled()) << "the others are watched on";
    EXPECT_EQ(order->Status().watched, 2u);

    const auto requestsOf = [&](int sn) {
        const auto log = demo->RequestLog();
        return std::count_if(log.begin(), log.end(), [&](const auto& e) {
            return e.path == "/Action/NumberWater.ashx" && e.Param("sn") == std::to_string(sn);
        });
    };
    const auto bookedSlotRequests = requestsOf(watched[1]->sn);
    EXPECT_EQ(order->Tick(*session).end, TickEnd::Polled);
    EXPECT_EQ(requestsOf(watched[1]->sn), bookedSlotRequests) << "a booked slot is not polled again";
    EXPECT_EQ(requestsOf(watched[2]->sn), 1) << "the first tick ended at the opened slot";
    demo->ReleaseAt(watched[2]->sn, demo->Now());
    tick = order->Tick(*session);
    EXPECT_EQ(tick.slot, watched[2]);
    EXPECT_TRUE(order->TimerEnabled());
    demo->ReleaseAt(watched[0]->sn, demo->Now());
    tick = order->Tick(*session);
    EXPECT_EQ(tick.slot, watched[0]);
    EXPECT_FALSE(order->TimerEnabled()) << "nothing left to watch";
    EXPECT_EQ(demo->Bookings().size(), 3u);
}

TEST(AutoBookingStatus, TheLineNamesWhoWhatHowOftenAndHowLong) {
    AutoBookingStatus s;
    s.phase = Phase::Armed;
    s.patient = "张三";
    s.slot = "2026-12-14 下午 王医生(主任医师)";
    s.polls = 37;
    s.lastAnswer = PollAnswer::NotReleased;
    s.lastTook = std::chrono::milliseconds(23);
    const auto armed = AutoBooking::Clock::time_point{} + std::chrono::hours(5);
    s.armedAt = armed;
    EXPECT_EQ(StatusText(s, armed + std::chrono::seconds(30)),
              "自动预约中：张三 2026-12-14 下午 王医生(主任医师) · 已查询 37 次 · 最近应答：未放号 23 ms · "
              "已等待 00:00:30");
    s.event = "已重新登录";
    EXPECT_EQ(StatusText(s, armed + std::chrono::hours(2)),
              "自动预约中：张三 2026-12-14 下午 王医生(主任医师) · 已查询 37 次 · 最近应答：未放号 23 ms · "
              "已等待 02:00:00 · 已重新登录");
    s.event.clear();
    s.phase = Phase::Stopped;
    EXPECT_EQ(StatusText(s, armed), "已停止自动预约");
    s.phase = Phase::Booked;
    EXPECT_EQ(StatusText(s, armed), "已预约成功：张三 2026-12-14 下午 王医生(主任医师)");
    s.phase = Phase::Refused;
    s.outcome = "-3|已约满|该时段号源已约满";
    EXPECT_EQ(StatusText(s, armed), "预约未成功：-3|已约满|该时段号源已约满");
    s.phase = Phase::Idle;
    EXPECT_EQ(StatusText(s, armed), "");
}

} // namespace
} // namespace quilora
