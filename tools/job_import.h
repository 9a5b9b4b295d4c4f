// Loading jobs from CSV into the job table.
//
// The first record of the CSV names the columns: any subset of the job
// columns, in any order (a name differing from a column only in ASCII
// letter case, such as "RANK", stands for that column). Every later record
// is one job. Field texts, by the kind of the column:
//   every kind   the empty field is null, but for rank, which is 0 (a job
//                without a rank comes after every ranked job);
//   text         as it stands; its line breaks (LF, CR LF or a lone CR)
//                are stored as CR LF, the break the pages and mails expect;
//   whole number, flag, code
//                ASCII digits with an optional sign, blanks around ignored,
//                within the 32-bit range that both database engines store;
//   date-time    a time of day "8:30" or "8:30:15" (on 2000/01/01), or a
//                full "2000/01/02 6:00:00" or ISO "2000-01-02T06:00:00";
//                the working-hour columns lie on 2000/01/01 or, for an end
//                past midnight, 2000/01/02, and no other day is accepted;
//   date         "2026/12/20" or ISO "2026-12-20".
#ifndef QLOK_TOOLS_JOB_IMPORT_H_
#define QLOK_TOOLS_JOB_IMPORT_H_

#include <cstddef>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

#include "jobs/job_columns.h"
#include "platform/database.h"
#include "platform/value.h"
#include "tools/csv.h"

namespace qlok {

// The value of one CSV field for a column of `kind`. Throws Failure whose
// message is the reason alone, for example "not a date: 2026/13/01".
Value ParseJobField(ColumnKind kind, std::string_view field);

// The CSV text of a value, which ParseJobField reads back as the same value
// for the column kinds that hold it: null and the empty text give the empty
// field (read back as null), a date-time its general form ("2000/01/01
// 8:30:00", the date alone at midnight), a date "2026/12/20". Texts are
// written as they stand. Throws Failure for a double, which no job column
// holds.
std::string JobFieldText(const Value& value);

// Reads jobs from CSV, one row of values per record.
class JobCsvReader {
 public:
  // Reads the header from `in` (which must outlive the reader); `name`
  // begins every error message. Throws Failure "NAME:LINE: why" for an
  // input without a header, an unknown, empty or repeated column name, or
  // what CsvReader rejects.
  JobCsvReader(std::istream& in, std::string name);

  // The columns the header names, in its order, with their table names.
  const std::vector<std::u16string>& columns() const { return columns_; }

  // The next job into `row`, one value per column. Returns false at the
  // end. Throws Failure "NAME:LINE: column C: why" for a field its column
  // cannot hold and "NAME:LINE: why" for a record with the wrong number of
  // fields or what CsvReader rejects.
  bool Next(std::vector<Value>& row);

  // "NAME:LINE" of the last record Next read, for messages about it.
  std::string Where() const;

 private:
  CsvReader csv_;
  std::string name_;
  std::vector<std::u16string> columns_;
  std::vector<ColumnKind> kinds_;
  CsvRecord record_;
};

// Loads every job of the CSV in `in` into the job table of `db` in one
// transaction: with `replace` the table's rows are deleted first, in the
// same transaction. Returns the number of jobs loaded. On any failure (a
// bad field, a row the database refuses) the transaction is rolled back,
// the table keeps the rows it had, and Failure is thrown with the place of
// the fault ("jobs.csv:14: column 募集締切日: not a date: 2026/13/01").
size_t ImportJobs(Connection& db, std::istream& in, const std::string& name,
                  bool replace);

}  // namespace qlok

#endif  // QLOK_TOOLS_JOB_IMPORT_H_
