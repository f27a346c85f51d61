#pragma once
// A catalogue to crawl into: a fresh SQLite file, or the PostgreSQL test
// server over ODBC (its four catalogue tables emptied first).
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <memory>
#include <string>
#include <vector>

#include "catalogue/schema.h"
#include "common/database.h"
#include "odbc_backend.h"
#include "portal/catalogue.h"

namespace quilora::test {

using Rows = std::vector<std::vector<std::string>>;

// Every row of a query, each column read as text.
inline Rows ReadRows(db::Connection& c, const std::string& sql, const std::vector<std::string>& columns) {
    db::Query q(c);
    db::OpenQuery(q, sql);
    Rows rows;
    for (; !q.Eof(); q.Next()) {
        std::vector<std::string> row;
        for (const auto& column : columns)
            row.push_back(q.FieldAsString(column));
        rows.push_back(std::move(row));
    }
    return rows;
}

inline Rows CityRows(db::Connection& c) {
    return ReadRows(c, "Select * from TCity order by CityID",
                    {"CityID", "FatherID", "CityName", "LevelIndex"});
}
inline Rows HospitalRows(db::Connection& c) {
    return ReadRows(c, "Select * from THospital order by HospitalID",
                    {"HospitalID", "pid", "cid", "HospitalName"});
}
inline Rows ClassRows(db::Connection& c) {
    return ReadRows(c, "Select * from TClass order by ClassID", {"ClassID", "HospitalID", "ClassName"});
}
inline Rows DoctorRows(db::Connection& c) {
    return ReadRows(c, "Select * from TDoctor order by DoctorID",
                    {"DoctorID", "ClassID", "DoctorName", "Title"});
}

inline std::string LowerAscii(std::string s) {
    for (char& ch : s)
        if (ch >= 'A' && ch <= 'Z')
            ch = static_cast<char>(ch - 'A' + 'a');
    return s;
}

// The four tables as a crawl of this catalogue should leave them.
struct ExpectedTables {
    Rows cities, hospitals, classes, doctors;
};

inline ExpectedTables Expected(const portal::Catalogue& cat) {
    using std::to_string;
    ExpectedTables e;
    for (const auto& p : cat.Provinces())
        e.cities.push_back({to_string(p.id), "0", LowerAscii(p.name), "0"});
    for (const auto& c : cat.Cities())
        e.cities.push_back({to_string(c.id), to_string(c.provinceId), LowerAscii(c.name), "1"});
    std::sort(e.cities.begin(), e.cities.end(),
              [](const auto& a, const auto& b) { return std::stoi(a[0]) < std::stoi(b[0]); });
    for (const auto& h : cat.Hospitals())
        e.hospitals.push_back(
            {to_string(h.id), to_string(h.provinceId), to_string(h.cityId), LowerAscii(h.name)});
    for (const auto& d : cat.Departments())
        e.classes.push_back({to_string(d.id), to_string(d.hospitalId), LowerAscii(d.name)});
    for (const auto& d : cat.Doctors())
        e.doctors.push_back(
            {to_string(d.id), to_string(d.departmentId), LowerAscii(d.name), LowerAscii(d.title)});
    return e;
}

class CatalogueDatabase {
public:
    // backend: "sqlite" or "odbc"; false when the ODBC server is not configured.
    bool Open(const std::string& backend) {
        if (backend == "odbc") {
            const std::string odbc = OdbcConnectionString();
            if (odbc.empty())
                return false;
            connection.SetConnectionString(odbc, ".");
        } else {
            connection.SetConnectionString("Provider=SQLite;Data Source=catalogue.db",
                                           dir_.path().toStdString());
            connection.SetOnOpened(&catalogue::PrepareCatalogue);
        }
        connection.Open();
        db::Command cmd(connection);
        for (const char* table : {"TCity", "THospital", "TClass", "TDoctor"})
            cmd.Execute(std::string("Delete from ") + table);
        return true;
    }
    std::string Folder() const { return dir_.path().toStdString(); }

    db::Connection connection{QStringLiteral("crawl-test")};
    db::Query query{connection};
    db::Command command{connection};

private:
    QTemporaryDir dir_;
};

} // namespace quilora::test
