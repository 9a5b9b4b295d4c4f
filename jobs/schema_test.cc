#include "jobs/schema.h"

#include <gtest/gtest.h>

#include <sstream>

#include "jobs/job_columns.h"
#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {
namespace {

struct Definition {
  std::string name;
  std::string type;  // the rest of the line, without its comma
};

// The column definitions of "CREATE TABLE 求人 (...)": one per line.
std::vector<Definition> TableColumns(const std::string& schema) {
  std::vector<Definition> columns;
  size_t start = schema.find("CREATE TABLE 求人 (");
  EXPECT_NE(start, std::string::npos);
  if (start == std::string::npos) return columns;
  size_t end = schema.find("\n);", start);
  std::istringstream lines(schema.substr(start, end - start));
  std::string line;
  std::getline(lines, line);  // the CREATE TABLE line
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == ',') line.pop_back();
    size_t name_start = line.find_first_not_of(' ');
    if (name_start == std::string::npos) continue;
    size_t blank = line.find(' ', name_start);
    columns.push_back(
        {line.substr(name_start, blank - name_start), line.substr(blank + 1)});
  }
  return columns;
}

std::string ExpectedType(const JobColumn& column, const std::string& engine) {
  if (column.name == u"rank") return "INTEGER NOT NULL DEFAULT 0";
  switch (column.kind) {
    case ColumnKind::kText:
      return "TEXT";
    case ColumnKind::kInteger:
    case ColumnKind::kFlag:
    case ColumnKind::kCode:
      return "INTEGER";
    case ColumnKind::kDateTime:
      return engine == "sqlite" ? "TIMESTAMP COLLATE qlok_time" : "TIMESTAMP";
    case ColumnKind::kDate:
      return "DATE";
  }
  return "?";
}

class SchemaFileTest : public testing::TestWithParam<std::string> {};

TEST_P(SchemaFileTest, NamesExactlyTheJobColumnsWithTheirKinds) {
  std::vector<Definition> columns =
      TableColumns(U8(JobTableSchema(GetParam())));
  std::span<const JobColumn> expected = JobColumns();
  ASSERT_EQ(columns.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(columns[i].name, U8(expected[i].name)) << "column " << i + 1;
    std::string type = columns[i].type;
    // The texts searched with like ignore letter case on PostgreSQL (which
    // ones is checked against the query builder's statements).
    if (GetParam() == "postgresql" && type == "CITEXT COLLATE \"C\"") {
      type = "TEXT";
    }
    EXPECT_EQ(type, ExpectedType(expected[i], GetParam()))
        << U8(expected[i].name);
  }
}

TEST_P(SchemaFileTest, IndexesRankForTheBestFirstOrder) {
  EXPECT_NE(U8(JobTableSchema(GetParam())).find("ON 求人 (rank DESC);"),
            std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Engines, SchemaFileTest,
                         testing::Values("sqlite", "postgresql"));

TEST(SchemaTest, OtherEnginesHaveNoSchema) {
  EXPECT_THROW(JobTableSchema("access"), Failure);
  EXPECT_THROW(JobTableSchema(""), Failure);
}

}  // namespace
}  // namespace qlok
