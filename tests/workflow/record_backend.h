#pragma once
// A catalogue on each backend the machine offers: a fresh SQLite file, and the
// PostgreSQL server of the ODBC tests when QUILORA_TEST_ODBC names one.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <string>

#include "catalogue/odbc_backend.h"
#include "catalogue/schema.h"
#include "common/database.h"

namespace quilora::test {

class RecordBackend : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override {
        c.SetOnOpened(catalogue::PrepareCatalogue);
        if (GetParam() == "odbc") {
            const std::string odbc = OdbcConnectionString();
            if (odbc.empty())
                GTEST_SKIP() << "QUILORA_TEST_ODBC is not set: no PostgreSQL server for the ODBC tests";
            c.SetConnectionString(odbc, ".");
        } else {
            c.SetConnectionString("Provider=SQLite;Data Source=cat.db", dir.path().toStdString());
        }
        c.Open();
        for (const char* t : catalogue::kLaterTables)
            db::Command(c).Execute(std::string("Delete from ") + t);
    }
    QTemporaryDir dir;
    db::Connection c;
};

} // namespace quilora::test
