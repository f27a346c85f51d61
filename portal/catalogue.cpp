#include "portal/catalogue.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <numeric>
#include <string_view>

#include "portal/seeded.h"

namespace quilora::portal {

namespace {

using namespace std::string_view_literals;

// Salts that keep the value streams of the levels apart.
enum Salt : std::uint64_t {
    kCityName = 1,
    kHospitalCount,
    kDepartmentPick,
    kDoctorCount,
    kDoctorName,
    kTitle,
    kSlots
};

struct ProvinceSeed {
    std::string_view name;
    std::array<std::string_view, 3> cities; // demo scale only
};

constexpr std::array kDemoProvinces{
    ProvinceSeed{"北京市", {"东城区", "西城区", "朝阳区"}},
    ProvinceSeed{"广东省", {"广州市", "深圳市", ""}},
    ProvinceSeed{"四川省", {"成都市", "", ""}},
};

constexpr std::array kNationalProvinces{
    "北京市"sv,           "天津市"sv,         "河北省"sv,         "山西省"sv, "内蒙古自治区"sv,
    "辽宁省"sv,           "吉林省"sv,         "黑龙江省"sv,       "上海市"sv, "江苏省"sv,
    "浙江省"sv,           "安徽省"sv,         "福建省"sv,         "江西省"sv, "山东省"sv,
    "河南省"sv,           "湖北省"sv,         "湖南省"sv,         "广东省"sv, "广西壮族自治区"sv,
    "海南省"sv,           "重庆市"sv,         "四川省"sv,         "贵州省"sv, "云南省"sv,
    "西藏自治区"sv,       "陕西省"sv,         "甘肃省"sv,         "青海省"sv, "宁夏回族自治区"sv,
    "新疆维吾尔自治区"sv, "香港特别行政区"sv, "境外就医服务区"sv,
};
// Listed last and with an empty city list, as a newly opened area would be.
constexpr std::string_view kProvinceWithoutCities = "澳门特别行政区";

constexpr std::array kCityHeads{"安"sv, "宁"sv, "平"sv, "阳"sv, "和"sv, "兴"sv, "丰"sv, "德"sv,
                                "新"sv, "华"sv, "泰"sv, "昌"sv, "明"sv, "康"sv, "盛"sv};
constexpr std::array kCityTails{"州"sv, "阳"sv, "山"sv, "城"sv, "江"sv,
                                "原"sv, "海"sv, "川"sv, "林"sv, "湖"sv};

constexpr std::array kHospitalKinds{
    "第一人民医院"sv, "中医院"sv,   "妇幼保健院"sv,     "儿童医院"sv, "中心医院"sv, "第二人民医院"sv,
    "口腔医院"sv,     "肿瘤医院"sv, "中西医结合医院"sv, "眼科医院"sv, "骨科医院"sv, "康复医院"sv,
};

constexpr std::array kDepartmentNames{
    "内科"sv,     "外科"sv,   "儿科"sv,     "妇产科"sv,     "眼科"sv,     "耳鼻喉科"sv,
    "口腔科"sv,   "皮肤科"sv, "骨科"sv,     "心血管内科"sv, "神经内科"sv, "消化内科"sv,
    "呼吸内科"sv, "肾内科"sv, "内分泌科"sv, "泌尿外科"sv,   "普外科"sv,   "肿瘤科"sv,
    "康复科"sv,   "中医科"sv, "急诊科"sv,   "感染科"sv,     "精神科"sv,   "麻醉科"sv,
};

constexpr std::array kSurnames{"张"sv, "王"sv, "李"sv, "赵"sv, "刘"sv, "陈"sv, "杨"sv, "黄"sv,
                               "周"sv, "吴"sv, "徐"sv, "孙"sv, "马"sv, "朱"sv, "胡"sv, "郭"sv,
                               "何"sv, "高"sv, "林"sv, "罗"sv, "郑"sv, "梁"sv, "谢"sv, "宋"sv,
                               "唐"sv, "许"sv, "韩"sv, "冯"sv, "邓"sv, "曹"sv};
constexpr std::array kGivenChars{"伟"sv, "芳"sv, "娜"sv, "敏"sv, "静"sv, "丽"sv, "强"sv, "磊"sv,
                                 "军"sv, "洋"sv, "勇"sv, "艳"sv, "杰"sv, "涛"sv, "明"sv, "超"sv,
                                 "秀"sv, "霞"sv, "平"sv, "刚"sv, "桂"sv, "英"sv, "华"sv, "建"sv,
                                 "国"sv, "文"sv, "玉"sv, "兰"sv, "红"sv, "梅"sv};

struct TitleSeed {
    std::string_view title;
    int clinicType;
};
constexpr std::array kTitles{TitleSeed{"主任医师", 3}, TitleSeed{"副主任医师", 2}, TitleSeed{"主治医师", 1},
                             TitleSeed{"住院医师", 1}};

// Names that exercise the client's reading: Latin capitals, blanks, a single quote.
constexpr std::string_view kHospitalWithCapitals = "IMC国际医疗中心";
constexpr std::string_view kHospitalWithQuote = "St Mary's妇儿医院";
constexpr std::string_view kDepartmentWithCapitals = "ICU重症医学科";
constexpr std::string_view kDepartmentWithBlank = "口腔 正畸科";
constexpr std::string_view kDoctorWithBlank = "David Chen";
constexpr std::string_view kDoctorWithQuote = "O'Brien";

// Splits total items over parts as evenly as possible, extra ones going first.
int Share(int total, int parts, int index) {
    return total / parts + (index < total % parts ? 1 : 0);
}

std::string DoctorName(std::uint64_t seed, int ordinal) {
    SeededStream s(Mix(seed, kDoctorName, std::uint64_t(ordinal)));
    std::string name(kSurnames[std::size_t(s.Below(int(kSurnames.size())))]);
    const int given = 1 + s.Below(2);
    for (int i = 0; i < given; ++i)
        name += kGivenChars[std::size_t(s.Below(int(kGivenChars.size())))];
    return name;
}

constexpr int kHalfDays = Catalogue::kDays * 2;

struct SlotPlan {
    std::array<int, 10> positions{}; // day * 2 + half, ascending
    int count = 0;
};

// Which half-days a doctor works: six to ten of the 28, the same for every call.
SlotPlan PlanSlots(std::uint64_t seed, int ordinal) {
    SeededStream s(Mix(seed, kSlots, std::uint64_t(ordinal)));
    std::array<int, kHalfDays> all{};
    std::iota(all.begin(), all.end(), 0);
    for (int i = kHalfDays - 1; i > 0; --i)
        std::swap(all[std::size_t(i)], all[std::size_t(s.Below(i + 1))]);
    SlotPlan plan;
    plan.count = 6 + s.Below(5);
    std::copy_n(all.begin(), plan.count, plan.positions.begin());
    std::sort(plan.positions.begin(), plan.positions.begin() + plan.count);
    return plan;
}

// Earliest closed, latest two not yet released, one suspended, one full, the rest open.
int StateAt(int index, int count) {
    if (index == 0)
        return state::kClosed;
    if (index >= count - 2)
        return state::kNotReleased;
    if (index == 2)
        return state::kSuspended;
    if (index == 3)
        return state::kFull;
    return state::kOpen;
}

} // namespace

template <typename T>
std::span<const T> Catalogue::Children(const std::vector<T>& items, const std::vector<Range>& ranges,
                                       std::size_t parentIndex) {
    if (parentIndex >= ranges.size())
        return {};
    const Range r = ranges[parentIndex];
    return std::span<const T>(items).subspan(std::size_t(r.first), std::size_t(r.count));
}

Catalogue Catalogue::Generate(const CatalogueOptions& options) {
    Catalogue c;
    c.options_ = options;
    const bool national = options.scale == Scale::National;
    const std::uint64_t seed = options.seed;

    // Provinces and cities.
    const int provincesWithCities = national ? int(kNationalProvinces.size()) : int(kDemoProvinces.size());
    const int nationalCities = 340;
    for (int p = 0; p < provincesWithCities; ++p) {
        Province province{kFirstProvinceId + p, std::string(national ? kNationalProvinces[std::size_t(p)]
                                                                     : kDemoProvinces[std::size_t(p)].name)};
        Range range{int(c.cities_.size()), 0};
        if (national) {
            const int count = Share(nationalCities, provincesWithCities, p);
            SeededStream s(Mix(seed, kCityName, std::uint64_t(p)));
            for (int i = 0; i < count; ++i) {
                std::string name(kCityHeads[std::size_t(s.Below(int(kCityHeads.size())))]);
                name += kCityTails[std::size_t(s.Below(int(kCityTails.size())))];
                name += "市";
                c.cities_.push_back(City{kFirstCityId + int(c.cities_.size()), province.id, std::move(name)});
            }
        } else {
            for (std::string_view name : kDemoProvinces[std::size_t(p)].cities)
                if (!name.empty())
                    c.cities_.push_back(
                        City{kFirstCityId + int(c.cities_.size()), province.id, std::string(name)});
        }
        range.count = int(c.cities_.size()) - range.first;
        c.citiesOfProvince_.push_back(range);
        c.provinces_.push_back(std::move(province));
    }
    c.provinces_.push_back(
        Province{kFirstProvinceId + provincesWithCities, std::string(kProvinceWithoutCities)});
    c.citiesOfProvince_.push_back(Range{int(c.cities_.size()), 0});

    // Hospitals: 3,000 over the cities nationally, four per city in the demo.
    const int cityCount = int(c.cities_.size());
    for (int ci = 0; ci < cityCount; ++ci) {
        const City& city = c.cities_[std::size_t(ci)];
        const int count = national ? Share(3000, cityCount, ci) : 4;
        Range range{int(c.hospitals_.size()), count};
        std::string_view shortName = city.name;
        for (std::string_view suffix : {"市"sv, "区"sv})
            if (shortName.size() > suffix.size() && shortName.ends_with(suffix))
                shortName.remove_suffix(suffix.size());
        for (int i = 0; i < count; ++i) {
            std::string name(shortName);
            name += kHospitalKinds[std::size_t(i) % kHospitalKinds.size()];
            c.hospitals_.push_back(Hospital{kFirstHospitalId + int(c.hospitals_.size()), city.provinceId,
                                            city.id, std::move(name)});
        }
        c.hospitalsOfCity_.push_back(range);
    }
    c.hospitals_[1].name = kHospitalWithCapitals;
    c.hospitals_[2].name = kHospitalWithQuote;

    // Departments: twenty distinct ones per hospital nationally, two or three in the demo.
    for (std::size_t hi = 0; hi < c.hospitals_.size(); ++hi) {
        SeededStream s(Mix(seed, kDepartmentPick, hi));
        std::array<int, kDepartmentNames.size()> order{};
        std::iota(order.begin(), order.end(), 0);
        for (int i = int(order.size()) - 1; i > 0; --i)
            std::swap(order[std::size_t(i)], order[std::size_t(s.Below(i + 1))]);
        const int count = national ? 20 : 2 + s.Below(2);
        Range range{int(c.departments_.size()), count};
        for (int i = 0; i < count; ++i)
            c.departments_.push_back(
                Department{kFirstDepartmentId + int(c.departments_.size()), c.hospitals_[hi].id,
                           std::string(kDepartmentNames[std::size_t(order[std::size_t(i)])])});
        c.departmentsOfHospital_.push_back(range);
    }
    c.departments_[1].name = kDepartmentWithCapitals;
    c.departments_[2].name = kDepartmentWithBlank;

    // Doctors: five per department nationally; in the demo the first department
    // holds five (the special names), the others one to three.
    for (std::size_t di = 0; di < c.departments_.size(); ++di) {
        const Department& dept = c.departments_[di];
        const int count = (national || di == 0) ? 5 : 1 + int(Mix(seed, kDoctorCount, di) % 3);
        Range range{int(c.doctors_.size()), count};
        for (int i = 0; i < count; ++i) {
            const int ordinal = int(c.doctors_.size());
            const TitleSeed& t =
                kTitles[std::size_t(Mix(seed, kTitle, std::uint64_t(ordinal)) % kTitles.size())];
            c.doctors_.push_back(Doctor{kFirstDoctorId + ordinal, dept.id, dept.hospitalId,
                                        DoctorName(seed, ordinal), std::string(t.title), t.clinicType});
        }
        c.doctorsOfDepartment_.push_back(range);
    }
    c.doctors_[1].name = kDoctorWithBlank;
    c.doctors_[2].name = kDoctorWithQuote;
    c.doctors_[3].name.clear();
    // Last of its department, so that its link is the last one of the list.
    c.doctors_[4].title.clear();
    c.doctors_[4].clinicType = 1;
    return c;
}

namespace {
template <typename T> const T* ById(const std::vector<T>& items, int firstId, int id) {
    const long index = long(id) - firstId;
    if (index < 0 || index >= long(items.size()))
        return nullptr;
    return &items[std::size_t(index)];
}
} // namespace

const Province* Catalogue::FindProvince(int id) const {
    return ById(provinces_, kFirstProvinceId, id);
}
const City* Catalogue::FindCity(int id) const {
    return ById(cities_, kFirstCityId, id);
}
const Hospital* Catalogue::FindHospital(int id) const {
    return ById(hospitals_, kFirstHospitalId, id);
}
const Department* Catalogue::FindDepartment(int id) const {
    return ById(departments_, kFirstDepartmentId, id);
}
const Doctor* Catalogue::FindDoctor(int id) const {
    return ById(doctors_, kFirstDoctorId, id);
}

std::span<const City> Catalogue::CitiesOf(int provinceId) const {
    return Children(cities_, citiesOfProvince_, std::size_t(long(provinceId) - kFirstProvinceId));
}
std::span<const Hospital> Catalogue::HospitalsOf(int cityId) const {
    return Children(hospitals_, hospitalsOfCity_, std::size_t(long(cityId) - kFirstCityId));
}
std::span<const Department> Catalogue::DepartmentsOf(int hospitalId) const {
    return Children(departments_, departmentsOfHospital_, std::size_t(long(hospitalId) - kFirstHospitalId));
}
std::span<const Doctor> Catalogue::DoctorsOf(int departmentId) const {
    return Children(doctors_, doctorsOfDepartment_, std::size_t(long(departmentId) - kFirstDepartmentId));
}

std::vector<Slot> Catalogue::SlotsOf(int doctorId) const {
    const Doctor* doctor = FindDoctor(doctorId);
    if (doctor == nullptr)
        return {};
    const int ordinal = doctorId - kFirstDoctorId;
    const SlotPlan plan = PlanSlots(options_.seed, ordinal);
    std::vector<Slot> slots;
    slots.reserve(std::size_t(plan.count));
    for (int i = 0; i < plan.count; ++i) {
        const int pos = plan.positions[std::size_t(i)];
        const Date date = options_.firstDay.AddDays(pos / 2);
        Slot slot;
        slot.sn = kFirstSn + ordinal * kHalfDays + pos;
        slot.date = date.Text();
        slot.timeid = 1 + pos % 2;
        slot.type = doctor->clinicType;
        slot.weekid = date.Weekday();
        slot.state = StateAt(i, plan.count);
        if (slot.state != state::kSuspended)
            slot.url = "Ks" + std::to_string(doctor->departmentId) + "Sn" + std::to_string(slot.sn);
        slot.doctorId = doctorId;
        slot.hospitalId = doctor->hospitalId;
        const std::uint64_t h = Mix(options_.seed, std::uint64_t(slot.sn));
        slot.numberCount = 4 + int(h % 5);
        if (slot.state == state::kFull) {
            slot.initiallyTaken = (1u << slot.numberCount) - 1;
        } else if (slot.state == state::kOpen) {
            // Some numbers already gone, always at least two left.
            const int taken = int((h >> 8) % std::uint64_t(slot.numberCount - 1));
            for (int k = 0; k < taken; ++k)
                slot.initiallyTaken |=
                    1u << ((std::uint64_t(k) * 3 + (h >> 16)) % std::uint64_t(slot.numberCount));
        }
        slots.push_back(std::move(slot));
    }
    return slots;
}

std::optional<Slot> Catalogue::FindSlot(int sn) const {
    if (sn < kFirstSn)
        return std::nullopt;
    const int ordinal = (sn - kFirstSn) / kHalfDays;
    for (Slot& slot : SlotsOf(kFirstDoctorId + ordinal))
        if (slot.sn == sn)
            return std::move(slot);
    return std::nullopt;
}

std::string Catalogue::NumberTime(int timeid, int k) {
    const int minutes = (timeid == 1 ? 8 * 60 : 14 * 60) + k * 15;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d:%02d", (minutes / 60) % 100, minutes % 60);
    return buf;
}

} // namespace quilora::portal
