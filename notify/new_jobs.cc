#include "notify/new_jobs.h"

#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {

NewJobsOnly::NewJobsOnly(Recordset& rows, int64_t mark,
                         const std::vector<std::string>& sent)
    : rows_(rows), mark_(mark) {
  for (const std::string& print : sent) sent_.insert(U16(print));
  PassOver();
}

void NewJobsOnly::MoveFirst() {
  throw Failure("the new jobs of a registration are read once");
}

void NewJobsOnly::MoveNext() {
  rows_.MoveNext();
  PassOver();
}

void NewJobsOnly::PassOver() {
  while (!rows_.AtEnd()) {
    const bool is_new =
        rows_.Field(u"qlok_serial").AsInteger() > mark_ &&
        (sent_.empty() ||
         sent_.count(rows_.Field(u"qlok_fingerprint").ToText()) == 0);
    if (is_new) return;
    rows_.MoveNext();
  }
}

}  // namespace qlok
