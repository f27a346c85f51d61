#include "schedule.h"

#include <array>

#include "common/gbk.h"
#include "scan/patterns.h"
#include "scan/tregexpr.h"
#include "workflow/int32_text.h"

namespace quilora {

std::string HalfDayText(int timeid) {
    return timeid == 1 ? "上午" : "下午";
}

std::string ClinicTypeText(int type) {
    switch (type) {
    case 2:
        return "特诊";
    case 3:
        return "专家诊";
    default:
        return "平诊";
    }
}

std::string WeekdayText(int weekid) {
    static constexpr std::array<const char*, 6> kDays = {"星期一", "星期二", "星期三",
                                                         "星期四", "星期五", "星期六"};
    return weekid >= 1 && weekid <= 6 ? kDays[weekid - 1] : "星期日";
}

std::string SlotStateText(int state) {
    switch (state) {
    case 1:
        return "已截止";
    case 2:
        return "未放号";
    case 3:
        return "已约满";
    case 4:
        return "正常";
    default:
        return "停诊";
    }
}

std::vector<std::string> ScheduleRowCells(const ScheduleSlot& slot) {
    return {slot.date, HalfDayText(slot.timeid), ClinicTypeText(slot.type), WeekdayText(slot.weekid),
            SlotStateText(slot.state)};
}

std::size_t ScanSchedule(std::string_view page, std::string_view doctorName, std::string_view hospitalName,
                         const std::function<void(ScheduleSlot)>& onSlot) {
    const std::string doctor = TruncateGbk(doctorName, kSlotDoctorBytes);
    const std::string hospital = TruncateGbk(hospitalName, kSlotHospitalBytes);
    return ForEachMatch(pattern::kScheduleSlot, page, [&](const TRegExpr& re) {
        ScheduleSlot s;
        s.doctorName = doctor;
        s.hospitalName = hospital;
        s.sn = ParseInt32(re.CaptureView(1));
        s.date = TruncateGbk(re.CaptureView(2), kSlotDateBytes);
        s.timeid = ParseInt32(re.CaptureView(3));
        s.type = ParseInt32(re.CaptureView(4));
        s.weekid = ParseInt32(re.CaptureView(5));
        s.url = TruncateGbk(re.CaptureView(6), kSlotUrlBytes);
        s.state = ParseInt32(re.CaptureView(7));
        onSlot(std::move(s));
    });
}

} // namespace quilora
