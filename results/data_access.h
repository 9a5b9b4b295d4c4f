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
// ones later steps read after the count has rewound it. When the whole
// table was counted already (`whole_table`, from CountWholeTable), only
// those rows are asked for ("SELECT * FROM name LIMIT keep_rows", the same
// rows in the same order), so that the engine stops after them: PostgreSQL
// would otherwise send the whole table, and what the request does not read
// be cancelled at the end.
std::unique_ptr<Recordset> OpenJobQuery(
    Connection& connection, const std::u16string& query_text, size_t keep_rows,
    std::optional<int64_t> whole_table = std::nullopt);

// For a query that is the bare table name (no condition: the whole table),
// the number of rows in the table, counted by the engine with one
// "SELECT count(*)" instead of stepping through every row; nullopt for a
// statement, whose rows CountHits walks. Run it before OpenJobQuery: a
// PostgreSQL connection serves one statement at a time.
std::optional<int64_t> CountWholeTable(Connection& connection,
                                       const std::u16string& query_text);

// The hit count: `whole_table` when CountWholeTable gave it (the recordset
// stays on its first row), else the rows counted by walking the recordset,
// which then moves back to its first row. The recordset must not be at its
// end.
int64_t CountHits(Recordset& jobs,
                  std::optional<int64_t> whole_table = std::nullopt);

// "この検索条件で過去約２週間の求人を検索すると…件の求人がヒットしました。";
// exactly 1000 rows (the query's limit) read "1000件以上".
std::u16string HitCountMessage(int64_t hit_count);

// Closes the recordset, then the connection; failures are ignored.
void CloseJobDatabase(std::unique_ptr<Recordset>& jobs,
                      std::unique_ptr<Connection>& connection) noexcept;

}  // namespace qlok

#endif  // QLOK_RESULTS_DATA_ACCESS_H_
