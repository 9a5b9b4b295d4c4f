// Reaching the job database: the site's account and connection files, the
// connection with its one retry, the recordset of matching jobs and the hit
// count.
#ifndef QLOK_RESULTS_DATA_ACCESS_H_
#define QLOK_RESULTS_DATA_ACCESS_H_

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/database.h"
#include "platform/text_files.h"

namespace qlok {

// Files of the site home.
inline constexpr char kMailAccountsPath[] = "pw/mail.txt";
inline constexpr char kConnectionStringPath[] = "pw/qevo.txt";

// The most sample jobs one page shows.
inline constexpr size_t kSampleJobLimit = 15;

// The authentication texts of the three sender accounts used when the
// registration record is mailed: lines 1 to 3 of the mail account file.
using MailAccounts = std::array<std::u16string, 3>;

// Reads the first three lines of the mail account file. Never fails: a
// missing, unreadable or short file leaves the lines not read empty.
MailAccounts LoadMailAccounts(TextFiles& files);

// Line 3 of the connection-string file, used unchanged. Throws Failure when
// the file is missing, unreadable or has fewer than four lines (lines 1, 2
// and 4 are not used, but the file must have them).
std::u16string LoadConnectionString(TextFiles& files);

// Opens the database; when the first open fails it is tried once more, and
// a failure of that second open is thrown.
std::unique_ptr<Connection> OpenJobDatabase(
    Databases& databases, const std::u16string& connection_string);

// Runs the query once. The recordset holds the first `keep_rows` rows, the
// ones later steps read after the count has rewound it. A query that is the
// bare table name (no condition: the whole table) asks only for those rows
// ("SELECT * FROM name LIMIT keep_rows", the same rows in the same order)
// and lets the engine count the table in the same statement, in column
// kEngineCount of every row: one statement sees one state of the table, so
// the count and the rows agree even while the table is being reloaded, and
// the engine stops after the rows (PostgreSQL would otherwise send the
// whole table).
// `table_count` is the SQL expression that counts the table (the word
// index's count, TableCountExpression); empty: count(*).
std::unique_ptr<Recordset> OpenJobQuery(Connection& connection,
                                        const std::u16string& query_text,
                                        size_t keep_rows,
                                        const std::u16string& table_count = {});

// The column in which the engine counts the whole table.
inline constexpr std::u16string_view kEngineCount = u"qlok_hits";

// The hit count of the rows OpenJobQuery opened for `query_text`: for the
// whole table the engine's count (the recordset stays on its first row),
// else the rows counted by walking the recordset, which then moves back to
// its first row. The recordset must not be at its end.
int64_t CountHits(Recordset& jobs, const std::u16string& query_text);

// "この検索条件で過去約２週間の求人を検索すると…件の求人がヒットしました。";
// exactly 1000 rows (the query's limit) read "1000件以上".
std::u16string HitCountMessage(int64_t hit_count);

// Closes the recordset, then the connection; failures are ignored.
void CloseJobDatabase(std::unique_ptr<Recordset>& jobs,
                      std::unique_ptr<Connection>& connection) noexcept;

}  // namespace qlok

#endif  // QLOK_RESULTS_DATA_ACCESS_H_
