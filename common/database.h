#pragma once
// The catalogue connection (ADOC), its queries (qryTmp, qryLoc) and its command
// object (cmd) over Qt SQL. The connection string keeps its ADO form:
//   "Provider=SQLite;Data Source=FILE"        an SQLite file (relative to baseDir)
//   "Provider=SQLOLEDB...;User ID=..;..."      SQL Server through ODBC (FreeTDS on Linux)
//   "Driver=...;..." or "DSN=...;..."           handed to ODBC as it stands
#include <QSqlDatabase>
#include <QVariant>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quilora::db {

struct ConnectionSpec {
    QString driver;       // "QSQLITE" or "QODBC"
    QString databaseName; // file path, or the ODBC connection string
    bool isSqlite() const { return driver == QLatin1String("QSQLITE"); }
};

// The SQL Server driver a connection on Windows uses: the newest of Microsoft's
// ODBC drivers installed, else the "SQL Server" driver every Windows has.
inline constexpr const char* kSqlServerDriver18 = "ODBC Driver 18 for SQL Server";
inline constexpr const char* kSqlServerDriver17 = "ODBC Driver 17 for SQL Server";
std::string SqlServerDriver(const std::vector<std::string>& installed);

// Pure translation of an ADO-style connection string; throws DatabaseError
// for a string it cannot use.
ConnectionSpec TranslateConnectionString(std::string_view ado, const std::filesystem::path& baseDir);

// A value bound to a statement: NULL, an integer or a UTF-8 text.
using SqlValue = std::variant<std::monostate, long long, std::string>;

class Connection {
public:
    explicit Connection(QString name = QStringLiteral("ADOC"));
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Relative SQLite files are taken from baseDir. A folder given as text is
    // UTF-8, as Qt and Config.ini give it (not the ANSI code page of Windows).
    void SetConnectionString(std::string ado, std::filesystem::path baseDir);
    void SetConnectionString(std::string ado, const std::string& baseDirUtf8);
    void SetConnectionString(std::string ado, const char* baseDirUtf8) {
        SetConnectionString(std::move(ado), std::string(baseDirUtf8));
    }
    const std::string& ConnectionString() const { return ado_; }
    // Runs after every successful open (e.g. to give a new SQLite file its schema).
    void SetOnOpened(std::function<void(Connection&)> fn) { onOpened_ = std::move(fn); }

    void Open();       // throws DatabaseError with the driver's text
    void EnsureOpen(); // reopens a connection that is not open
    bool IsOpen() const;
    void Close();
    QSqlDatabase Handle() const;
    bool IsSqlite() const { return spec_.isSqlite(); }

private:
    QString name_;
    std::string ado_;
    std::filesystem::path baseDir_;
    ConnectionSpec spec_;
    std::function<void(Connection&)> onOpened_;
};

// Commits on Commit(); rolls back when destroyed before.
class Transaction {
public:
    explicit Transaction(Connection& c);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    void Commit();

private:
    Connection& c_;
    bool done_ = false;
};

// A query object: the whole result is read into memory, so it can be walked
// row by row, bookmarked and returned to its first row. Column names are
// matched without regard to case; NULL reads as 0 or empty text.
class Query {
public:
    explicit Query(Connection& c) : c_(c) {}
    void Open(std::string_view sql, const std::vector<SqlValue>& binds = {});
    void Close();
    bool Eof() const { return row_ >= rows_.size(); }
    void Next() { ++row_; }
    void First() { row_ = 0; }
    std::size_t Bookmark() const { return row_; }
    void GotoBookmark(std::size_t b) { row_ = b; }
    std::size_t RecordCount() const { return rows_.size(); }
    int FieldAsInteger(std::string_view column) const;
    std::string FieldAsString(std::string_view column) const;

private:
    int ColumnIndex(std::string_view column) const;
    Connection& c_;
    std::vector<QString> columns_;
    std::vector<std::vector<QVariant>> rows_;
    std::size_t row_ = 0;
};

// OpenQuery: close, replace the statement, open; stands on the first row.
void OpenQuery(Query& q, std::string_view sql, const std::vector<SqlValue>& binds = {});

// The command object: runs one statement that changes data, values bound.
class Command {
public:
    explicit Command(Connection& c) : c_(c) {}
    void Execute(std::string_view sql, const std::vector<SqlValue>& binds = {});

private:
    Connection& c_;
};

// The list a query fills; the window adapts its drop-downs to this.
class ComboSink {
public:
    virtual ~ComboSink() = default;
    virtual void Clear() = 0;
    virtual void AddInteger(const std::string& text, int tag) = 0;
    virtual void AddText(const std::string& text, const std::string& id) = 0; // TStringObject entry
    virtual int Count() const = 0;
    virtual void Select(int index) = 0; // from code: runs no change handler
};

// Fill a list from every row of an opened query, keep the query's row, select the first entry.
void FillCombo(Query& q, std::string_view nameColumn, std::string_view idColumn, ComboSink& list);
// The same with identifier texts cut to 50 GBK bytes at a character boundary.
void FillComboText(Query& q, std::string_view nameColumn, std::string_view idColumn, ComboSink& list);

} // namespace quilora::db
