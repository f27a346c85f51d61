// The doctor's page read into slots, and the texts of a slot's row.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/gbk.h"
#include "common/normalise.h"
#include "workflow/int32_text.h"
#include "workflow/schedule.h"

namespace quilora {
namespace {

TEST(SlotTexts, EveryCodeHasItsText) {
    struct Case {
        int code;
        const char *halfDay, *clinic, *weekday, *state;
    } cases[] = {
        {-1, "下午", "平诊", "星期日", "停诊"},    {0, "下午", "平诊", "星期日", "停诊"},
        {1, "上午", "平诊", "星期一", "已截止"},   {2, "下午", "特诊", "星期二", "未放号"},
        {3, "下午", "专家诊", "星期三", "已约满"}, {4, "下午", "平诊", "星期四", "正常"},
        {5, "下午", "平诊", "星期五", "停诊"},     {6, "下午", "平诊", "星期六", "停诊"},
        {7, "下午", "平诊", "星期日", "停诊"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(HalfDayText(c.code), c.halfDay);
        EXPECT_EQ(ClinicTypeText(c.code), c.clinic);
        EXPECT_EQ(WeekdayText(c.code), c.weekday);
        EXPECT_EQ(SlotStateText(c.code), c.state);
    }
}

TEST(SlotTexts, RowShowsDateThenTheFourTexts) {
    ScheduleSlot s;
    s.date = "2024-03-05";
    s.timeid = 1;
    s.type = 3;
    s.weekid = 2;
    s.state = 2;
    EXPECT_EQ(ScheduleRowCells(s),
              (std::vector<std::string>{"2024-03-05", "上午", "专家诊", "星期二", "未放号"}));
}

// One slot link as the doctor's page writes it, before normalisation.
std::string SlotLink(const std::string& args) {
    return "\t\t\t<TD><A href=\"javascript:void(0)\" class=\"State2\" onclick=\"NumberDiv(" + args +
           ")\">预约</A></TD>\r\n";
}

std::vector<ScheduleSlot> Scan(const std::string& rawPage, const std::string& doctor = "张医生",
                               const std::string& hospital = "第一医院") {
    std::vector<ScheduleSlot> slots;
    ScanSchedule(NormalisePage(rawPage), doctor, hospital,
                 [&](ScheduleSlot s) { slots.push_back(std::move(s)); });
    return slots;
}

TEST(ScanSchedule, ReadsEverySlotInPageOrder) {
    const std::string page = "<TABLE>\r\n" + SlotLink("'1000007','2024-03-07','2','3','4','GhSn7',4") +
                             SlotLink("'1000005','2024-03-05','1','1','2','',2") +
                             SlotLink("'1000005','2024-03-05','1','1','2','',2") + // a repeated entry stays
                             "</TABLE>";
    const auto slots = Scan(page);
    ASSERT_EQ(slots.size(), 3u);
    const ScheduleSlot& a = slots[0];
    EXPECT_EQ(a.sn, 1000007);
    EXPECT_EQ(a.date, "2024-03-07");
    EXPECT_EQ(a.timeid, 2);
    EXPECT_EQ(a.type, 3);
    EXPECT_EQ(a.weekid, 4);
    EXPECT_EQ(a.url, "ghsn7"); // normalised like the rest of the page
    EXPECT_EQ(a.state, 4);
    EXPECT_EQ(a.doctorName, "张医生");
    EXPECT_EQ(a.hospitalName, "第一医院");
    EXPECT_EQ(slots[1].url, "");
    EXPECT_EQ(slots[1].sn, slots[2].sn);
}

TEST(ScanSchedule, PageWithoutSlotsGivesNone) {
    EXPECT_TRUE(Scan("<DIV class=\"Error\">未找到该医生的出诊信息。</DIV>").empty());
    EXPECT_TRUE(Scan("").empty());
}

TEST(ScanSchedule, TextsAreCutToTheirGbkBytesAtACharacterBoundary) {
    const std::string longUrl(170, 'u');
    std::string name = "a";
    for (int i = 0; i < 20; ++i)
        name += "医"; // 1 + 40 GBK bytes
    std::string hospital;
    for (int i = 0; i < 30; ++i)
        hospital += "院"; // 60 GBK bytes
    const auto slots = Scan(SlotLink("'1','2024-03-05-am','1','1','1','" + longUrl + "',4") +
                                SlotLink("'2','二〇二四年三月五日','1','1','1','',4"),
                            name, hospital);
    ASSERT_EQ(slots.size(), 2u);
    EXPECT_EQ(slots[0].date, "2024-03-05");
    EXPECT_EQ(slots[0].url, std::string(150, 'u'));
    EXPECT_EQ(slots[0].doctorName, TruncateGbk(name, 30));
    EXPECT_EQ(GbkLength(slots[0].doctorName), 29u); // "a" + 14 characters; the 15th would not fit
    EXPECT_EQ(GbkLength(slots[0].hospitalName), 50u);
    EXPECT_EQ(slots[1].date, "二〇二四年"); // five characters, ten bytes
}

TEST(ScanSchedule, NumberBeyond32BitsStopsAtItsMatch) {
    const std::string page = SlotLink("'1','2024-03-05','1','1','1','',4") +
                             SlotLink("'2147483648','2024-03-06','1','1','1','',4") +
                             SlotLink("'3','2024-03-07','1','1','1','',4");
    std::vector<int> delivered;
    EXPECT_THROW(
        ScanSchedule(NormalisePage(page), "", "", [&](ScheduleSlot s) { delivered.push_back(s.sn); }),
        ConversionError);
    EXPECT_EQ(delivered, std::vector<int>{1});
}

TEST(ParseInt32, AcceptsExactly32BitDecimals) {
    EXPECT_EQ(ParseInt32("2147483647"), 2147483647);
    EXPECT_EQ(ParseInt32("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(ParseInt32("0042"), 42);
    for (const char* bad : {"2147483648", "-2147483649", "99999999999999999999", "", "12a", " 1", "-"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(ParseInt32(bad), ConversionError);
    }
}

} // namespace
} // namespace quilora
