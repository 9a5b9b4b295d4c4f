// For tests: the same cases on both engines, SQLite in memory and the
// throw-away PostgreSQL server of the ctest fixture "postgres"
// (platform/testing/postgres_server.sh). A PostgreSQL case works in a
// schema of its own, made anew for it and dropped after it, so that test
// programs may run side by side on the one test database; it is skipped
// when no server runs. Instances are named "sqlite" and "postgresql", which
// is what the build's test filters go by ("*/postgresql").
#ifndef QLOK_PLATFORM_TESTING_BOTH_ENGINES_H_
#define QLOK_PLATFORM_TESTING_BOTH_ENGINES_H_

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string>

#include "platform/database.h"
#include "platform/failure.h"
#include "platform/testing/postgres_uri.h"
#include "text/unicode.h"

namespace qlok {

class BothEnginesTest : public testing::TestWithParam<std::string> {
 protected:
  // A fixture that needs more calls this first and returns when
  // IsSkipped().
  void SetUp() override {
    if (GetParam() == "sqlite") {
      db_ = OpenConnection(u"sqlite::memory:", "/nonexistent");
      return;
    }
    std::optional<std::string> uri = PostgresTestUri();
    if (!uri) GTEST_SKIP() << "no PostgreSQL test server: URI file absent";
    db_ = OpenConnection(U16(*uri), "/nonexistent");
    schema_ = "qlok_case_" + std::to_string(getpid());
    Exec("DROP SCHEMA IF EXISTS " + schema_ + " CASCADE; CREATE SCHEMA " +
         schema_ + "; SET search_path TO " + schema_ + ", public");
  }

  void TearDown() override {
    if (db_ != nullptr && !schema_.empty()) {
      IgnoringFailure([&] { Exec("DROP SCHEMA " + schema_ + " CASCADE"); });
    }
  }

  void Exec(const std::string& sql) { db_->Execute(U16(sql)); }

  std::unique_ptr<Connection> db_;
  std::string schema_;  // PostgreSQL: the case's schema
};

}  // namespace qlok

// Runs the cases of `fixture` (a BothEnginesTest) on both engines.
#define QLOK_ON_BOTH_ENGINES(fixture)                               \
  INSTANTIATE_TEST_SUITE_P(Engines, fixture,                        \
                           testing::Values("sqlite", "postgresql"), \
                           [](const auto& info) { return info.param; })

#endif  // QLOK_PLATFORM_TESTING_BOTH_ENGINES_H_
