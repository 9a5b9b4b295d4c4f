// Synthetic job offers for demos, tests and load measurements.
//
// The jobs look like the site's real ones: Japanese companies with head
// offices and places of work across the 47 prefectures, job types and
// duties by industry, pay bounds, shifts on the reference day 2000/01/01
// (some ending past midnight on 2000/01/02), holiday codes, insurance and
// housing values, public-service job numbers, long texts with CR LF breaks
// and null columns. Every value keeps to the kinds and sentinels the
// renderers know (holiday codes -1, 0, 1, 2, 3, 5; pay -1 for no bound;
// ranks 0 to 130; and so on).
//
// Everything is computed with the small generator below from the seed, the
// job's index and the day the jobs are generated, in integer arithmetic, so
// the same seed and index give the same job on every machine and library
// version, and the first N jobs of a longer run are the jobs of a run of N.
// The dates of a job (application deadline, planned hiring date) lie around
// that day, so the jobs stay current whenever they are made; on another
// day the same seed gives the same jobs, their dates moved with the day.
#ifndef QLOK_TOOLS_JOB_GENERATOR_H_
#define QLOK_TOOLS_JOB_GENERATOR_H_

#include <cstdint>
#include <vector>

#include "platform/value.h"
#include "text/date_time.h"

namespace qlok {

inline constexpr uint64_t kDefaultGeneratorSeed = 20260401;

// A fixed day of generation, for the fuzz targets and the tests, whose
// jobs must not change with the calendar.
inline constexpr DateTime kGeneratorReferenceDay{2026, 4, 1};

// The application deadlines lie from this many days before the day of
// generation to kDeadlineDaysAfter after it: most are still open.
inline constexpr int kDeadlineDaysBefore = 30;
inline constexpr int kDeadlineDaysAfter = 150;
// The planned hiring dates lie from the day itself to this many days after.
inline constexpr int kHiringDaysAfter = 180;

// The splitmix64 generator: 64-bit state, fixed output on every platform.
class SplitMix64 {
 public:
  explicit SplitMix64(uint64_t seed) : state_(seed) {}
  uint64_t Next();
  // A number from 0 to n - 1; n must be above 0.
  uint64_t Below(uint64_t n) { return Next() % n; }
  // A number from `low` to `high`, both included; low <= high.
  int64_t Between(int64_t low, int64_t high);
  // True in `percent` of a hundred cases.
  bool Percent(int percent) { return Below(100) < uint64_t(percent); }

 private:
  uint64_t state_;
};

// Job number `index` of the run with `seed`, generated on `day` (its time
// of day is not used): one value per column of JobColumns(), in that order.
// Never fails.
std::vector<Value> GenerateJob(uint64_t seed, uint64_t index,
                               const DateTime& day);

}  // namespace qlok

#endif  // QLOK_TOOLS_JOB_GENERATOR_H_
