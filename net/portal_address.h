#pragma once
// The portal's address templates and one typed builder per request. Values are
// percent-encoded only where they would otherwise change the address, so that
// ordinary addresses are exactly the templates filled.
#include <initializer_list>
#include <string>
#include <string_view>

#include "common/settings.h"
#include "net/fetcher.h"

namespace quilora {

// The slot fields that the number list and the poll send back.
struct SlotRef {
    int sn = 0;
    std::string date;
    int timeid = 0;
    int type = 0;
    int weekid = 0;
    std::string url;
};

struct RegistrationValues {
    int id = 0;
    std::string url;
    int memberid = 0;
    int provinceid = 0;
    int ghthospitalid = 0;
    std::string identityNo;
    std::string clinicCardNo = "复诊";
    std::string othercard;
    std::string year = "1980";
    std::string month = "1";
    std::string day = "1";
    int zhengjiantype = 8;
    std::string zhengjianid;
};

namespace address {
// Path-and-query templates, exactly as the portal expects them.
inline constexpr std::string_view kSignIn =
    "/Action/CardLogin.ashx?cardnumber=%s&password=%s&d=%s&url=/UserManage/";
inline constexpr std::string_view kPatients = "/UserManage/cyxx.aspx?d=";
inline constexpr std::string_view kDoctorPage = "/Doctor.aspx?id=%d&doctid=%d&d=%s";
inline constexpr std::string_view kNumberList =
    "/Action/NumberWater.ashx?sn=%d&date=%s&timeid=%d&type=%d&weekid=%d&url=%s&state=4&d=%s";
inline constexpr std::string_view kRegistrationForm = "/Action/RegCheck.ashx?id=%d&mid=%d&d=%s";
inline constexpr std::string_view kRegistration =
    "/Action/Register.ashx?up=0&cardup=1&id=%d&url=%s&memberid=%d&provinceid=%d&ghthospitalid=%d"
    "&IdentityNo=%s&clinicCardNo=%s&othercard=%s&year=%s&month=%s&day=%s&zhengjiantype=%d&zhengjianid=%s"
    "&d=%s";
inline constexpr std::string_view kSlotPoll =
    "/Action/NumberWater.ashx?sn=%d&date=%s&timeid=%d&type=%d&weekid=%d&url=%s&state=%d&d=%s";
inline constexpr std::string_view kCityScript = "/js/City.js";
inline constexpr std::string_view kHospitalScript = "/js/Index.js";
inline constexpr std::string_view kDepartments = "/Action/GHTHosdept.ashx?hid=";
inline constexpr std::string_view kDoctors = "/Action/DoctorByHosdept.ashx?id=";
} // namespace address

// Fills a template: "%s" takes the next text value (encoded), "%d" the next
// integer in signed decimal. Throws std::logic_error on a count mismatch.
std::string FillTemplate(std::string_view tmpl, std::string_view charset,
                         std::initializer_list<std::string_view> values);

PortalAddress SignInAddress(const PortalHosts& h, std::string_view cardNo, std::string_view password,
                            std::string_view stamp);
PortalAddress PatientsAddress(const PortalHosts& h, std::string_view stamp);
PortalAddress DoctorPageAddress(const PortalHosts& h, int hospitalId, int doctorId, std::string_view stamp);
PortalAddress NumberListAddress(const PortalHosts& h, const SlotRef& slot, std::string_view stamp);
PortalAddress RegistrationFormAddress(const PortalHosts& h, int number, int memberId, std::string_view stamp);
PortalAddress RegistrationAddress(const PortalHosts& h, const RegistrationValues& v, std::string_view stamp);
PortalAddress SlotPollAddress(const PortalHosts& h, const SlotRef& slot, int state, std::string_view stamp);
PortalAddress CityScriptAddress(const PortalHosts& h);
PortalAddress HospitalScriptAddress(const PortalHosts& h);
PortalAddress DepartmentsAddress(const PortalHosts& h, int hospitalId);
PortalAddress DoctorsAddress(const PortalHosts& h, int classId);

} // namespace quilora
