#include "catalogue/crawler.h"

#include <charconv>
#include <cstdint>
#include <utility>

#include "common/errors.h"
#include "scan/patterns.h"
#include "scan/tregexpr.h"

namespace quilora::catalogue {
namespace {

constexpr std::string_view kCityInsert =
    "Insert into TCity (CityID, FatherID, CityName, LevelIndex) values(?, ?, ?, ?)";
constexpr std::string_view kHospitalInsert =
    "Insert into THospital (HospitalID, pid, cid, hospitalName) values(?, ?, ?, ?)";
constexpr std::string_view kDepartmentInsert =
    "Insert into TClass (ClassID, HospitalID, ClassName) values(?, ?, ?)";

long long Id(const TRegExpr& re, int group) {
    return DigitsValue(re.CaptureView(group));
}

// An error page is not a catalogue page: a status of 400 or above is tried
// again like a failed request, and ends the crawl when it never comes right.
std::string FetchCatalogPage(HttpClient& http, const PortalAddress& address) {
    return ReadPage(http, address, FetchMode::Interactive, AnswerRule::NoErrorStatus).text;
}

} // namespace

std::string_view CrawlName(CrawlKind kind) {
    switch (kind) {
    case CrawlKind::Cities:
        return "cities";
    case CrawlKind::Hospitals:
        return "hospitals";
    case CrawlKind::Departments:
        return "departments";
    case CrawlKind::Doctors:
        return "doctors";
    }
    return "";
}

long long DigitsValue(std::string_view digits) {
    // The catalogue's identifiers are 32-bit: a wider one would be stored by a
    // lenient database and then break every list that reads it back.
    std::int32_t value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size())
        throw QuiloraError("门户返回的编号无效: " + std::string(digits));
    return value;
}

std::string DoctorInsertSql(std::size_t rows) {
    std::string sql = "Insert into TDoctor (DoctorID, ClassID, DoctorName,Title) values";
    for (std::size_t i = 0; i < rows; ++i)
        sql += i == 0 ? "(?, ?, ?,?)" : ", (?, ?, ?,?)";
    return sql;
}

Crawler::Crawler(HttpClient& http, const PortalHosts& hosts, db::Connection& connection, db::Query& query,
                 db::Command& command)
    : http_(http), hosts_(hosts), connection_(connection), query_(query), command_(command) {}

void Crawler::Execute(std::string_view sql, const std::vector<db::SqlValue>& binds, CrawlResult& result) {
    const auto start = std::chrono::steady_clock::now();
    command_.Execute(sql, binds);
    result.storing += std::chrono::steady_clock::now() - start;
}

void Crawler::Started(CrawlKind kind, std::size_t pages) const {
    if (progress_)
        progress_->Started(kind, pages);
}

void Crawler::Advanced(CrawlKind kind, std::size_t done, std::size_t total, std::size_t rows) const {
    if (progress_)
        progress_->Advanced(kind, done, total, rows);
}

CrawlResult Crawler::Cities() {
    Started(CrawlKind::Cities, 1);
    std::string page = FetchCatalogPage(http_, CityScriptAddress(hosts_));
    CrawlResult result{1, 0, {}};
    db::Transaction tx(connection_);
    Execute("Delete from TCity", {}, result);
    const std::size_t provinces =
        ForEachMatch(pattern::kProvinceOrEmpty, std::move(page), [&](const TRegExpr& province) {
            const long long provinceId = Id(province, 2);
            Execute(kCityInsert, {provinceId, 0LL, province.Capture(1), 0LL}, result);
            ++result.rows;
            ForEachMatch(pattern::kCity, province.CaptureView(3), [&](const TRegExpr& city) {
                Execute(kCityInsert, {Id(city, 2), provinceId, city.Capture(1), 1LL}, result);
                ++result.rows;
            });
        });
    // A script without a single province is some other page, not an empty country.
    if (provinces == 0)
        throw QuiloraError("门户的城市列表中没有任何省份，城市表保持不变。");
    tx.Commit();
    Advanced(CrawlKind::Cities, 1, 1, result.rows);
    return result;
}

CrawlResult Crawler::Hospitals() {
    Started(CrawlKind::Hospitals, 1);
    std::string page = FetchCatalogPage(http_, HospitalScriptAddress(hosts_));
    CrawlResult result{1, 0, {}};
    db::Transaction tx(connection_);
    Execute("Delete from THospital", {}, result);
    const std::size_t cities =
        ForEachMatch(pattern::kCityHospitalsOrEmpty, std::move(page), [&](const TRegExpr& city) {
            const long long provinceId = Id(city, 1);
            const long long cityId = Id(city, 2);
            ForEachMatch(pattern::kHospital, city.CaptureView(3), [&](const TRegExpr& hospital) {
                Execute(kHospitalInsert, {Id(hospital, 1), provinceId, cityId, hospital.Capture(2)}, result);
                ++result.rows;
            });
        });
    if (cities == 0)
        throw QuiloraError("门户的医院列表中没有任何城市，医院表保持不变。");
    tx.Commit();
    Advanced(CrawlKind::Hospitals, 1, 1, result.rows);
    return result;
}

CrawlResult Crawler::Departments() {
    CrawlResult result;
    db::Transaction tx(connection_);
    Execute("Delete from TClass", {}, result);
    db::OpenQuery(query_, "Select * from THospital");
    const std::size_t total = query_.RecordCount();
    Started(CrawlKind::Departments, total);
    for (; !query_.Eof(); query_.Next()) {
        const int hospitalId = query_.FieldAsInteger("HospitalID");
        std::string page = FetchCatalogPage(http_, DepartmentsAddress(hosts_, hospitalId));
        ++result.pages;
        ForEachMatch(pattern::kDepartment, std::move(page), [&](const TRegExpr& dept) {
            Execute(kDepartmentInsert, {Id(dept, 1), static_cast<long long>(hospitalId), dept.Capture(2)},
                    result);
            ++result.rows;
        });
        Advanced(CrawlKind::Departments, result.pages, total, result.rows);
    }
    tx.Commit();
    return result;
}

CrawlResult Crawler::Doctors() {
    CrawlResult result;
    db::Transaction tx(connection_);
    Execute("Delete from TDoctor", {}, result);
    db::OpenQuery(query_, "Select * from TClass");
    const std::size_t total = query_.RecordCount();
    Started(CrawlKind::Doctors, total);

    // The batch carries over from one department to the next.
    const std::string fullBatchSql = DoctorInsertSql(kDoctorBatch);
    std::vector<db::SqlValue> batch;
    batch.reserve(kDoctorBatch * 4);
    std::size_t batchRows = 0;
    const auto flush = [&] {
        Execute(batchRows == kDoctorBatch ? fullBatchSql : DoctorInsertSql(batchRows), batch, result);
        result.rows += batchRows;
        const std::size_t sent = batchRows;
        batch.clear();
        batchRows = 0;
        if (batchObserver_)
            batchObserver_(sent);
    };

    for (; !query_.Eof(); query_.Next()) {
        const int classId = query_.FieldAsInteger("ClassID");
        std::string page = FetchCatalogPage(http_, DoctorsAddress(hosts_, classId));
        ++result.pages;
        ForEachMatch(pattern::kDoctorOrNoTitle, std::move(page), [&](const TRegExpr& doctor) {
            batch.emplace_back(Id(doctor, 1));
            batch.emplace_back(static_cast<long long>(classId));
            batch.emplace_back(doctor.Capture(2));
            batch.emplace_back(doctor.Capture(3));
            if (++batchRows == kDoctorBatch)
                flush();
        });
        Advanced(CrawlKind::Doctors, result.pages, total, result.rows + batchRows);
    }
    if (batchRows > 0)
        flush();
    tx.Commit();
    return result;
}

CrawlResult Crawler::Run(CrawlKind kind) {
    switch (kind) {
    case CrawlKind::Cities:
        return Cities();
    case CrawlKind::Hospitals:
        return Hospitals();
    case CrawlKind::Departments:
        return Departments();
    case CrawlKind::Doctors:
        return Doctors();
    }
    throw std::logic_error("unknown crawl");
}

} // namespace quilora::catalogue
