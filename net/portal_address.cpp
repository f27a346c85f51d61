#include "net/portal_address.h"

#include <stdexcept>
#include <string>

#include "net/url_encode.h"

namespace quilora {

namespace {

bool IsDecimal(std::string_view v) {
    if (!v.empty() && v.front() == '-')
        v.remove_prefix(1);
    if (v.empty())
        return false;
    for (const char c : v)
        if (c < '0' || c > '9')
            return false;
    return true;
}

std::string Num(int v) {
    return std::to_string(v);
}

constexpr std::string_view kHiddenPassword = "******";

} // namespace

std::string FillTemplate(std::string_view tmpl, std::string_view charset,
                         std::initializer_list<std::string_view> values) {
    std::string out;
    out.reserve(tmpl.size() + 64);
    auto next = values.begin();
    for (std::size_t i = 0; i < tmpl.size(); ++i) {
        const char c = tmpl[i];
        if (c != '%' || i + 1 >= tmpl.size() || (tmpl[i + 1] != 's' && tmpl[i + 1] != 'd')) {
            out += c;
            continue;
        }
        if (next == values.end())
            throw std::logic_error("address template has more placeholders than values: " +
                                   std::string(tmpl));
        const std::string_view value = *next++;
        if (tmpl[i + 1] == 'd') {
            if (!IsDecimal(value))
                throw std::logic_error("address template %d given a non-integer: " + std::string(value));
            out += value;
        } else {
            out += EncodeQueryValue(value, charset);
        }
        ++i;
    }
    if (next != values.end())
        throw std::logic_error("address template has fewer placeholders than values: " + std::string(tmpl));
    return out;
}

PortalAddress SignInAddress(const PortalHosts& h, std::string_view cardNo, std::string_view password,
                            std::string_view stamp) {
    PortalAddress a;
    a.url = h.portalUrl + FillTemplate(address::kSignIn, h.charset, {cardNo, password, stamp});
    // The log shows every address; the password must not be one of them.
    a.shown = h.portalUrl + FillTemplate(address::kSignIn, h.charset, {cardNo, kHiddenPassword, stamp});
    return a;
}

namespace {
PortalAddress Same(std::string url) {
    PortalAddress a;
    a.shown = url;
    a.url = std::move(url);
    return a;
}
} // namespace

PortalAddress PatientsAddress(const PortalHosts& h, std::string_view stamp) {
    return Same(h.portalUrl + std::string(address::kPatients) + EncodeQueryValue(stamp, h.charset));
}

PortalAddress DoctorPageAddress(const PortalHosts& h, int hospitalId, int doctorId, std::string_view stamp) {
    return Same(h.portalUrl +
                FillTemplate(address::kDoctorPage, h.charset, {Num(hospitalId), Num(doctorId), stamp}));
}

PortalAddress NumberListAddress(const PortalHosts& h, const SlotRef& slot, std::string_view stamp) {
    return Same(h.portalUrl + FillTemplate(address::kNumberList, h.charset,
                                           {Num(slot.sn), slot.date, Num(slot.timeid), Num(slot.type),
                                            Num(slot.weekid), slot.url, stamp}));
}

PortalAddress RegistrationFormAddress(const PortalHosts& h, int number, int memberId,
                                      std::string_view stamp) {
    return Same(h.portalUrl +
                FillTemplate(address::kRegistrationForm, h.charset, {Num(number), Num(memberId), stamp}));
}

PortalAddress RegistrationAddress(const PortalHosts& h, const RegistrationValues& v, std::string_view stamp) {
    return Same(h.portalUrl +
                FillTemplate(address::kRegistration, h.charset,
                             {Num(v.id), v.url, Num(v.memberid), Num(v.provinceid), Num(v.ghthospitalid),
                              v.identityNo, v.clinicCardNo, v.othercard, v.year, v.month, v.day,
                              Num(v.zhengjiantype), v.zhengjianid, stamp}));
}

PortalAddress SlotPollAddress(const PortalHosts& h, const SlotRef& slot, int state, std::string_view stamp) {
    return Same(h.portalUrl + FillTemplate(address::kSlotPoll, h.charset,
                                           {Num(slot.sn), slot.date, Num(slot.timeid), Num(slot.type),
                                            Num(slot.weekid), slot.url, Num(state), stamp}));
}

PortalAddress CityScriptAddress(const PortalHosts& h) {
    return Same(h.scriptUrl + std::string(address::kCityScript));
}

PortalAddress HospitalScriptAddress(const PortalHosts& h) {
    return Same(h.scriptUrl + std::string(address::kHospitalScript));
}

PortalAddress DepartmentsAddress(const PortalHosts& h, int hospitalId) {
    return Same(h.portalUrl + std::string(address::kDepartments) + Num(hospitalId));
}

PortalAddress DoctorsAddress(const PortalHosts& h, int classId) {
    return Same(h.portalUrl + std::string(address::kDoctors) + Num(classId));
}

} // namespace quilora
