#pragma once
// An SQLite catalogue filled by the crawler from a running demo portal, as a
// user's first run leaves it.
#include <string>

#include "portal/demo_portal.h"

namespace quilora::test {

// Crawls everything from source into dir/file (created with the schema).
void CrawlIntoSqlite(const portal::DemoPortal& source, const std::string& dir, const std::string& file);

} // namespace quilora::test
