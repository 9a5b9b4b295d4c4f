#include "notify/job_sweep.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <unordered_map>
#include <vector>

#include "grams/gram_index.h"
#include "jobs/job_columns.h"
#include "jobs/schema.h"
#include "platform/failure.h"
#include "platform/recordset.h"
#include "platform/transaction.h"
#include "text/unicode.h"

namespace qlok {
namespace {

// The advisory lock key of the daily run on PostgreSQL ("qlok").
constexpr int64_t kRunLockKey = 0x716c6f6b;
// Contents gone from the table are remembered this long after they went,
// so that a job that comes back after a partial reload is not new again.
constexpr int64_t kForgetAfterSeconds = 60 * 24 * 60 * 60;

struct Seen {
  int64_t serial = 0;
  bool gone = false;       // missing from the table since gone_since
  int64_t gone_since = 0;  // seconds
  bool present = false;    // in the table at this sweep
  bool copied = false;     // among the candidates
};

void Drain(Recordset& rows) {
  while (!rows.AtEnd()) rows.MoveNext();
}

class SqlJobSweep : public JobSweep {
 public:
  SqlJobSweep(Connection& work, std::unique_ptr<Connection> reader)
      : work_(work), reader_(std::move(reader)) {}

  ~SqlJobSweep() override {
    if (lock_file_ >= 0) ::close(lock_file_);  // releases the lock
  }

  void Lock(const std::function<void()>& waiting) override {
    if (work_.Engine() == "postgresql") {
      if (!LockQuery(u"SELECT pg_try_advisory_lock($1) AS got")) {
        waiting();
        LockQuery(u"SELECT 1 AS got FROM (SELECT pg_advisory_lock($1)) AS l");
      }
      return;
    }
    std::unique_ptr<Recordset> rows = work_.Query(
        u"SELECT file FROM pragma_database_list WHERE name = 'main'", {}, 1);
    const std::string file =
        rows->AtEnd() ? "" : U8(rows->Field(u"file").ToText());
    Drain(*rows);
    if (file.empty()) return;  // in memory: no other process reaches it
    const std::string path = file + "-notify.lock";
    // Read-only is enough for the lock, so any user who may read the file
    // (the operator's, the timer's) can take it, whoever made it.
    lock_file_ = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (lock_file_ < 0) {
      throw Failure(path + ": cannot be opened: " + std::strerror(errno));
    }
    if (::flock(lock_file_, LOCK_EX | LOCK_NB) == 0) return;
    if (errno != EWOULDBLOCK) {
      throw Failure(path + ": cannot be locked: " + std::strerror(errno));
    }
    waiting();
    while (::flock(lock_file_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        throw Failure(path + ": cannot be locked: " + std::strerror(errno));
      }
    }
  }

  SweepCounts Sweep(int64_t after, const Fingerprinter& fingerprint,
                    const DateTime& now, bool record) override {
    SweepCounts counts;
    std::unordered_map<std::string, Seen> seen = LoadSeen(&counts.high);
    std::vector<std::string> fresh;
    CreateCandidateTable();

    std::vector<std::u16string> columns;
    for (const JobColumn& column : JobColumns()) {
      columns.emplace_back(column.name);
    }
    std::vector<std::u16string> insert_columns = columns;
    insert_columns.push_back(u"qlok_serial");
    insert_columns.push_back(u"qlok_fingerprint");
    insert_columns.push_back(u"qlok_row_key");
    std::unique_ptr<RowWriter> writer =
        work_.PrepareInsert(std::u16string(kJobTable), insert_columns);
    std::vector<Value> values;
    ForEachBatch([&](Recordset& jobs) {
      InTransaction(work_, [&] {
        for (; !jobs.AtEnd(); jobs.MoveNext()) {
          ++counts.jobs;
          const std::string print = fingerprint(jobs);
          auto [entry, added] = seen.try_emplace(print);
          Seen& job = entry->second;
          if (added) {
            job.serial = ++counts.high;
            fresh.push_back(print);
          }
          job.present = true;
          if (job.serial <= after || job.copied) continue;
          job.copied = true;
          values.clear();
          for (const std::u16string& column : columns) {
            values.push_back(jobs.Field(column));
          }
          values.push_back(Value::Integer(job.serial));
          values.push_back(Value::Text(U16(print)));
          values.push_back(jobs.Field(u"qlok_row_key"));
          writer->Insert(values);
        }
      });
    });
    counts.new_jobs = static_cast<int64_t>(fresh.size());
    if (record) Record(seen, fresh, counts.high, now);
    return counts;
  }

  std::unique_ptr<Recordset> Candidates(
      const std::u16string& query_text) override {
    // Jobs of equal rank come in the order of their rows in the job table,
    // as on the search page.
    constexpr std::u16string_view kRankOrder = u" ORDER BY rank DESC";
    std::u16string statement = query_text;
    if (StatementForSource(query_text) != query_text) {
      // The bare table name, which the query builder writes for a search
      // without conditions.
      statement = u"SELECT * FROM " + std::u16string(kJobTable) +
                  std::u16string(kRankOrder);
    }
    const size_t order = statement.rfind(kRankOrder);
    if (order != std::u16string::npos) {
      statement.insert(order + kRankOrder.size(), u", qlok_row_key");
    }
    return work_.Open(statement, 0);
  }

 private:
  // Hands the rows of the job table to `each`, batch by batch. SQLite: by
  // rowid, a few thousand at a time, so that between batches neither
  // connection holds a lock on the database and a registration on the
  // search page never waits for the whole sweep; PostgreSQL, whose readers
  // hold up no writer: one batch, streamed.
  template <typename Each>
  void ForEachBatch(Each&& each) {
    if (reader_->Engine() != "sqlite") {
      std::unique_ptr<Recordset> jobs = reader_->Open(
          u"SELECT *, " + PostgresRowKey() + u" AS qlok_row_key FROM " +
              std::u16string(kJobTable),
          0);
      each(*jobs);
      return;
    }
    const std::u16string table(kJobTable);
    int64_t last = std::numeric_limits<int64_t>::min();
    while (true) {
      std::unique_ptr<Recordset> bound = reader_->Query(
          u"SELECT max(rowid) AS v FROM (SELECT rowid FROM " + table +
              u" WHERE rowid > $1 ORDER BY rowid LIMIT 2000)",
          {Value::Integer(last)}, 1);
      const Value high = bound->Field(u"v");
      bound.reset();
      if (high.IsNull()) return;
      std::unique_ptr<Recordset> jobs = reader_->Query(
          u"SELECT *, rowid AS qlok_row_key FROM " + table +
              u" WHERE rowid > $1 AND rowid <= $2 ORDER BY rowid",
          {Value::Integer(last), high}, 0);
      each(*jobs);
      last = high.AsInteger();
    }
  }

  // PostgreSQL: the column that numbers the job table's rows, which only
  // a table with the word index has; else NULL (ties then in no order).
  std::u16string PostgresRowKey() {
    const std::u16string column(RowKeyColumn("postgresql"));
    std::unique_ptr<Recordset> rows = reader_->Query(
        u"SELECT count(*) AS n FROM pg_attribute WHERE attrelid = "
        u"to_regclass($1) AND attname = $2 AND NOT attisdropped",
        {Value::Text(std::u16string(kJobTable)), Value::Text(column)}, 1);
    return rows->Field(u"n").AsInteger() > 0 ? column : u"NULL::bigint";
  }

  bool LockQuery(const std::u16string& sql) {
    std::unique_ptr<Recordset> rows =
        work_.Query(sql, {Value::Integer(kRunLockKey)}, 1);
    const bool got = rows->Field(u"got").AsInteger() != 0;
    Drain(*rows);
    return got;
  }

  std::unordered_map<std::string, Seen> LoadSeen(int64_t* high) {
    std::unordered_map<std::string, Seen> seen;
    std::unique_ptr<Recordset> rows = work_.Query(
        u"SELECT serial, fingerprint, gone_since FROM seen_jobs", {}, 0);
    for (; !rows->AtEnd(); rows->MoveNext()) {
      Seen job;
      job.serial = rows->Field(u"serial").AsInteger();
      const Value gone_since = rows->Field(u"gone_since");
      if (gone_since.kind() == Value::Kind::kDateTime) {
        job.gone = true;
        job.gone_since = SecondsSinceEpoch(gone_since.AsDateTime());
      }
      *high = std::max(*high, job.serial);
      seen.emplace(U8(rows->Field(u"fingerprint").ToText()), job);
    }
    return seen;
  }

  // A temporary table 求人 of the job table's own schema, plus the serial
  // and the fingerprint: on this connection it stands in for the job
  // table, so the search page's statements run over the candidates alone.
  void CreateCandidateTable() {
    std::u16string schema = JobTableSchema(work_.Engine());
    constexpr std::u16string_view kCreate = u"CREATE TABLE ";
    const size_t at = schema.find(kCreate);
    if (at == std::u16string::npos) {
      throw Failure("the job table schema has no CREATE TABLE");
    }
    schema.replace(at, kCreate.size(), u"CREATE TEMPORARY TABLE ");
    const std::u16string table(kJobTable);
    const std::u16string temporary =
        work_.Engine() == "sqlite" ? u"temp." : u"pg_temp.";
    // The candidates of an earlier sweep on this connection go first.
    work_.Execute(u"DROP TABLE IF EXISTS " + temporary + table);
    if (work_.Engine() == "sqlite") {
      // Every registration's search reads the candidates again: they are
      // kept in the page cache (up to 256 MiB) rather than read anew from
      // the temporary file each time.
      work_.Execute(u"PRAGMA temp.cache_size = -262144");
    }
    work_.Execute(schema);
    // The searches each read most of the candidates: a scan and a sort of
    // the matches costs less than walking them in rank order through the
    // index. (Should the index be named otherwise, it merely stays.)
    work_.Execute(u"DROP INDEX IF EXISTS " + temporary + table + u"_rank");
    work_.Execute(u"ALTER TABLE " + table + u" ADD COLUMN qlok_serial BIGINT");
    work_.Execute(u"ALTER TABLE " + table +
                  u" ADD COLUMN qlok_fingerprint TEXT");
    work_.Execute(u"ALTER TABLE " + table + u" ADD COLUMN qlok_row_key BIGINT");
  }

  // Stores the new serials; marks the contents that left the table since
  // the last sweep as gone and those that came back as present again; and
  // forgets those gone for longer than kForgetAfterSeconds. The content of
  // the highest serial `high` is never forgotten, so that the next serial,
  // which follows the highest one stored, never repeats a number that a
  // registration's mark may already cover.
  void Record(const std::unordered_map<std::string, Seen>& seen,
              const std::vector<std::string>& fresh, int64_t high,
              const DateTime& now) {
    const int64_t forget_before = SecondsSinceEpoch(now) - kForgetAfterSeconds;
    InTransaction(work_, [&] {
      std::unique_ptr<RowWriter> writer = work_.PrepareInsert(
          u"seen_jobs", {u"serial", u"fingerprint", u"first_seen"});
      for (const std::string& print : fresh) {
        writer->Insert({Value::Integer(seen.at(print).serial),
                        Value::Text(U16(print)), Value::DateTimeOf(now)});
      }
      auto change = [&](const std::u16string& sql, std::vector<Value> values) {
        std::unique_ptr<Recordset> rows = work_.Query(sql, values, 0);
        Drain(*rows);
      };
      for (const auto& [print, job] : seen) {
        if (job.present && job.gone) {
          change(
              u"UPDATE seen_jobs SET gone_since = NULL WHERE serial = $1 "
              u"RETURNING serial",
              {Value::Integer(job.serial)});
        } else if (!job.present && !job.gone) {
          change(
              u"UPDATE seen_jobs SET gone_since = $1 WHERE serial = $2 "
              u"RETURNING serial",
              {Value::DateTimeOf(now), Value::Integer(job.serial)});
        } else if (!job.present && job.gone_since < forget_before &&
                   job.serial != high) {
          change(u"DELETE FROM seen_jobs WHERE serial = $1 RETURNING serial",
                 {Value::Integer(job.serial)});
        }
      }
    });
  }

  Connection& work_;
  std::unique_ptr<Connection> reader_;
  int lock_file_ = -1;
};

}  // namespace

std::unique_ptr<JobSweep> NewJobSweep(Connection& work,
                                      std::unique_ptr<Connection> reader) {
  return std::make_unique<SqlJobSweep>(work, std::move(reader));
}

}  // namespace qlok
