#pragma once
// The selection cascade of the booking page, without widgets: the statements
// that fill the area, hospital, department and doctor lists and the loops that
// walk them into a db::ComboSink. The window decides when each runs.
#include <string>
#include <string_view>

#include "common/database.h"

namespace quilora::catalogue {

inline constexpr std::string_view kProvincesSql = "Select * From TCity Where FatherID = 0";
// Followed by the province's CityID.
inline constexpr std::string_view kCitiesOfSql = "Select * From TCity Where FatherID = ";
// A city is written after two blanks, so that it reads as part of its province.
inline constexpr std::string_view kCityIndent = "  ";

std::string HospitalsSql(int cityId); // "Select * from THospital Where cid = %d "
std::string
DepartmentsSql(int hospitalId);      // "Select * from TClass Where HospitalID = %d order by ClassName  "
std::string DoctorsSql(int classId); // "Select * from TDoctor Where ClassID = %d "
std::string DoctorEntryText(std::string_view name, std::string_view title); // "%s(%s)"

// Every province (tag 0) followed by its cities (tag CityID); selects nothing.
// provinces stays on the province walk while cities is opened for each of them.
void FillAreaList(db::Query& provinces, db::Query& cities, db::ComboSink& area);

// The refills behind the change handlers. Each empties its list, runs one
// query, and selects the first entry when there is one; the result says
// whether the next list down should be refilled from that selection.
// A province (tag 0) leaves the hospital list alone and gives false.
bool RefillHospitals(db::Query& q, int areaTag, db::ComboSink& hospitals);
bool RefillDepartments(db::Query& q, int hospitalTag, db::ComboSink& departments);
bool RefillDoctors(db::Query& q, int classTag, db::ComboSink& doctors);

} // namespace quilora::catalogue
