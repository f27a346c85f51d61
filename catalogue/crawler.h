#pragma once
// The catalogue crawler: rebuilds TCity, THospital, TClass and TDoctor from the
// portal's city and hospital scripts and its department and doctor pages. The
// maintenance page and quilora-admin run the same code.
//
// Each crawl replaces its table in one transaction: when a request gives up or
// a statement fails, the error propagates and the table keeps its old rows.
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/database.h"
#include "net/fetcher.h"
#include "net/portal_address.h"

namespace quilora::catalogue {

enum class CrawlKind { Cities, Hospitals, Departments, Doctors };
// A full rebuild, in the order the later crawls need: their work lists come from the earlier tables.
inline constexpr CrawlKind kAllCrawls[] = {CrawlKind::Cities, CrawlKind::Hospitals, CrawlKind::Departments,
                                           CrawlKind::Doctors};

// "cities", "hospitals", "departments", "doctors".
std::string_view CrawlName(CrawlKind kind);

// What a running crawl reports, on the crawling thread, between two requests.
class CrawlProgress {
public:
    virtual ~CrawlProgress() = default;
    // The work list is known: the number of pages the crawl will read.
    virtual void Started(CrawlKind kind, std::size_t pages) = 0;
    // Page `done` of `total` is read; `rows` collected so far.
    virtual void Advanced(CrawlKind kind, std::size_t done, std::size_t total, std::size_t rows) = 0;
};

struct CrawlResult {
    std::size_t pages = 0;              // pages fetched
    std::size_t rows = 0;               // rows written
    std::chrono::nanoseconds storing{}; // spent running the deletes and inserts
};

class Crawler {
public:
    // Doctors go to the database this many rows per statement; the last batch may be shorter.
    static constexpr std::size_t kDoctorBatch = 21;

    // query walks THospital / TClass; command runs the deletes and inserts.
    Crawler(HttpClient& http, const PortalHosts& hosts, db::Connection& connection, db::Query& query,
            db::Command& command);

    void SetProgress(CrawlProgress* progress) { progress_ = progress; }
    // Called after each doctor statement has run, with its number of rows.
    void SetDoctorBatchObserver(std::function<void(std::size_t rows)> observer) {
        batchObserver_ = std::move(observer);
    }

    CrawlResult Cities();
    CrawlResult Hospitals();
    CrawlResult Departments(); // one page per THospital row
    CrawlResult Doctors();     // one page per TClass row
    CrawlResult Run(CrawlKind kind);

private:
    void Execute(std::string_view sql, const std::vector<db::SqlValue>& binds, CrawlResult& result);
    void Started(CrawlKind kind, std::size_t pages) const;
    void Advanced(CrawlKind kind, std::size_t done, std::size_t total, std::size_t rows) const;

    HttpClient& http_;
    PortalHosts hosts_;
    db::Connection& connection_;
    db::Query& query_;
    db::Command& command_;
    CrawlProgress* progress_ = nullptr;
    std::function<void(std::size_t)> batchObserver_;
};

// The value of an identifier captured as digits; QuiloraError when it does not
// fit the catalogue's 32-bit integer columns.
long long DigitsValue(std::string_view digits);

// The multi-row doctor insert for `rows` rows, four bound values each.
std::string DoctorInsertSql(std::size_t rows);

} // namespace quilora::catalogue
