// The selection cascade on the real drop-down lists of the window: the area
// list, the restore of the saved choice, and the user's choices.
#include <gtest/gtest.h>

#include <QComboBox>

#include "app/combo_sink.h"
#include "common/profile.h"
#include "window_fixture.h"

namespace quilora::test {
namespace {

// Two provinces with cities, one without; a city without hospitals, a hospital
// without departments, a department without doctors, a doctor without title.
const std::vector<std::string> kCatalogue = {
    "Insert into TCity values(1, 0, '北京市', 0)",
    "Insert into TCity values(11, 1, '东城区', 1)",
    "Insert into TCity values(12, 1, '西城区', 1)",
    "Insert into TCity values(2, 0, '广东省', 0)",
    "Insert into TCity values(21, 2, '广州市', 1)",
    "Insert into TCity values(3, 0, '澳门', 0)",
    "Insert into THospital values(101, 1, 11, '协和医院')",
    "Insert into THospital values(102, 1, 11, '同仁医院')",
    "Insert into THospital values(103, 1, 12, '城西医院')",
    // Stored out of name order: 儿科 < 内科 < 外科.
    "Insert into TClass values(901, 101, '外科')",
    "Insert into TClass values(902, 101, '内科')",
    "Insert into TClass values(903, 101, '儿科')",
    "Insert into TClass values(931, 103, '眼科')",
    "Insert into TDoctor values(5001, 903, '张三', '主任医师')",
    "Insert into TDoctor values(5002, 903, '李四', '')",
    "Insert into TDoctor values(5003, 902, '王五', '副主任医师')",
    "Insert into TDoctor values(5004, 901, 'o''brien', '住院医师')",
};

// "selected tag/count" for each list, "-" without a selection.
std::string State(const TMain& w) {
    std::string s;
    for (const QComboBox* box : {w.cbxArea, w.cbxHospital, w.cbxClass, w.cbxDoctor}) {
        if (!s.empty())
            s += ' ';
        s += (HasSelection(*box) ? std::to_string(SelectedTag(*box)) : "-") + "/" +
             std::to_string(box->count());
    }
    return s;
}

std::vector<std::string> Texts(const QComboBox& box) {
    std::vector<std::string> out;
    for (int i = 0; i < box.count(); ++i)
        out.push_back(ItemText(box, i));
    return out;
}

class Cascade : public WindowFixture {
protected:
    std::unique_ptr<TMain> StartWith(const std::string& keys) {
        Seed(kCatalogue);
        WriteConfig(keys);
        auto w = Start();
        EXPECT_TRUE(boxes.empty()) << BoxTexts();
        return w;
    }
};

TEST_F(Cascade, AreaListHoldsEachProvinceFollowedByItsIndentedCitiesAndSelectsNothing) {
    auto w = StartWith("");
    w->BuildAreaList();
    EXPECT_EQ(Texts(*w->cbxArea),
              (std::vector<std::string>{"北京市", "  东城区", "  西城区", "广东省", "  广州市", "澳门"}));
    std::vector<int> tags;
    for (int i = 0; i < w->cbxArea->count(); ++i)
        tags.push_back(ItemTag(*w->cbxArea, i));
    EXPECT_EQ(tags, (std::vector<int>{0, 11, 12, 0, 21, 0}));
    EXPECT_FALSE(HasSelection(*w->cbxArea));
}

TEST_F(Cascade, RestoreFollowsTheSavedKeysAsFarAsEachMatches) {
    struct Case {
        const char* name;
        std::string keys;
        std::string state;
    } cases[] = {
        {"no keys: the first province, nothing below", "", "0/6 -/0 -/0 -/0"},
        {"all four found", "AreaID=11\nHospitalID=101\nClassID=902\nDoctorID=5003\n",
         "11/6 101/2 902/3 5003/1"},
        {"a city that left TCity", "AreaID=99\nHospitalID=101\nClassID=902\nDoctorID=5003\n",
         "-/6 -/0 -/0 -/0"},
        {"a hospital of another city keeps the first of each list",
         "AreaID=11\nHospitalID=103\nClassID=931\nDoctorID=5004\n", "11/6 101/2 903/3 5001/2"},
        {"a hospital without departments keeps the doctors of the one before",
         "AreaID=11\nHospitalID=102\nDoctorID=5002\n", "11/6 102/2 -/0 5002/2"},
        {"a department without doctors", "AreaID=12\nHospitalID=103\nClassID=931\n", "12/6 103/1 931/1 -/0"},
        {"a city without hospitals", "AreaID=21\nHospitalID=101\n", "21/6 -/0 -/0 -/0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(State(*StartWith(c.keys)), c.state);
    }
}

TEST_F(Cascade, EntriesShowDepartmentsByNameAndDoctorsWithTheirTitleInBrackets) {
    auto w = StartWith("AreaID=11\n");
    EXPECT_EQ(Texts(*w->cbxHospital), (std::vector<std::string>{"协和医院", "同仁医院"}));
    EXPECT_EQ(Texts(*w->cbxClass), (std::vector<std::string>{"儿科", "内科", "外科"}));
    EXPECT_EQ(Texts(*w->cbxDoctor), (std::vector<std::string>{"张三(主任医师)", "李四()"}));
    Choose(*w->cbxClass, 2);
    EXPECT_EQ(Texts(*w->cbxDoctor), (std::vector<std::string>{"o'brien(住院医师)"}));
}

TEST_F(Cascade, UserChoicesRefillTheListsBelowAsFarAsThereAreEntries) {
    auto w = StartWith("AreaID=11\nHospitalID=101\nClassID=902\nDoctorID=5003\n");
    const auto step = [&](const char* what, QComboBox& box, int index, const std::string& state) {
        SCOPED_TRACE(what);
        Choose(box, index);
        EXPECT_EQ(State(*w), state);
    };
    step("a province changes nothing below", *w->cbxArea, 3, "0/6 101/2 902/3 5003/1");
    step("a city without hospitals empties only the hospitals", *w->cbxArea, 4, "21/6 -/0 902/3 5003/1");
    step("a city", *w->cbxArea, 1, "11/6 101/2 903/3 5001/2");
    step("a hospital without departments keeps the doctors", *w->cbxHospital, 1, "11/6 102/2 -/0 5001/2");
    step("a hospital: its first department by name", *w->cbxHospital, 0, "11/6 101/2 903/3 5001/2");
    step("a department", *w->cbxClass, 2, "11/6 101/2 901/3 5004/1");
    step("a city down to a department without doctors", *w->cbxArea, 2, "12/6 103/1 931/1 -/0");
    EXPECT_TRUE(boxes.empty()) << BoxTexts();
}

TEST_F(Cascade, SelectingFromCodeRunsNoHandler) {
    auto w = StartWith("AreaID=11\n");
    SelectItem(*w->cbxArea, 2);
    SelectItem(*w->cbxHospital, 1);
    SelectItem(*w->cbxClass, 1);
    // Each list keeps the entries that the city before filled in.
    EXPECT_EQ(State(*w), "12/6 102/2 902/3 5001/2");
}

TEST_F(Cascade, SaveAfterAProvinceWritesZeroAndTheChoicesStillShownBelow) {
    auto w = StartWith("AreaID=11\nHospitalID=101\nClassID=902\nDoctorID=5003\n");
    Choose(*w->cbxArea, 0);
    w->SaveSettings();
    const ProfileFile profile(w->SettingsPath().toStdString());
    EXPECT_EQ(profile.ReadInteger("Data", "AreaID", -1), 0);
    EXPECT_EQ(profile.ReadInteger("Data", "HospitalID", -1), 101);
    EXPECT_EQ(profile.ReadInteger("Data", "ClassID", -1), 902);
    EXPECT_EQ(profile.ReadInteger("Data", "DoctorID", -1), 5003);
}

TEST_F(Cascade, AnEmptyCityTableGivesAnEmptyAreaList) {
    Seed({});
    WriteConfig("AreaID=11\n");
    auto w = Start();
    EXPECT_TRUE(boxes.empty()) << BoxTexts();
    EXPECT_EQ(State(*w), "-/0 -/0 -/0 -/0");
}

TEST_F(Cascade, AFailingQueryIsReportedAfterItsListWasEmptiedAndKeepsTheListsBelow) {
    auto w = StartWith("AreaID=11\n");
    w->cmd.Execute("Drop Table TClass");
    Choose(*w->cbxHospital, 1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].flags, kMbIconError | kMbOk);
    EXPECT_NE(boxes[0].text.find("TClass"), std::string::npos) << boxes[0].text;
    EXPECT_EQ(State(*w), "11/6 102/2 -/0 5001/2");
}

} // namespace
} // namespace quilora::test
