// The statements the query builder makes, run on a real SQLite database:
// visitor words that still hold quotes after the sanitiser stay inside
// their literals, and every kind of condition is accepted by the engine.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "jobs/schema.h"
#include "platform/database.h"
#include "search/query_builder.h"
#include "search/search_request.h"
#include "text/unicode.h"

namespace qlok {
namespace {

class QueryEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    db_ = OpenConnection(u"sqlite::memory:", "/tmp");
    db_->Execute(JobTableSchema(db_->Engine()));
    auto writer = db_->PrepareInsert(
        u"求人", {u"社名", u"職種1", u"就労場所1", u"事業内容", u"始時",
                  u"終時", u"rank", u"障専"});
    struct Job {
      const char16_t* company;
      const char16_t* job_type;
      const char16_t* place;
      const char16_t* business;
    } jobs[] = {
        {u"quote", u"xa'bx", u"東京都港区", u"a'b"},
        {u"plain", u"ab", u"東京都港区", u"ab"},
        {u"percent", u"x%y", u"大阪府", u"x%y"},
    };
    for (const Job& job : jobs) {
      writer->Insert({Value::Text(job.company), Value::Text(job.job_type),
                      Value::Text(job.place), Value::Text(job.business),
                      Value::DateTimeOf({2000, 1, 1, 9, 0, 0}),
                      Value::DateTimeOf({2000, 1, 1, 17, 0, 0}),
                      Value::Integer(1), Value::Integer(0)});
    }
  }

  // The companies the statement built from `body` selects.
  std::vector<std::u16string> Companies(const char* body) {
    std::u16string posted = U16(body);
    std::u16string query = BuildQuery(ReadSearchRequest(posted));
    auto rows = db_->Open(query, Connection::kKeepAll);
    std::vector<std::u16string> companies;
    for (; !rows->AtEnd(); rows->MoveNext()) {
      companies.push_back(rows->Field(u"社名").ToText());
    }
    return companies;
  }

  std::unique_ptr<Connection> db_;
};

std::string Body(const std::string& fields) {
  return "_su=is1&aaa=&aa6=1&aa8=100&" + fields + "&zzz=end";
}

// On PostgreSQL, like ignores letter case only on citext columns: every
// column a statement compares with like must be one, and none of them may
// be compared with "=" (which citext would make ignore case too).
TEST(QueryColumnsTest, ColumnsComparedWithLikeIgnoreCaseOnPostgresql) {
  std::u16string posted = U16(Body(
      "aab=35&aac=事務　経理　a　b　c&aad=看護　介護　保育&aae=土日&aaf=830&"
      "aag=1730&aah=東京　大阪　c　d　e&aai=0&aga=1&ara=1&asa=1"));
  const std::string query = U8(BuildQuery(ReadSearchRequest(posted)));
  const std::string schema = U8(JobTableSchema("postgresql"));
  std::set<std::string> compared;
  for (size_t at = query.find(" like '"); at != std::string::npos;
       at = query.find(" like '", at + 1)) {
    size_t begin = query.rfind(' ', at - 1) + 1;
    while (query[begin] == '(') ++begin;
    compared.insert(query.substr(begin, at - begin));
  }
  EXPECT_EQ(compared.size(), 14u) << query;
  for (const std::string& column : compared) {
    EXPECT_NE(schema.find("\n  " + column + " CITEXT COLLATE \"C\",\n"),
              std::string::npos)
        << column;
    EXPECT_EQ(query.find(column + "="), std::string::npos) << column;
    EXPECT_EQ(query.find(column + " ="), std::string::npos) << column;
  }
}

TEST_F(QueryEngineTest, QuotedWordsStayInsideTheirLiterals) {
  struct Case {
    std::string fields;
    std::vector<std::u16string> companies;
  } cases[] = {
      {"aab=&aac=a'b&aad=&aae=&aaf=&aag=&aah=&aai=0&asa=2", {u"quote"}},
      {"aab=&aac=&aad=a'b&aae=&aaf=&aag=&aah=&aai=0&asa=2", {u"quote"}},
      {"aab=&aac=&aad=&aae=&aaf=&aag=&aah='　港区&aai=0&asa=2",
       {u"quote", u"plain"}},
      {"aab=&aac=')--&aad=&aae=&aaf=&aag=&aah=&aai=0&asa=2", {}},
      {"aab=&aac=x%y&aad=&aae=&aaf=&aag=&aah=&aai=0&asa=2", {u"percent"}},
      // A time with a quote in it is no time: no time condition at all.
      {"aab=&aac=&aad=&aae=&aaf=8'3&aag=1800&aah=&aai=0&asa=0",
       {u"quote", u"plain", u"percent"}},
      {"aab=&aac=&aad=&aae=&aaf=01'5&aag=1800&aah=&aai=0&asa=0",
       {u"quote", u"plain", u"percent"}},
      {"aab=&aac=&aad=&aae=&aaf=0800&aag=18'0&aah=&aai=0&asa=0",
       {u"quote", u"plain", u"percent"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Companies(Body(c.fields).c_str()), c.companies) << c.fields;
  }
}

TEST_F(QueryEngineTest, EveryConditionKindRuns) {
  const char* bodies[] = {
      "aab=35&aac=事務　経理&aad=看護　介護　保育&aae=土日祝月火水木金&aaf=830&"
      "aag=1730&aah=東京　大阪&aai=0&aga=1&agb=1&agc=1&age=1&agea=1&agf=1&"
      "ara=1&arb=1&arc=1&ard=1&ari=1&arj=1&ark=1&asa=1",
      "aab=&aac=&aad=&aae=&aaf=2200&aag=0500&aah=&aai=0&asa=0",
      "aab=&aac=&aad=&aae=&aaf=&aag=&aah=&aai=0&asa=2",
  };
  for (const char* fields : bodies) {
    EXPECT_NO_THROW(Companies(Body(fields).c_str())) << fields;
  }
}

TEST_F(QueryEngineTest, HostileWordLengthsStayWithinTheEngineLimits) {
  // A word of 60,000 characters would make a pattern the engine refuses;
  // cut as the field is read, it still runs and finds nothing.
  std::string huge;
  for (int i = 0; i < 60000; ++i) huge += "字";
  const std::string fields[] = {
      "aab=&aac=" + huge + "&aad=&aae=&aaf=&aag=&aah=&aai=0&asa=2",
      "aab=&aac=&aad=" + huge + "&aae=&aaf=&aag=&aah=&aai=0&asa=2",
      "aab=&aac=&aad=&aae=&aaf=&aag=&aah=" + huge + "&aai=0&asa=2",
      "aab=&aac=" + huge + "&aad=" + huge + "&aae=" + huge + "&aaf=" + huge +
          "&aag=" + huge + "&aah=" + huge + "&aai=0&asa=" + huge,
  };
  for (const std::string& f : fields) {
    std::vector<std::u16string> companies;
    EXPECT_NO_THROW(companies = Companies(Body(f).c_str())) << f.size();
    EXPECT_TRUE(companies.empty());
  }
}

}  // namespace
}  // namespace qlok
