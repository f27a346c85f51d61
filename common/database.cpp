#include "database.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>
#include <algorithm>
#include <atomic>
#include <climits>
#include <utility>

#include "errors.h"
#include "gbk.h"
#include "normalise.h"
#include "platform.h"

namespace quilora::db {

namespace {

struct Field {
    std::string key; // lower case
    std::string value;
};

std::string Trim(std::string_view s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos)
        return {};
    const auto e = s.find_last_not_of(" \t");
    return std::string(s.substr(b, e - b + 1));
}

// "Key=Value;Key=Value", values optionally in braces or quotes.
std::vector<Field> ParseFields(std::string_view s) {
    std::vector<Field> out;
    std::size_t i = 0;
    while (i < s.size()) {
        const auto eq = s.find('=', i);
        if (eq == std::string_view::npos)
            break;
        Field f;
        f.key = LowerAscii(Trim(s.substr(i, eq - i)));
        std::size_t j = eq + 1;
        while (j < s.size() && s[j] == ' ')
            ++j;
        if (j < s.size() && (s[j] == '{' || s[j] == '"' || s[j] == '\'')) {
            const char close = s[j] == '{' ? '}' : s[j];
            const auto end = s.find(close, j + 1);
            f.value = std::string(s.substr(j + 1, (end == std::string_view::npos ? s.size() : end) - j - 1));
            j = end == std::string_view::npos ? s.size() : end + 1;
            const auto semi = s.find(';', j);
            i = semi == std::string_view::npos ? s.size() : semi + 1;
        } else {
            const auto semi = s.find(';', j);
            f.value = Trim(s.substr(j, (semi == std::string_view::npos ? s.size() : semi) - j));
            i = semi == std::string_view::npos ? s.size() : semi + 1;
        }
        if (!f.key.empty())
            out.push_back(std::move(f));
    }
    return out;
}

std::string FieldValue(const std::vector<Field>& fields, std::string_view key) {
    for (const auto& f : fields)
        if (f.key == key)
            return f.value;
    return {};
}

// An ODBC attribute value in braces; a closing brace inside is doubled.
std::string OdbcBraced(std::string_view value) {
    std::string out = "{";
    for (const char c : value) {
        out += c;
        if (c == '}')
            out += '}';
    }
    out += '}';
    return out;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

QString ToQ(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QVariant ToVariant(const SqlValue& v) {
    if (const auto* i = std::get_if<long long>(&v))
        return QVariant(static_cast<qlonglong>(*i));
    if (const auto* s = std::get_if<std::string>(&v))
        return QVariant(ToQ(*s));
    return QVariant();
}

QString NextConnectionName(const QString& base) {
    static std::atomic<int> counter{0};
    return base + QLatin1Char('-') + QString::number(++counter);
}

[[noreturn]] void Fail(const QSqlError& e) {
    QString text = e.text().trimmed();
    if (text.isEmpty())
        text = QStringLiteral("数据库错误");
    throw DatabaseError(text.toStdString());
}

QSqlQuery Run(Connection& c, std::string_view sql, const std::vector<SqlValue>& binds) {
    c.EnsureOpen();
    QSqlQuery q(c.Handle());
    q.setForwardOnly(true);
    if (binds.empty()) {
        if (!q.exec(ToQ(sql)))
            Fail(q.lastError());
        return q;
    }
    if (!q.prepare(ToQ(sql)))
        Fail(q.lastError());
    for (const auto& b : binds)
        q.addBindValue(ToVariant(b));
    if (!q.exec())
        Fail(q.lastError());
    return q;
}

} // namespace

std::string SqlServerDriver(const std::vector<std::string>& installed) {
    for (const char* preferred : {kSqlServerDriver18, kSqlServerDriver17})
        if (std::find(installed.begin(), installed.end(), preferred) != installed.end())
            return preferred;
    // The one every Windows has.
    return "SQL Server";
}

ConnectionSpec TranslateConnectionString(std::string_view ado, const std::filesystem::path& baseDir) {
    const auto fields = ParseFields(ado);
    const std::string provider = LowerAscii(FieldValue(fields, "provider"));
    ConnectionSpec target;
    if (provider == "sqlite") {
        std::filesystem::path file = platform::PathFromUtf8(FieldValue(fields, "data source"));
        if (file.empty())
            throw DatabaseError("连接字符串缺少 Data Source");
        if (file.is_relative())
            file = baseDir / file;
        target.driver = QStringLiteral("QSQLITE");
#ifdef _WIN32
        target.databaseName = QString::fromStdWString(file.wstring()); // not through the ANSI code page
#else
        target.databaseName = QString::fromStdString(file.string());
#endif
        return target;
    }
    if (StartsWith(provider, "sqloledb") || StartsWith(provider, "sqlncli") ||
        StartsWith(provider, "msoledbsql")) {
        std::string source = FieldValue(fields, "data source");
        std::string server = source, port;
        if (const auto comma = source.find(','); comma != std::string::npos) {
            server = Trim(source.substr(0, comma));
            port = Trim(source.substr(comma + 1));
        }
#ifdef _WIN32
        const std::string driver = SqlServerDriver(platform::OdbcDriverNames());
        std::string odbc = "Driver={" + driver + "};Server=" + source + ";";
        // Driver 18 encrypts by default and refuses a server without a trusted
        // certificate; the OLE DB providers this string was written for did not.
        if (driver == kSqlServerDriver18)
            odbc += "Encrypt=no;";
#else
        // FreeTDS understands host\instance and a separate port.
        std::string odbc = "Driver={FreeTDS};Server=" + server + ";";
        if (!port.empty())
            odbc += "Port=" + port + ";";
        odbc += "TDS_Version=7.3;ClientCharset=UTF-8;";
#endif
        if (const auto cat = FieldValue(fields, "initial catalog"); !cat.empty())
            odbc += "Database=" + cat + ";";
        if (const auto uid = FieldValue(fields, "user id"); !uid.empty())
            odbc += "UID=" + uid + ";";
        if (const auto pwd = FieldValue(fields, "password"); !pwd.empty())
            odbc += "PWD=" + OdbcBraced(pwd) + ";";
        target.driver = QStringLiteral("QODBC");
        target.databaseName = QString::fromStdString(odbc);
        return target;
    }
    if (!FieldValue(fields, "driver").empty() || !FieldValue(fields, "dsn").empty()) {
        target.driver = QStringLiteral("QODBC");
        target.databaseName = ToQ(ado);
        return target;
    }
    throw DatabaseError("无法识别的数据库连接字符串");
}

Connection::Connection(QString name) : name_(NextConnectionName(name)) {}

Connection::~Connection() {
    Close();
    if (QSqlDatabase::contains(name_))
        QSqlDatabase::removeDatabase(name_);
}

void Connection::SetConnectionString(std::string ado, const std::string& baseDirUtf8) {
    SetConnectionString(std::move(ado), platform::PathFromUtf8(baseDirUtf8));
}

void Connection::SetConnectionString(std::string ado, std::filesystem::path baseDir) {
    Close();
    ado_ = std::move(ado);
    baseDir_ = std::move(baseDir);
}

void Connection::Open() {
    Close();
    spec_ = TranslateConnectionString(ado_, baseDir_);
    if (QSqlDatabase::contains(name_))
        QSqlDatabase::removeDatabase(name_);
    QSqlDatabase db = QSqlDatabase::addDatabase(spec_.driver, name_);
    if (!db.isValid())
        throw DatabaseError(("数据库驱动不可用: " + spec_.driver).toStdString());
    db.setDatabaseName(spec_.databaseName);
    if (spec_.isSqlite())
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
    if (!db.open()) {
        const QSqlError e = db.lastError();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(name_);
        Fail(e);
    }
    if (spec_.isSqlite()) {
        // A crawl replaces a table in one long transaction; in WAL mode readers
        // (the window, while quilora-admin crawls) go on seeing the previous
        // catalogue instead of waiting for it and failing with "database is
        // locked". A file that cannot switch (read-only) keeps its mode.
        QSqlQuery wal(db);
        wal.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
    }
    if (!onOpened_)
        return;
    try {
        onOpened_(*this);
    } catch (...) {
        // Half prepared is not open: the next use opens and prepares again.
        Close();
        throw;
    }
}

void Connection::EnsureOpen() {
    if (!IsOpen())
        Open();
}

bool Connection::IsOpen() const {
    return QSqlDatabase::contains(name_) && QSqlDatabase::database(name_, false).isOpen();
}

void Connection::Close() {
    if (QSqlDatabase::contains(name_)) {
        QSqlDatabase db = QSqlDatabase::database(name_, false);
        db.close();
    }
}

QSqlDatabase Connection::Handle() const {
    return QSqlDatabase::database(name_, false);
}

Transaction::Transaction(Connection& c) : c_(c) {
    c_.EnsureOpen();
    QSqlDatabase db = c_.Handle();
    if (!db.transaction())
        Fail(db.lastError());
}

Transaction::~Transaction() {
    if (!done_)
        c_.Handle().rollback();
}

void Transaction::Commit() {
    QSqlDatabase db = c_.Handle();
    if (!db.commit())
        Fail(db.lastError());
    done_ = true;
}

void Query::Open(std::string_view sql, const std::vector<SqlValue>& binds) {
    Close();
    QSqlQuery q = Run(c_, sql, binds);
    const QSqlRecord rec = q.record();
    for (int i = 0; i < rec.count(); ++i)
        columns_.push_back(rec.fieldName(i).toLower());
    while (q.next()) {
        std::vector<QVariant> row;
        row.reserve(columns_.size());
        for (int i = 0; i < rec.count(); ++i)
            row.push_back(q.value(i));
        rows_.push_back(std::move(row));
    }
    if (q.lastError().isValid())
        Fail(q.lastError());
}

void Query::Close() {
    columns_.clear();
    rows_.clear();
    row_ = 0;
}

int Query::ColumnIndex(std::string_view column) const {
    const QString want = ToQ(column).toLower();
    for (std::size_t i = 0; i < columns_.size(); ++i)
        if (columns_[i] == want)
            return static_cast<int>(i);
    throw DatabaseError("字段不存在: " + std::string(column));
}

int Query::FieldAsInteger(std::string_view column) const {
    const int i = ColumnIndex(column);
    if (Eof())
        throw DatabaseError("查询已到末尾");
    const QVariant& v = rows_[row_][static_cast<std::size_t>(i)];
    if (v.isNull())
        return 0;
    bool ok = false;
    const qlonglong n = v.toLongLong(&ok);
    if (!ok || n < INT_MIN || n > INT_MAX)
        throw DatabaseError("'" + v.toString().toStdString() + "' is not a valid integer value");
    return static_cast<int>(n);
}

std::string Query::FieldAsString(std::string_view column) const {
    const int i = ColumnIndex(column);
    if (Eof())
        throw DatabaseError("查询已到末尾");
    const QVariant& v = rows_[row_][static_cast<std::size_t>(i)];
    return v.isNull() ? std::string() : v.toString().toStdString();
}

void OpenQuery(Query& q, std::string_view sql, const std::vector<SqlValue>& binds) {
    q.Open(sql, binds);
}

void Command::Execute(std::string_view sql, const std::vector<SqlValue>& binds) {
    Run(c_, sql, binds);
}

namespace {

template <typename AddFn>
void Fill(Query& q, std::string_view nameColumn, std::string_view idColumn, ComboSink& list, AddFn add) {
    Q_ASSERT(!nameColumn.empty() && !idColumn.empty());
    list.Clear();
    const std::size_t mark = q.Bookmark();
    for (q.First(); !q.Eof(); q.Next())
        add(q.FieldAsString(nameColumn));
    q.GotoBookmark(mark);
    if (list.Count() > 0)
        list.Select(0);
}

} // namespace

void FillCombo(Query& q, std::string_view nameColumn, std::string_view idColumn, ComboSink& list) {
    Fill(q, nameColumn, idColumn, list,
         [&](const std::string& name) { list.AddInteger(name, q.FieldAsInteger(idColumn)); });
}

void FillComboText(Query& q, std::string_view nameColumn, std::string_view idColumn, ComboSink& list) {
    Fill(q, nameColumn, idColumn, list,
         [&](const std::string& name) { list.AddText(name, TruncateGbk(q.FieldAsString(idColumn), 50)); });
}

} // namespace quilora::db
