// What the daily run of the job-match mail needs of the database beside
// the registration store: a lock that keeps two runs apart, the serials of
// the job contents seen so far (table seen_jobs), and the jobs that are
// new to some registration, searchable by the very statements the search
// page runs.
#ifndef QLOK_NOTIFY_JOB_SWEEP_H_
#define QLOK_NOTIFY_JOB_SWEEP_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/database.h"
#include "text/date_time.h"

namespace qlok {

// What a sweep found.
struct SweepCounts {
  int64_t high = 0;      // the highest serial after the sweep
  int64_t jobs = 0;      // rows of the job table
  int64_t new_jobs = 0;  // contents seen for the first time
};

// Fingerprints the current row of a recordset over the job table.
using Fingerprinter = std::function<std::string(const Recordset&)>;

class JobSweep {
 public:
  virtual ~JobSweep() = default;

  // Waits until no other daily run of the same database holds the lock,
  // then holds it until this object is destroyed (or the process ends).
  // PostgreSQL: a session advisory lock; SQLite: an exclusive lock on the
  // file beside the database named as it with "-notify.lock" added (a
  // database in memory needs none). `waiting` is called once, before the
  // wait, when another run holds it. Throws Failure.
  virtual void Lock(const std::function<void()>& waiting) = 0;

  // Reads every job of the table 求人 once and fingerprints it. A content
  // not seen before gets the next serial, first seen at `now`. The jobs
  // whose serial lies above `after` become the candidates that
  // Candidates() searches (a content the table holds twice, once). With
  // `record`, the new serials are stored before this returns, and contents
  // gone from the table and first seen more than 60 days before `now` are
  // forgotten; without, nothing is written. Call once. Throws Failure.
  virtual SweepCounts Sweep(int64_t after, const Fingerprinter& fingerprint,
                            const DateTime& now, bool record) = 0;

  // Runs `query_text`, a statement over 求人 as the query builder writes
  // it, or the bare table name (then in rank order, highest first), over
  // the candidates alone; jobs of equal rank in the order of their rows in
  // the job table, as on the search page (PostgreSQL: once the word index
  // has numbered the rows). Its rows have every job column and besides
  // qlok_serial, qlok_fingerprint and qlok_row_key. Throws Failure.
  virtual std::unique_ptr<Recordset> Candidates(
      const std::u16string& query_text) = 0;
};

// The sweep of the database of `work`, which carries the candidates (as a
// temporary table that stands in for 求人 on this connection alone) and
// the lock; `reader`, a second connection to the same database, reads the
// job table. Both must stay open while the sweep is used.
std::unique_ptr<JobSweep> NewJobSweep(Connection& work,
                                      std::unique_ptr<Connection> reader);

}  // namespace qlok

#endif  // QLOK_NOTIFY_JOB_SWEEP_H_
