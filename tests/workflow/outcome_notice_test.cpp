// Which published statuses become a notification, and what it says.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "net/fetcher.h"
#include "portal/demo_portal.h"
#include "workflow/auto_booking.h"
#include "workflow/booking.h"
#include "workflow/outcome_notice.h"
#include "workflow/portal_session.h"
#include "workflow/slot_poll.h"

namespace quilora {
namespace {

using Phase = AutoBookingStatus::Phase;

// The hook the window and the tool have: every published status into the tracker.
struct NoticingHost : AutoBookingHost {
    int member = 0;
    OutcomeNotices tracker;
    std::vector<Notice> notices;

    int MemberId() override { return member; }
    std::string PatientName() override { return "张三"; }
    void Log(std::string_view) override {}
    void TimerChanged(bool) override {}
    void StatusChanged(const AutoBookingStatus& s) override {
        if (auto n = tracker.Next(s))
            notices.push_back(*n);
    }
};

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

TEST(OutcomeNotices, TheEngineOnThePortalGivesOneNoticePerOutcome) {
    portal::PortalOptions o;
    o.port = o.scriptPort = 0;
    o.releaseAfterPolls = 0;
    portal::DemoPortal demo(o);
    demo.Start();
    HttpClient http;
    PortalSession session(http, PortalHosts{demo.BaseUrl(), demo.ScriptUrl(), "GBK"});
    ASSERT_TRUE(session.SignIn(demo.DemoAccount().cardNumber, demo.DemoAccount().password));
    NoticingHost host;
    host.member = demo.DemoAccount().patients.front().clinicNumber;
    const auto found = demo.FindSlot(portal::state::kNotReleased);
    ASSERT_TRUE(found);
    auto slot = std::make_shared<ScheduleSlot>();
    slot->sn = found->slot.sn;
    slot->date = found->slot.date;
    slot->timeid = found->slot.timeid;
    slot->type = found->slot.type;
    slot->weekid = found->slot.weekid;
    slot->url = found->slot.url;
    std::transform(slot->url.begin(), slot->url.end(), slot->url.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    slot->state = 2;
    slot->doctorName = "王医生(主任医师)";

    AutoBooking order(host);
    // Armed, stopped at the next tick.
    order.StartOrder(slot);
    order.Confirm();
    order.Arm();
    order.Tick(session);
    order.RequestStop();
    order.Tick(session);
    // Armed again, polled, released, booked.
    order.StartOrder(slot);
    order.Confirm();
    order.Arm();
    for (int i = 0; i < 3; ++i)
        order.Tick(session);
    demo.ReleaseAt(slot->sn, demo.Now());
    ASSERT_EQ(order.Tick(session).end, AutoBooking::TickEnd::Booked);

    ASSERT_EQ(host.notices.size(), 2u);
    EXPECT_EQ(host.notices[0].event, "stopped");
    EXPECT_EQ(FirstLine(host.notices[0].text), kAutoBookingStoppedMessage);
    EXPECT_EQ(host.notices[1].event, "booked");
    EXPECT_EQ(FirstLine(host.notices[1].text), kBookedMessage);
    const std::string slotText =
        slot->date + " " + (slot->timeid == 1 ? "上午" : "下午") + " 王医生(主任医师)";
    EXPECT_NE(host.notices[1].text.find("\n就诊人：张三\n时段：" + slotText + "\n时间："), std::string::npos)
        << host.notices[1].text;
    EXPECT_NE(host.notices[1].title.find("预约成功"), std::string::npos);
}

TEST(OutcomeNotices, SequencesOfStatusesAndTheNoticesTheyGive) {
    const std::string refusedAgain = "重新登录被拒绝（错误），继续自动预约";
    struct Published {
        Phase phase;
        std::string event = {};
        std::string outcome = {};
    };
    const struct {
        const char* what;
        std::vector<Published> statuses;
        std::vector<std::string> events;
        std::string_view lastFirstLine;
    } cases[] = {
        {"start-up: nothing", {{Phase::Idle}, {Phase::Idle}}, {}, ""},
        {"refused once, however often published",
         {{Phase::Armed},
          {Phase::Armed},
          {Phase::Booking},
          {Phase::Refused, "", "对不起，已约满。"},
          {Phase::Refused, "", "对不起，已约满。"}},
         {"refused"},
         "对不起，已约满。"},
        {"a stop",
         {{Phase::Armed}, {Phase::StopPending}, {Phase::Stopped}},
         {"stopped"},
         kAutoBookingStoppedMessage},
        {"no answer to the registration",
         {{Phase::Booking}, {Phase::Unanswered}},
         {"unanswered"},
         kUnansweredMessage},
        {"ended by an error", {{Phase::Armed}, {Phase::Booking}, {Phase::Idle}}, {"error"}, ""},
        {"refused sign-ins: once per arming",
         {{Phase::Armed},
          {Phase::Armed, refusedAgain},
          {Phase::Armed, refusedAgain},
          {Phase::Armed, "已重新登录"},
          {Phase::Armed, refusedAgain},
          {Phase::Booking},
          {Phase::Booked},
          {Phase::Armed},
          {Phase::Armed, refusedAgain}},
         {"signin_failed", "booked", "signin_failed"},
         ""},
        {"two bookings, two outcomes",
         {{Phase::Booking}, {Phase::Booked}, {Phase::Booking}, {Phase::Refused, "", "不能预约"}},
         {"booked", "refused"},
         "不能预约"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        OutcomeNotices tracker;
        std::vector<Notice> notices;
        for (const Published& p : c.statuses) {
            AutoBookingStatus s;
            s.phase = p.phase;
            s.event = p.event;
            s.outcome = p.outcome;
            s.patient = "张三";
            s.slot = "2026-12-14 下午 王医生(主任医师)";
            if (auto n = tracker.Next(s))
                notices.push_back(*n);
        }
        std::vector<std::string> events;
        for (const Notice& n : notices)
            events.push_back(n.event);
        EXPECT_EQ(events, c.events);
        if (!c.lastFirstLine.empty() && !notices.empty()) {
            EXPECT_EQ(FirstLine(notices.back().text), c.lastFirstLine);
        }
        for (const Notice& n : notices)
            EXPECT_NE(n.text.find("张三"), std::string::npos) << n.text;
    }
}

} // namespace
} // namespace quilora
