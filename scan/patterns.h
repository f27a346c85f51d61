#pragma once
// Every pattern the system reads portal pages with. All are written against
// normalised page text (lower-case ASCII, no double quotes, line breaks or
// tabs); the comments name the groups.
#include <string_view>

namespace quilora::pattern {

// City script, outer: 1 province name, 2 province id, 3 the province's city list.
inline constexpr std::string_view kProvince = R"({name:(.+?),id:(\d+),city:\[(.+?)\]})";
// City script, inner (over group 3 of kProvince): 1 city name, 2 city id.
inline constexpr std::string_view kCity = R"({cityname:(.+?),id:(\d+)})";
// Hospital script, outer: 1 province id, 2 city id, 3 the city's hospital list.
inline constexpr std::string_view kCityHospitals = R"({pid:(\d+),cid:(\d+),hospital:\[(.+?)\]})";
// Hospital script, inner (over group 3 of kCityHospitals): 1 hospital id, 2 hospital name.
inline constexpr std::string_view kHospital = R"({id:(\d+),name:(.+?)})";
// Department page of one hospital: 1 department id, 2 department name.
inline constexpr std::string_view kDepartment = R"(onclick=setdept\('(\d+)','(.+?)'\))";
// Doctor page of one department: 1 doctor id, 2 doctor name (may be empty), 3 title.
inline constexpr std::string_view kDoctor = R"(href=doctor\.aspx\?doctid=(\d+)>(.*?)&nbsp;(.+?)</a>)";

// What the crawler reads with in place of kProvince, kCityHospitals and
// kDoctor. Those need one byte in their last lazy group, so an empty
// "city:[]" or "hospital:[]" list, or a doctor without a title, runs on into
// the next entry and swallows it. These let that group be empty; wherever it
// holds text they give exactly the matches and groups of the stored pattern.
inline constexpr std::string_view kProvinceOrEmpty = R"({name:(.+?),id:(\d+),city:\[(.*?)\]})";
inline constexpr std::string_view kCityHospitalsOrEmpty = R"({pid:(\d+),cid:(\d+),hospital:\[(.*?)\]})";
inline constexpr std::string_view kDoctorOrNoTitle =
    R"(href=doctor\.aspx\?doctid=(\d+)>(.*?)&nbsp;(.*?)</a>)";

// Patient page with every blank removed: 1 UserName, 2 Guanxi, 3 Sex,
// 4 Birthday, 5 UserID, 6 CardNo. 273 bytes in GBK.
inline constexpr std::string_view kPatient =
    R"(ackground='#ffffff'><spanstyle=width:100px;>(.*?)</span><span>(.*?)</span><span>(.*?)</span>)"
    R"(<span>(.*?)</span><span><ahref=javascript:void\(0\)onclick=showform\('update','(\d+)'\)>修改资料</a>)"
    R"(</span><spanstyle=width:80px><ahref=javascript:void\(0\)onclick=clinic\((\d+)\);>)";

// Doctor's schedule: 1 sn, 2 date, 3 timeid, 4 type, 5 weekid, 6 url (may be empty), 7 state.
inline constexpr std::string_view kScheduleSlot =
    R"(numberdiv\('(\d+)','(.+?)','(\d+)','(\d+)','(\d+)','(.*?)',(\d+)\)>)";

// Slot number list: 1 a bookable number, 2 url, 3 province id, 4 hospital id.
inline constexpr std::string_view kNumberEntry = R"(onclick=guahaodiv\('(\d+)','(.*?)',(\d+),(\d+),'.*?'\)>)";
// Auto-booking poll of the number list: a match means the slot has opened.
inline constexpr std::string_view kSlotOpened = R"(onclick=guahaodiv\('(\d+)','(.*?)',(\d+),(\d+)\)>)";
// The number list's mark of a slot not yet released.
inline constexpr std::string_view kNotReleasedMarker = "|未放号|";

// Registration form fields, each group 1.
inline constexpr std::string_view kFormCertificateType = R"(<option value=(\d+) selected=selected)";
inline constexpr std::string_view kFormCertificateNo = R"(id=tbzhengjianid value=(.*?) size)";
// Year, and searched again after the month for the day.
inline constexpr std::string_view kFormSelectedOption = R"(<option value=(\d+) selected=selected>)";
// Month: the portal writes two blanks before "selected".
inline constexpr std::string_view kFormMonth = R"(<option value=(\d+)  selected=selected>)";
inline constexpr std::string_view kFormIdentityNo = R"(id=tbidentityno value=(.*?) size)";
inline constexpr std::string_view kFormOtherCard = R"(id=hideothercard value=(.*?) />)";

} // namespace quilora::pattern
