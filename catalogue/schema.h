#pragma once
#include "common/database.h"

namespace quilora::catalogue {

// Gives a new, empty SQLite catalogue its tables and seed rows; leaves any
// other database (and an SQLite file that has tables) as it is.
void ApplySchemaIfEmpty(db::Connection& c);

// Statements of a schema script, comments dropped, split at ";".
std::vector<std::string> SplitScript(std::string_view script);

// The embedded SQLite script (db/sqlite.sql).
std::string_view SqliteSchemaScript();

} // namespace quilora::catalogue
