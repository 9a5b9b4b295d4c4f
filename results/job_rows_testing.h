// Job rows held in memory behind the Recordset interface, for the tests of
// the page and mail renderers.
#ifndef QLOK_RESULTS_JOB_ROWS_TESTING_H_
#define QLOK_RESULTS_JOB_ROWS_TESTING_H_

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "jobs/job_columns.h"
#include "platform/database.h"
#include "platform/failure.h"
#include "platform/value.h"
#include "text/unicode.h"

namespace qlok::testing_jobs {

using JobRow = std::map<std::u16string, Value, std::less<>>;

inline Value T(std::u16string text) { return Value::Text(std::move(text)); }
inline Value N(int64_t n) { return Value::Integer(n); }
inline Value Time(int hour, int minute) {
  return Value::DateTimeOf(DateTime{2000, 1, 1, hour, minute, 0});
}

// Every column of the job table, null.
inline JobRow NullJobRow() {
  JobRow row;
  for (const JobColumn& column : JobColumns()) row[std::u16string(column.name)];
  return row;
}

// A job whose optional items are all silent: a company, one job type, every
// number at its "none" value, rank 50.
inline JobRow QuietJobRow() {
  JobRow row = NullJobRow();
  for (const JobColumn& column : JobColumns()) {
    if (column.kind == ColumnKind::kFlag || column.kind == ColumnKind::kCode) {
      row[std::u16string(column.name)] = N(0);
    }
  }
  row[u"社名"] = T(u"株式会社見本");
  row[u"職種1"] = T(u"事務");
  for (auto column : {u"従業員数", u"下固給", u"上固給", u"ナス下", u"ナス上",
                      u"残時", u"定年", u"業界経験年", u"職種経験年"}) {
    row[column] = N(-1);
  }
  for (auto column :
       {u"不問数", u"通勤数", u"住込数", u"年休", u"週低", u"週高", u"齢下"}) {
    row[column] = N(0);
  }
  for (auto column : {u"単", u"世", u"保育園", u"カー通勤"})
    row[column] = N(-2);
  row[u"定年"] = N(0);
  row[u"齢上"] = N(99);
  row[u"rank"] = N(50);
  return row;
}

// The rows in order; Field throws for a column a row lacks, as the database
// does.
class JobRows : public Recordset {
 public:
  explicit JobRows(std::vector<JobRow> rows) : rows_(std::move(rows)) {}
  bool AtEnd() const override { return at_ >= rows_.size(); }
  void MoveFirst() override { at_ = 0; }
  void MoveNext() override {
    if (AtEnd()) throw Failure("past the end");
    ++at_;
  }
  Value Field(std::u16string_view column) const override {
    if (AtEnd()) throw Failure("no current row");
    auto field = rows_[at_].find(column);
    if (field == rows_[at_].end()) throw Failure("no column " + U8(column));
    return field->second;
  }
  size_t position() const { return at_; }

 private:
  std::vector<JobRow> rows_;
  size_t at_ = 0;
};

}  // namespace qlok::testing_jobs

#endif  // QLOK_RESULTS_JOB_ROWS_TESTING_H_
