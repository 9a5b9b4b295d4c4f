#include "jobs/job_fingerprint.h"

#include "jobs/job_columns.h"
#include "platform/failure.h"
#include "text/sha256.h"
#include "text/unicode.h"

namespace qlok {

std::string JobFingerprint(const Recordset& job) {
  if (job.AtEnd()) throw Failure("no job to fingerprint: at the end");
  Sha256 hash;
  for (const JobColumn& column : JobColumns()) {
    const std::u16string_view name = column.name;
    if (name == u"rank" || name == u"rankmemo") continue;
    const Value value = job.Field(name);
    // Name, kind and text, each ended by a byte no UTF-8 text holds.
    hash.Update(U8(name));
    hash.Update("\xff");
    hash.Update(std::string(
        1, static_cast<char>('0' + static_cast<int>(value.kind()))));
    hash.Update(U8(value.ToText()));
    hash.Update("\xfe");
  }
  const auto digest = hash.Finish();
  return HexDigits(digest.data(), 16);
}

}  // namespace qlok
