#pragma once
#include "common/database.h"

namespace quilora::catalogue {

// Gives a new, empty SQLite catalogue its tables and seed rows; leaves any
// other database (and an SQLite file that has tables) as it is.
void ApplySchemaIfEmpty(db::Connection& c);

// What every opening runs: ApplySchemaIfEmpty, then the tables added since the
// first catalogues (the watch list, the booking record) created where they are
// missing, on SQLite, PostgreSQL and SQL Server alike.
void PrepareCatalogue(db::Connection& c);

// The tables PrepareCatalogue adds to an older catalogue.
inline constexpr const char* kLaterTables[] = {"TWatchSlot", "TBookingRecord"};

// Statements of a schema script, comments dropped, split at ";".
std::vector<std::string> SplitScript(std::string_view script);

// The embedded scripts (db/sqlite.sql, db/postgresql.sql, db/sqlserver.sql).
std::string_view SqliteSchemaScript();
std::string_view PostgresqlSchemaScript();
std::string_view SqlServerSchemaScript();

} // namespace quilora::catalogue
