#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <string>
#include <vector>

#include "common/gbk.h"
#include "common/normalise.h"
#include "scan/patterns.h"
#include "scan/tregexpr.h"

namespace quilora {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// Every match of pattern over text, groups 1..groups of each.
Rows Scan(std::string_view pattern, std::string_view text, int groups) {
    Rows rows;
    ForEachMatch(pattern, text, [&](const TRegExpr& re) {
        std::vector<std::string> row;
        for (int i = 1; i <= groups; ++i)
            row.push_back(re.Capture(i));
        rows.push_back(row);
    });
    return rows;
}

std::string Single(std::string_view pattern, std::string_view text) {
    TRegExpr re;
    re.SetExpression(pattern);
    re.SetInputString(text);
    return re.Exec() ? re.Capture(1) : "<none>";
}

// Pages as the portal writes them: mixed case, double quotes, CRLF, tabs.
const char kCityScript[] =
    "var Province = [\r\n"
    "\t{\"Name\":\"北京\",\"ID\":\"1\",\"City\":[{\"CityName\":\"东城区\",\"ID\":\"101\"},\r\n"
    "\t\t{\"CityName\":\"West Side\",\"ID\":\"102\"}]},\r\n"
    "\t{\"Name\":\"上海\",\"ID\":\"2\",\"City\":[{\"CityName\":\"黄浦区\",\"ID\":\"201\"}]}\r\n"
    "];\r\n";

TEST(CityScript, ProvincesThenTheirCitiesInOrder) {
    const std::string page = NormalisePage(kCityScript);
    Rows provinces = Scan(pattern::kProvince, page, 3);
    ASSERT_EQ(provinces.size(), 2u);
    EXPECT_EQ(provinces[0], (std::vector<std::string>{
                                "北京", "1", "{cityname:东城区,id:101},{cityname:west side,id:102}"}));
    EXPECT_EQ(provinces[1], (std::vector<std::string>{"上海", "2", "{cityname:黄浦区,id:201}"}));
    EXPECT_EQ(Scan(pattern::kCity, provinces[0][2], 2), (Rows{{"东城区", "101"}, {"west side", "102"}}));
    EXPECT_EQ(Scan(pattern::kCity, provinces[1][2], 2), (Rows{{"黄浦区", "201"}}));
    // Not normalised, nothing matches: the patterns are lower case and quote-free.
    EXPECT_TRUE(Scan(pattern::kProvince, kCityScript, 3).empty());
}

TEST(HospitalScript, CityEntriesThenTheirHospitals) {
    const std::string page =
        NormalisePage("var Hos=[{\"PID\":1,\"CID\":101,\"Hospital\":[\r\n"
                      "{\"ID\":9001,\"Name\":\"协和医院(东院)\"},{\"ID\":9002,\"Name\":\"PUMC 2\"}]},\n"
                      "{\"PID\":2,\"CID\":201,\"Hospital\":[{\"ID\":9101,\"Name\":\"瑞金\"}]}];");
    const Rows cities = Scan(pattern::kCityHospitals, page, 3);
    ASSERT_EQ(cities.size(), 2u);
    EXPECT_EQ(cities[0][0], "1");
    EXPECT_EQ(cities[0][1], "101");
    EXPECT_EQ(Scan(pattern::kHospital, cities[0][2], 2),
              (Rows{{"9001", "协和医院(东院)"}, {"9002", "pumc 2"}}));
    EXPECT_EQ(cities[1][0] + "/" + cities[1][1], "2/201");
    EXPECT_EQ(Scan(pattern::kHospital, cities[1][2], 2), (Rows{{"9101", "瑞金"}}));
}

TEST(EmptyEntries, TheStoredPatternsRunIntoTheNextEntryTheCrawlersDoNot) {
    struct Case {
        std::string_view stored, variant;
        const char* text;
        Rows storedRows, variantRows;
    } cases[] = {
        // (.+?) takes at least one byte, so an empty list swallows up to the next "]}".
        {pattern::kCityHospitals,
         pattern::kCityHospitalsOrEmpty,
         "{pid:1,cid:1,hospital:[]},{pid:2,cid:2,hospital:[{id:5,name:x}]}",
         {{"1", "1", "]},{pid:2,cid:2,hospital:[{id:5,name:x}"}},
         {{"1", "1", ""}, {"2", "2", "{id:5,name:x}"}}},
        {pattern::kProvince,
         pattern::kProvinceOrEmpty,
         "{name:a,id:1,city:[]},{name:b,id:2,city:[{cityname:c,id:3}]}",
         {{"a", "1", "]},{name:b,id:2,city:[{cityname:c,id:3}"}},
         {{"a", "1", ""}, {"b", "2", "{cityname:c,id:3}"}}},
        {pattern::kDoctor,
         pattern::kDoctorOrNoTitle,
         "<a href=doctor.aspx?doctid=1>li&nbsp;</a><a href=doctor.aspx?doctid=2>wu&nbsp;chief</a>",
         {{"1", "li", "</a><a href=doctor.aspx?doctid=2>wu&nbsp;chief"}},
         {{"1", "li", ""}, {"2", "wu", "chief"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Scan(c.stored, c.text, 3), c.storedRows);
        EXPECT_EQ(Scan(c.variant, c.text, 3), c.variantRows);
    }
}

// The crawler reads with the variants; wherever their last group is not empty
// they must walk exactly the matches and groups of the stored patterns. The
// texts are runs of entries whose every part is picked from ordinary and
// broken forms: empty fields, delimiters inside fields, parts left out.
TEST(EmptyEntries, TheCrawlersPatternsAgreeWithTheStoredOnesWhereverTheirGroupHoldsText) {
    using Parts = std::vector<std::vector<std::string>>;
    struct Pair {
        std::string_view stored, variant;
        Parts entry;
    } pairs[] = {
        {pattern::kProvince,
         pattern::kProvinceOrEmpty,
         {{"{name:", "", "{"},
          {"a", "", "]}", "a,id:1", "{name:b"},
          {",id:", ""},
          {"1", "23", "x"},
          {",city:[", ",city:"},
          {"", "{cityname:b,id:3}", "{cityname:b,id:3},{cityname:c,id:4}", "]", "]}x", "["},
          {"]}", "]", "}", ""},
          {",", "", "]}"}}},
        {pattern::kCityHospitals,
         pattern::kCityHospitalsOrEmpty,
         {{"{pid:", "", "{"},
          {"1", "", "x"},
          {",cid:", ",", ""},
          {"2", "34", ""},
          {",hospital:[", ",hospital:"},
          {"", "{id:5,name:x}", "{id:5,name:x},{id:6,name:]}}", "]", "]}y", "["},
          {"]}", "]", "}", ""},
          {",", "", "]}"}}},
        {pattern::kDoctor,
         pattern::kDoctorOrNoTitle,
         {{"<a href=doctor.aspx?doctid=", "href=doctor.aspx?doctid=", "<a href="},
          {"7", "", "x"},
          {">", ""},
          {"li", "", "&nbsp;", "</a>"},
          {"&nbsp;", "", "&nbsp"},
          {"", "chief", "&nbsp;t", "</a"},
          {"</a>", "", "<"},
          {"<br>", ""}}},
    };
    std::mt19937 rng(5);
    for (const Pair& p : pairs) {
        SCOPED_TRACE(p.variant);
        std::uniform_int_distribution<std::size_t> entries(0, 5);
        int compared = 0, withEmpty = 0;
        for (int i = 0; i < 20000; ++i) {
            std::string text;
            for (std::size_t n = entries(rng); n > 0; --n)
                for (const auto& choices : p.entry)
                    text += choices[std::uniform_int_distribution<std::size_t>(0, choices.size() - 1)(rng)];
            const Rows variant = Scan(p.variant, text, 3);
            const bool holdsText =
                std::all_of(variant.begin(), variant.end(), [](const auto& row) { return !row[2].empty(); });
            if (!holdsText) {
                ++withEmpty;
                continue;
            }
            compared += !variant.empty();
            ASSERT_EQ(Scan(p.stored, text, 3), variant) << text;
        }
        // The texts must reach both sides of the line.
        EXPECT_GT(compared, 100);
        EXPECT_GT(withEmpty, 100);
    }
}

TEST(DepartmentPage, IdAndName) {
    const std::string page =
        NormalisePage("<ul>\r\n\t<li onclick=\"setDept('301','心血管内科')\">心血管内科</li>\r\n"
                      "\t<li onclick=\"SetDept('302','ENT 耳鼻喉')\">x</li>\r\n</ul>");
    EXPECT_EQ(Scan(pattern::kDepartment, page, 2), (Rows{{"301", "心血管内科"}, {"302", "ent 耳鼻喉"}}));
}

TEST(DoctorPage, IdNameAndTitleWithEmptyName) {
    const std::string page =
        NormalisePage("<a href=\"Doctor.aspx?DoctID=5001\">张三&nbsp;主任医师</a><br>\r\n"
                      "<a href=\"Doctor.aspx?DoctID=5002\">&nbsp;医师</a>\r\n"
                      "<a href=\"DoctorXaspx?doctid=5003\">李四&nbsp;医师</a>");
    // The escaped dot must not match any byte: the third link is not a doctor link.
    EXPECT_EQ(Scan(pattern::kDoctor, page, 3), (Rows{{"5001", "张三", "主任医师"}, {"5002", "", "医师"}}));
}

TEST(PatientPage, SixFieldsPerPatient) {
    EXPECT_EQ(Utf8ToCharset(pattern::kPatient, "GBK").size(), 273u);
    std::string raw;
    for (const auto& [name, rel, sex, birth, uid, card] :
         {std::array<const char*, 6>{"王 小明", "本人", "男", "1980-01-02", "5566", "778899"},
          std::array<const char*, 6>{"Li Na", "女儿", "女", "2010-12-31", "5567", "778900"}}) {
        raw += std::string("<li style=\"background='#FFFFFF'\"><span style=\"width:100px;\">") + name +
               "</span>\r\n<span>" + rel + "</span><span>" + sex + "</span><span>" + birth +
               "</span><span><a href=\"javascript:void(0)\" onclick=\"showForm('update','" + uid +
               "')\">修改资料</a></span>\t<span style=\"width:80px\"><a href=\"javascript:void(0)\" "
               "onclick=\"clinic(" +
               card + ");\">就诊卡</a></span></li>\r\n";
    }
    const std::string page = ReplaceAll(NormalisePage(raw), " ", "");
    EXPECT_EQ(Scan(pattern::kPatient, page, 6),
              (Rows{{"王小明", "本人", "男", "1980-01-02", "5566", "778899"},
                    {"lina", "女儿", "女", "2010-12-31", "5567", "778900"}}));
}

TEST(SchedulePage, SevenSlotFieldsWithEmptyUrl) {
    const std::string page = NormalisePage(
        "<td><a onclick=\"NumberDiv('1001','2011-03-16','1','3','3','',2)\">未放号</a></td>\r\n"
        "<td><a onclick=\"NumberDiv('1002','2011-03-17','2','1','4','AbC%2F1',4)\">预约</a></td>");
    EXPECT_EQ(Scan(pattern::kScheduleSlot, page, 7),
              (Rows{{"1001", "2011-03-16", "1", "3", "3", "", "2"},
                    {"1002", "2011-03-17", "2", "1", "4", "abc%2f1", "4"}}));
}

TEST(NumberList, EntriesAndTheOpenedMark) {
    const std::string page = NormalisePage("<a onclick=\"guahaoDiv('17','u1',11,22,'08:00')\">17</a>\r\n"
                                           "<a onclick=\"guahaoDiv('18','',11,22,'08:10')\">18</a>");
    EXPECT_EQ(Scan(pattern::kNumberEntry, page, 4), (Rows{{"17", "u1", "11", "22"}, {"18", "", "11", "22"}}));
    // The poll's pattern is the four-argument form; the five-argument entries above do not match it.
    EXPECT_EQ(Single(pattern::kSlotOpened, page), "<none>");
    EXPECT_EQ(Single(pattern::kSlotOpened, NormalisePage("<a onclick=\"guahaoDiv('19','u',1,2)\">")), "19");
    EXPECT_NE(NormalisePage("|未放号|").find(pattern::kNotReleasedMarker), std::string::npos);
}

TEST(RegistrationForm, SelectedOptionsAndFields) {
    const std::string form = NormalisePage(
        "<select><option value=\"8\" selected=\"selected\">身份证</option></select>\r\n"
        "<input id=\"tbZhengjianID\" value=\"A123\" size=\"20\" />\r\n"
        "<select><option value=\"1979\">1979</option><option value=\"1980\" "
        "selected=\"selected\">1980</option>"
        "</select>\r\n<select><option value=\"5\"  selected=\"selected\">5</option></select>\r\n"
        "<select><option value=\"21\" selected=\"selected\">21</option></select>\r\n"
        "<input id=\"tbIdentityNo\" value=\"\" size=\"20\" />\t<input id=\"hideOtherCard\" value=\"OC-9\" "
        "/>");
    EXPECT_EQ(Single(pattern::kFormCertificateType, form), "8");
    EXPECT_EQ(Single(pattern::kFormCertificateNo, form), "a123");
    // The first selected option ends with "selected>" too: it is the year pattern's first match.
    EXPECT_EQ(Single(pattern::kFormSelectedOption, form), "8");
    EXPECT_EQ(Single(pattern::kFormMonth, form), "5");
    EXPECT_EQ(Single(pattern::kFormIdentityNo, form), "");
    EXPECT_EQ(Single(pattern::kFormOtherCard, form), "oc-9");

    // One blank and two blanks are told apart both ways.
    EXPECT_EQ(Single(pattern::kFormMonth, "<option value=5 selected=selected>"), "<none>");
    EXPECT_EQ(Single(pattern::kFormSelectedOption, "<option value=5  selected=selected>"), "<none>");
    EXPECT_EQ(Single(pattern::kFormCertificateType, "<option value=5  selected=selected>"), "<none>");
}

} // namespace
} // namespace quilora
