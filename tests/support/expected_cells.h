#pragma once
// A slot's row texts written out here, apart from the program's own tables,
// for the tests of everything that shows a schedule.
#include <map>
#include <string>
#include <vector>

#include "portal/catalogue.h"

namespace quilora::test {

// date, half-day, clinic type, weekday, state
inline std::vector<std::string> ExpectedCells(const portal::Slot& s) {
    static const std::map<int, std::string> kStates = {
        {0, "停诊"}, {1, "已截止"}, {2, "未放号"}, {3, "已约满"}, {4, "正常"}};
    static const char* kWeekdays[] = {"",       "星期一", "星期二", "星期三",
                                      "星期四", "星期五", "星期六", "星期日"};
    const char* clinic = s.type == 2 ? "特诊" : s.type == 3 ? "专家诊" : "平诊";
    return {s.date, s.timeid == 1 ? "上午" : "下午", clinic, kWeekdays[s.weekid], kStates.at(s.state)};
}

} // namespace quilora::test
