// The auto-booking list kept in the catalogue: what may join it, and what a
// restart finds, on a real SQLite file and over ODBC on PostgreSQL.
#include <gtest/gtest.h>

#include "record_backend.h"
#include "workflow/watch_list.h"

namespace quilora::test {
namespace {

constexpr char kToday[] = "2026-12-11";
constexpr char kCard[] = "6201000000000001";

WatchedSlot Slot(int doctorId, int sn, int state = 2, std::string date = "2026-12-22") {
    WatchedSlot w;
    w.patient = {"张晓燕", 3001};
    w.slot.sn = sn;
    w.slot.date = std::move(date);
    w.slot.timeid = 2;
    w.slot.type = 1;
    w.slot.weekid = 2;
    w.slot.url = "/doctor.aspx?sn=" + std::to_string(sn);
    w.slot.state = state;
    w.slot.doctorId = doctorId;
    w.slot.doctorName = "周兰超(住院医师)";
    w.slot.hospitalId = 11;
    w.slot.hospitalName = "东城第一人民医院";
    return w;
}

TEST(WatchListRules, WhatMayJoinTheList) {
    std::vector<WatchedSlot> four;
    for (int sn = 1; sn <= 4; ++sn)
        four.push_back(Slot(100001, sn));
    std::vector<WatchedSlot> five = four;
    five.push_back(Slot(100002, 5));
    WatchedSlot badTime = Slot(100003, 7);
    badTime.releaseAt = "8点";
    WatchedSlot goodTime = Slot(100003, 7);
    goodTime.releaseAt = "08:00";
    struct Case {
        const char* name;
        const std::vector<WatchedSlot>& list;
        WatchedSlot candidate;
        const char* refusal; // a part of it; nullptr: it joins
    } cases[] = {
        {"a fifth slot, of another doctor, not released yet", four, Slot(100002, 5, 2), nullptr},
        {"an open slot", four, Slot(100002, 5, 4), nullptr},
        {"a slot of today", four, Slot(100002, 5, 2, kToday), nullptr},
        {"a release time", four, goodTime, nullptr},
        {"a sixth", five, Slot(100003, 6), "最多 5 个时段"},
        {"the same slot again", four, Slot(100001, 3), "已在自动预约列表中"},
        {"the same sn of another doctor", four, Slot(100009, 3), nullptr},
        {"停诊", four, Slot(100002, 5, 0), "已停诊"},
        {"已截止", four, Slot(100002, 5, 1), "已截止"},
        {"已约满", four, Slot(100002, 5, 3), "已约满"},
        {"a state nobody knows", four, Slot(100002, 5, 9), "未知"},
        {"a date gone", four, Slot(100002, 5, 2, "2026-12-10"), "已过"},
        {"a release time that is no time", four, badTime, "放号时间"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto refusal = RefuseToAdd(c.list, c.candidate, kToday);
        if (!c.refusal) {
            EXPECT_FALSE(refusal) << *refusal;
            continue;
        }
        ASSERT_TRUE(refusal);
        EXPECT_NE(refusal->find(c.refusal), std::string::npos) << *refusal;
    }
}

TEST(WatchListRules, TheStateCellSaysHowOftenAndWhatCameLast) {
    WatchedSlot w = Slot(1, 1);
    EXPECT_EQ(WatchStatusText(w), "等待中");
    w.polls = 37;
    w.lastAnswer = "未放号 23 ms";
    EXPECT_EQ(WatchStatusText(w), "已查询 37 次 · 最近应答：未放号 23 ms");
    w.state = "已预约";
    EXPECT_EQ(WatchStatusText(w), "已预约");
}

using WatchListOn = RecordBackend;

// What one run saved, the next one reads: the slots in order with their
// fields, patients, release times, armed flags and progress.
TEST_P(WatchListOn, ARestartFindsTheListAsItWasLeft) {
    {
        WatchList list(c, kCard);
        list.Load(kToday);
        EXPECT_TRUE(list.Slots().empty());
        WatchedSlot first = Slot(100001, 1000025);
        first.releaseAt = "08:00";
        WatchedSlot second = Slot(100002, 2000031, 4);
        second.patient = {"李四", 3002};
        ASSERT_FALSE(list.Add(first, kToday));
        ASSERT_FALSE(list.Add(second, kToday));
        ASSERT_FALSE(list.Add(Slot(100003, 3000001), kToday));
        EXPECT_TRUE(list.Add(Slot(100001, 1000025), kToday)) << "a duplicate is refused";
        list.Remove(2);
        list.SetArmed(true);
        list.Report(0, watch_state::kWaiting, 37, "未放号 23 ms");
        // Another card's list is its own.
        WatchList other(c, "6201000000000002");
        ASSERT_FALSE(other.Add(Slot(100009, 9), kToday));
    }
    WatchList list(c, kCard);
    list.Load(kToday);
    ASSERT_EQ(list.Slots().size(), 2u);
    const WatchedSlot& a = list.Slots()[0];
    EXPECT_EQ(a.slot.sn, 1000025);
    EXPECT_EQ(a.slot.doctorId, 100001);
    EXPECT_EQ(a.slot.doctorName, "周兰超(住院医师)");
    EXPECT_EQ(a.slot.hospitalId, 11);
    EXPECT_EQ(a.slot.hospitalName, "东城第一人民医院");
    EXPECT_EQ(a.slot.date, "2026-12-22");
    EXPECT_EQ(a.slot.url, "/doctor.aspx?sn=1000025");
    EXPECT_EQ(a.slot.state, 2);
    EXPECT_EQ(a.releaseAt, "08:00");
    EXPECT_EQ(a.patient.name, "张晓燕");
    EXPECT_TRUE(a.armed);
    EXPECT_EQ(a.polls, 37);
    EXPECT_EQ(WatchStatusText(a), "已查询 37 次 · 最近应答：未放号 23 ms");
    EXPECT_EQ(list.Slots()[1].patient.cardNo, 3002);
    EXPECT_EQ(list.Slots()[1].slot.state, 4);
    EXPECT_EQ(list.ArmedIndexes(), (std::vector<std::size_t>{0, 1}));
}

// A slot whose date has gone is marked and disarmed for good; a booked slot is
// not armed again; one stopped by another's booking may wait again.
TEST_P(WatchListOn, PassedDatesAndEndedSlotsAreNotArmedAgain) {
    {
        WatchList list(c, kCard);
        ASSERT_FALSE(list.Add(Slot(1, 1, 2, "2026-12-12"), kToday));
        ASSERT_FALSE(list.Add(Slot(1, 2, 2, "2026-12-20"), kToday));
        ASSERT_FALSE(list.Add(Slot(1, 3, 2, "2026-12-20"), kToday));
        ASSERT_FALSE(list.Add(Slot(1, 4, 2, "2026-12-20"), kToday));
        list.SetArmed(true);
        list.Settle(2, watch_state::kBooked);
        list.Settle(3, watch_state::kStopped);
    }
    WatchList list(c, kCard);
    list.Load("2026-12-13"); // two days later
    ASSERT_EQ(list.Slots().size(), 4u);
    EXPECT_EQ(list.Slots()[0].state, "已过期");
    EXPECT_FALSE(list.Slots()[0].armed);
    EXPECT_EQ(list.ArmedIndexes(), (std::vector<std::size_t>{1}));
    list.SetArmed(true);
    EXPECT_EQ(list.ArmedIndexes(), (std::vector<std::size_t>{1, 3}));
    EXPECT_EQ(list.Slots()[2].state, "已预约");

    WatchList again(c, kCard);
    again.Load("2026-12-13");
    EXPECT_EQ(again.Slots()[0].state, "已过期") << "the mark is kept in the table";
    EXPECT_EQ(again.ArmedIndexes(), (std::vector<std::size_t>{1, 3}));
    again.SetArmed(false);
    EXPECT_TRUE(again.ArmedIndexes().empty());
}

INSTANTIATE_TEST_SUITE_P(Backends, WatchListOn, ::testing::Values("sqlite", "odbc"));

} // namespace
} // namespace quilora::test
