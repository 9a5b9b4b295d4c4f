#include "fuzz/fake_services.h"

#include <stdlib.h>

#include <filesystem>

#include "jobs/job_columns.h"
#include "platform/failure.h"
#include "results/data_access.h"
#include "search_page/registration_log.h"
#include "tools/job_generator.h"
#include "tools/job_table.h"

namespace qlok {
namespace {

class GeneratedJobs : public JobRowSource {
 public:
  explicit GeneratedJobs(uint64_t count) : count_(count) {}
  bool Next(std::vector<Value>& row) override {
    if (next_ == count_) return false;
    row = GenerateJob(kDefaultGeneratorSeed, next_++, kGeneratorReferenceDay);
    return true;
  }

 private:
  uint64_t count_;
  uint64_t next_ = 0;
};

}  // namespace

FakeServices::FakeServices(const std::string& home)
    : databases(NewDatabases(home)) {
  files.files[kConnectionStringPath] = "-\r\n-\r\nsqlite:jobs.db\r\n-\r\n";
  files.files[kMailAccountsPath] = "a:1\r\nb:2\r\nc:3\r\n";
  files.files[kRegistrationLogPath] = "";
}

RequestServices ServicesOf(FakeServices& fakes) {
  return RequestServices{.clock = fakes.clock,
                         .settings = fakes.settings,
                         .processes = fakes.processes,
                         .files = fakes.files,
                         .databases = *fakes.databases,
                         .mail = fakes.mail,
                         .sleeper = fakes.sleeper,
                         .site = fakes.site,
                         .deadline = fakes.deadline,
                         .outbox = fakes.outbox,
                         .errors = fakes.errors};
}

std::string MakeFuzzSiteHome(uint64_t jobs) {
  std::string home =
      (std::filesystem::temp_directory_path() / "qlok_fuzz_XXXXXX").string();
  if (mkdtemp(home.data()) == nullptr) {
    throw Failure("cannot make a folder for the fuzz target's jobs");
  }
  std::unique_ptr<Connection> db =
      OpenConnection(u"sqlite:jobs.db", home, DatabaseOptions{0, 0, true});
  CreateJobTable(*db);
  std::vector<std::u16string> columns;
  for (const JobColumn& column : JobColumns()) {
    columns.emplace_back(column.name);
  }
  GeneratedJobs rows(jobs);
  WriteJobs(*db, columns, false, rows);
  return home;
}

}  // namespace qlok
