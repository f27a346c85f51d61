#pragma once
// The pages and answers of the portal, as UTF-8 text written the way the
// portal's own templates write them: mixed-case markup, double-quoted
// attributes, indentation with tabs and CR LF line ends.
#include <span>
#include <string>
#include <string_view>

#include "portal/accounts.h"
#include "portal/catalogue.h"

namespace quilora::portal::pages {

std::string Home(std::string_view charset);
std::string NotFound(std::string_view charset);
std::string ServerError();
// The web server's own 503 page when its request queue is full (US-ASCII).
std::string ServerTooBusy();
// What every page that needs a signed-in session answers without one.
std::string SignInRequired(std::string_view charset);

std::string SignedIn(std::string_view next);
std::string SignInRefused();

std::string Patients(const Account& account, std::string_view charset);

std::string DoctorPage(const Hospital& hospital, const Department& department, const Doctor& doctor,
                       std::span<const Slot> slots, std::string_view charset);
std::string DoctorNotFound(std::string_view charset);

// The number list of a slot that has free numbers.
std::string NumberList(const Slot& slot, std::span<const int> freeNumberIndexes, int provinceId);
// The one-line status answers of the number list and the registration:
// "code|marker|message", e.g. "-1|未放号|...".
std::string Status(int code, std::string_view marker, std::string_view message);

std::string RegistrationForm(const Slot& slot, int numberIndex, const Patient& patient,
                             const Hospital& hospital, const Doctor& doctor);
// The value the form shows in the hidden other-card field for a patient.
std::string OtherCardOf(const Patient& patient);
// The url that the number entries of a slot carry (sent back with the registration).
std::string RegistrationUrlOf(const Slot& slot);

std::string CityScript(const Catalogue& catalogue);
std::string HospitalScript(const Catalogue& catalogue);
std::string DepartmentList(std::span<const Department> departments);
std::string DoctorList(std::span<const Doctor> doctors);

std::string_view HalfDayText(int timeid);
std::string_view WeekdayText(int weekid);
std::string_view ClinicTypeText(int type);

} // namespace quilora::portal::pages
