// The columns of the job table 求人: every column the program reads, with
// the kind of value it holds. The schema files, the operator tool and the
// renderers all follow this list.
#ifndef QLOK_JOBS_JOB_COLUMNS_H_
#define QLOK_JOBS_JOB_COLUMNS_H_

#include <span>
#include <string_view>

namespace qlok {

inline constexpr std::u16string_view kJobTable = u"求人";

enum class ColumnKind {
  kText,      // text of any length, may be null
  kInteger,   // whole number
  kFlag,      // whole number, 1 means yes
  kCode,      // whole number with listed values
  kDateTime,  // date and time of day (working hours on 2000/01/01)
  kDate,      // calendar date, only shown
};

struct JobColumn {
  std::u16string_view name;
  ColumnKind kind;
};

// All columns, in the order the renderers show them (障専 last).
std::span<const JobColumn> JobColumns();

}  // namespace qlok

#endif  // QLOK_JOBS_JOB_COLUMNS_H_
