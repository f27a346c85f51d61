#include "catalogue/cascade.h"

namespace quilora::catalogue {
namespace {

// Rows in the order the database gives them; the query stays at its end.
template <typename Add> bool FillFrom(db::Query& q, db::ComboSink& list, Add add) {
    for (; !q.Eof(); q.Next())
        add();
    if (list.Count() == 0)
        return false;
    list.Select(0);
    return true;
}

std::string WithId(std::string_view prefix, int id, std::string_view suffix) {
    std::string sql(prefix);
    sql += std::to_string(id);
    sql += suffix;
    return sql;
}

} // namespace

std::string HospitalsSql(int cityId) {
    return WithId("Select * from THospital Where cid = ", cityId, " ");
}

std::string DepartmentsSql(int hospitalId) {
    return WithId("Select * from TClass Where HospitalID = ", hospitalId, " order by ClassName  ");
}

std::string DoctorsSql(int classId) {
    return WithId("Select * from TDoctor Where ClassID = ", classId, " ");
}

std::string DoctorEntryText(std::string_view name, std::string_view title) {
    std::string text;
    text.reserve(name.size() + title.size() + 2);
    text.append(name).append("(").append(title).append(")");
    return text;
}

void FillAreaList(db::Query& provinces, db::Query& cities, db::ComboSink& area) {
    area.Clear();
    db::OpenQuery(provinces, kProvincesSql);
    for (; !provinces.Eof(); provinces.Next()) {
        area.AddInteger(provinces.FieldAsString("CityName"), provinces.FieldAsInteger("FatherID"));
        // The id goes in as an integer, so no row text can end up as SQL.
        db::OpenQuery(cities, WithId(kCitiesOfSql, provinces.FieldAsInteger("CityID"), ""));
        for (; !cities.Eof(); cities.Next())
            area.AddInteger(std::string(kCityIndent) + cities.FieldAsString("CityName"),
                            cities.FieldAsInteger("CityID"));
    }
    area.Select(-1);
}

bool RefillHospitals(db::Query& q, int areaTag, db::ComboSink& hospitals) {
    if (areaTag == 0)
        return false;
    hospitals.Clear();
    db::OpenQuery(q, HospitalsSql(areaTag));
    return FillFrom(q, hospitals, [&] {
        hospitals.AddInteger(q.FieldAsString("HospitalName"), q.FieldAsInteger("HospitalID"));
    });
}

bool RefillDepartments(db::Query& q, int hospitalTag, db::ComboSink& departments) {
    departments.Clear();
    db::OpenQuery(q, DepartmentsSql(hospitalTag));
    return FillFrom(q, departments, [&] {
        departments.AddInteger(q.FieldAsString("ClassName"), q.FieldAsInteger("ClassID"));
    });
}

bool RefillDoctors(db::Query& q, int classTag, db::ComboSink& doctors) {
    doctors.Clear();
    db::OpenQuery(q, DoctorsSql(classTag));
    return FillFrom(q, doctors, [&] {
        doctors.AddInteger(DoctorEntryText(q.FieldAsString("DoctorName"), q.FieldAsString("Title")),
                           q.FieldAsInteger("DoctorID"));
    });
}

} // namespace quilora::catalogue
