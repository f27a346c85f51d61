#include "schema.h"

#include <QSqlDriver>
#include <QStringList>

#include "common/errors.h"

namespace quilora::catalogue {

std::vector<std::string> SplitScript(std::string_view script) {
    std::vector<std::string> out;
    std::string current;
    std::size_t i = 0;
    while (i < script.size()) {
        auto eol = script.find('\n', i);
        if (eol == std::string_view::npos)
            eol = script.size();
        std::string_view line = script.substr(i, eol - i);
        i = eol + 1;
        const auto first = line.find_first_not_of(" \t\r");
        if (first == std::string_view::npos || line.substr(first, 2) == "--")
            continue;
        current.append(line).push_back('\n');
        const auto last = line.find_last_not_of(" \t\r");
        if (line[last] == ';') {
            current.erase(current.find_last_of(';'));
            out.push_back(std::move(current));
            current.clear();
        }
    }
    if (current.find_first_not_of(" \t\r\n") != std::string::npos)
        out.push_back(std::move(current));
    for (auto& s : out)
        s.erase(s.find_last_not_of(" \t\r\n") + 1);
    return out;
}

void ApplySchemaIfEmpty(db::Connection& c) {
    if (!c.IsSqlite() || !c.Handle().tables().isEmpty())
        return;
    db::Transaction tx(c);
    db::Command cmd(c);
    for (const auto& statement : SplitScript(SqliteSchemaScript()))
        cmd.Execute(statement);
    tx.Commit();
}

namespace {

bool Mentions(const std::string& statement, const char* table) {
    return QString::fromStdString(statement).contains(QLatin1String(table), Qt::CaseInsensitive);
}

// The script of the database behind the connection; none for a server we have no script for.
std::string_view ScriptFor(const db::Connection& c) {
    if (c.IsSqlite())
        return SqliteSchemaScript();
    switch (c.Handle().driver()->dbmsType()) {
    case QSqlDriver::PostgreSQL:
        return PostgresqlSchemaScript();
    case QSqlDriver::MSSqlServer:
        return SqlServerSchemaScript();
    default:
        return {};
    }
}

} // namespace

void PrepareCatalogue(db::Connection& c) {
    ApplySchemaIfEmpty(c);
    QStringList present = c.Handle().tables();
    for (QString& t : present)
        t = t.toLower();
    std::vector<const char*> missing;
    for (const char* table : kLaterTables)
        if (!present.contains(QString::fromLatin1(table).toLower()))
            missing.push_back(table);
    if (missing.empty())
        return;
    const std::string_view script = ScriptFor(c);
    if (script.empty())
        throw DatabaseError("数据库缺少表 " + std::string(missing.front()) + "，请用 db/ 中的脚本创建");
    db::Transaction tx(c);
    db::Command cmd(c);
    for (const auto& statement : SplitScript(script))
        for (const char* table : missing)
            if (Mentions(statement, table)) {
                cmd.Execute(statement);
                break;
            }
    tx.Commit();
}

} // namespace quilora::catalogue
