// The fingerprint of a job's content, by which the daily mail knows a job
// it has seen, also when the job table is reloaded with the same jobs.
#ifndef QLOK_JOBS_JOB_FINGERPRINT_H_
#define QLOK_JOBS_JOB_FINGERPRINT_H_

#include <string>

#include "platform/database.h"

namespace qlok {

// 32 lower-case hexadecimal digits: the first 128 bits of the SHA-256 of
// every job column of the current row (name, kind and text form of each
// value) but rank and rankmemo, the site's own scoring, which may be
// recomputed without making a job new. Throws Failure when the recordset
// is at its end or lacks a job column.
std::string JobFingerprint(const Recordset& job);

}  // namespace qlok

#endif  // QLOK_JOBS_JOB_FINGERPRINT_H_
