#include "results/data_access.h"

#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {

MailAccounts LoadMailAccounts(TextFiles& files) {
  MailAccounts accounts;
  IgnoringFailure([&] {
    std::vector<std::u16string> lines = files.ReadLines(kMailAccountsPath, 3);
    for (size_t i = 0; i < lines.size() && i < accounts.size(); ++i) {
      accounts[i] = lines[i];
    }
  });
  return accounts;
}

std::u16string LoadConnectionString(TextFiles& files) {
  std::vector<std::u16string> lines = files.ReadLines(kConnectionStringPath, 4);
  if (lines.size() < 4) {
    throw Failure(std::string(kConnectionStringPath) + " has " +
                  std::to_string(lines.size()) +
                  " lines; it needs four, the third being the connection "
                  "string");
  }
  return lines[2];
}

std::unique_ptr<Connection> OpenJobDatabase(
    Databases& databases, const std::u16string& connection_string) {
  try {
    return databases.Open(connection_string);
  } catch (const std::exception&) {
    // One more try: a database server that is busy or restarting often
    // answers the second call.
  }
  return databases.Open(connection_string);
}

std::unique_ptr<Recordset> OpenJobQuery(Connection& connection,
                                        const std::u16string& query_text,
                                        size_t keep_rows,
                                        const std::u16string& table_count) {
  if (const std::optional<std::u16string> table = BareTableName(query_text)) {
    const std::u16string count = table_count.empty()
                                     ? u"(SELECT count(*) FROM " + *table + u")"
                                     : table_count;
    return connection.Open(u"SELECT *, " + count + u" AS " +
                               std::u16string(kEngineCount) + u" FROM " +
                               *table + u" LIMIT " +
                               Digits(static_cast<int64_t>(keep_rows)),
                           keep_rows);
  }
  return connection.Open(query_text, keep_rows);
}

int64_t CountHits(Recordset& jobs, const std::u16string& query_text) {
  if (BareTableName(query_text)) {
    return jobs.Field(kEngineCount).AsInteger();
  }
  int64_t count = 0;
  jobs.MoveFirst();
  while (!jobs.AtEnd()) {
    ++count;
    jobs.MoveNext();
  }
  jobs.MoveFirst();
  return count;
}

std::u16string HitCountMessage(int64_t hit_count) {
  if (hit_count == 1000) {
    return u"この検索条件で過去約２週間の求人を検索すると1000件以上の求人がヒッ"
           u"トしました。";
  }
  return u"この検索条件で過去約２週間の求人を検索すると" + Digits(hit_count) +
         u"件の求人がヒットしました。";
}

void CloseJobDatabase(std::unique_ptr<Recordset>& jobs,
                      std::unique_ptr<Connection>& connection) noexcept {
  IgnoringFailure([&] { jobs.reset(); });
  IgnoringFailure([&] { connection.reset(); });
}

}  // namespace qlok
