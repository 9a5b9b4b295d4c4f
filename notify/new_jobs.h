// The jobs a registration has not had yet, out of the candidates of a
// daily run (notify/job_sweep.h).
#ifndef QLOK_NOTIFY_NEW_JOBS_H_
#define QLOK_NOTIFY_NEW_JOBS_H_

#include <cstdint>
#include <string>
#include <unordered_set>
#include <vector>

#include "platform/database.h"

namespace qlok {

// The rows of `rows` (which must outlive it, and carry qlok_serial and
// qlok_fingerprint) whose serial lies above `mark` and whose fingerprint
// is none of `sent`, in their order; the others are passed over. So the
// mail renderer walks only the jobs new to one registration.
class NewJobsOnly : public Recordset {
 public:
  NewJobsOnly(Recordset& rows, int64_t mark,
              const std::vector<std::string>& sent);

  bool AtEnd() const override { return rows_.AtEnd(); }
  // Throws Failure: the rows are read once.
  void MoveFirst() override;
  void MoveNext() override;
  Value Field(std::u16string_view column) const override {
    return rows_.Field(column);
  }

 private:
  void PassOver();

  Recordset& rows_;
  int64_t mark_;
  std::unordered_set<std::u16string> sent_;
};

}  // namespace qlok

#endif  // QLOK_NOTIFY_NEW_JOBS_H_
