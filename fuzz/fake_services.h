// The services of one request for the request handler's fuzz target: the
// job database is a real SQLite file of generated jobs; everything else
// lives in memory, and the mail sender records every mail it is offered.
#ifndef QLOK_FUZZ_FAKE_SERVICES_H_
#define QLOK_FUZZ_FAKE_SERVICES_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mail/outbox.h"
#include "platform/clock.h"
#include "platform/database.h"
#include "platform/mail_sender.h"
#include "platform/process_info.h"
#include "platform/settings_store.h"
#include "platform/testing/recording_mail_sender.h"
#include "platform/text_files.h"
#include "search_page/handle_request.h"
#include "site/site_config.h"

namespace qlok {

// The only instance of the program, with a fixed process id.
class LoneProcess : public ProcessInfo {
 public:
  bool AnotherInstanceRunning() override { return false; }
  int64_t CurrentProcessId() override { return 4242; }
};

// One request's fakes over the site home `home` (see MakeFuzzSiteHome). A
// new service of the handler gets its fake here and its line in
// ServicesOf.
struct FakeServices {
  explicit FakeServices(const std::string& home);

  FixedClock clock{DateTime{2026, 12, 9, 12, 0, 0}};
  InMemorySettingsStore settings;
  LoneProcess processes;
  InMemoryTextFiles files;  // pw/qevo.txt, pw/mail.txt, the registration log
  std::unique_ptr<Databases> databases;
  RecordingMailSender mail;  // accepts every mail
  FakeSleeper sleeper;
  SiteConfig site = SiteConfig::Defaults();
  FakeMonotonicClock monotonic;  // stands still: every attempt has its time
  Deadline deadline{monotonic, 0, site.request_time_limit * 1000};
  InMemoryOutbox outbox;
  StringErrorLog errors;
};

// The handler's services over `fakes`.
RequestServices ServicesOf(FakeServices& fakes);

// Makes a fresh temporary folder holding jobs.db with the first `jobs`
// generated jobs, and returns its path. Throws Failure when it cannot.
std::string MakeFuzzSiteHome(uint64_t jobs);

}  // namespace qlok

#endif  // QLOK_FUZZ_FAKE_SERVICES_H_
