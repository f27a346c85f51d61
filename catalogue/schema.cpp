#include "schema.h"

#include <QStringList>

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

} // namespace quilora::catalogue
