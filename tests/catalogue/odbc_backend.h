#pragma once
// The PostgreSQL server of the ODBC tests, named by QUILORA_TEST_ODBC. In CI
// (CI set) a missing server is a failure, elsewhere the tests are skipped.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

namespace quilora::test {

inline std::string OdbcConnectionString() {
    const char* s = std::getenv("QUILORA_TEST_ODBC");
    if (s && *s)
        return s;
    const char* ci = std::getenv("CI");
    if (ci && *ci)
        ADD_FAILURE()
            << "CI runs need the PostgreSQL server of scripts/pg-test-server.sh (QUILORA_TEST_ODBC)";
    return {};
}

} // namespace quilora::test
