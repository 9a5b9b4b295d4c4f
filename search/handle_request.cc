#include "search/handle_request.h"

#include <memory>
#include <optional>

#include "mail/delivery.h"
#include "mail/kept_mail.h"
#include "mail/mail_jobs.h"
#include "mail/match_mail.h"
#include "mail/outcome.h"
#include "platform/failure.h"
#include "platform/registration_store.h"
#include "registrations/keep_registration.h"
#include "results/data_access.h"
#include "results/job_columns.h"
#include "results/page_jobs.h"
#include "results/registration_log.h"
#include "search/query_builder.h"
#include "search/search_form.h"
#include "search/search_request.h"
#include "search/turn_number.h"

namespace qlok {
namespace {

constexpr char16_t kSampleIntroduction[] =
    u"<BR>下の方にサンプル（実際の求人）を載せました。<BR>"
    u"この条件設定で今後の新規求人のメール通知をご希望なら、"
    u"メールアドレスを入力して送信ボタンを。<BR>"
    u"条件を変えて再検索する場合はメールアドレスを入力せずに送信ボタンを。";

// The time kept after the mails for the rest of the request: the outbox's
// files and the page.
constexpr int64_t kTimeAfterMailMs = 500;

// How many rows of the result later steps read after the count: the sample
// jobs of the page, or the jobs of the first match mail. Both are bounded,
// so what a request holds does not grow with the table.
size_t RowsToKeep(const SearchRequest& request) {
  if (request.address.empty()) return kSampleJobLimit;
  return static_cast<size_t>(MailJobLimit(request.daily_maximum));
}

// The recordset and the connection of one request, closed on every path out
// of the handler, failures of the closing ignored.
struct JobDatabase {
  std::unique_ptr<Connection> connection;
  std::unique_ptr<Recordset> jobs;
  ~JobDatabase() { CloseJobDatabase(jobs, connection); }
};

// Keeps the registration in the database before its mails go out (the job
// table itself stays read-only); returns its match mail's header fields.
MailHeaders KeepRegistrationOf(const SearchRequest& request,
                               const std::u16string& registration_record,
                               JobDatabase& database, int64_t mailed_count,
                               RequestServices& services) {
  std::unique_ptr<RegistrationStore> store =
      NewSqlRegistrationStore(*database.connection);
  return KeepRegistration(*store, request, registration_record,
                          database.jobs.get(), mailed_count,
                          services.clock.Now(), services.site, services.errors);
}

}  // namespace

std::u16string HandleRequest(std::u16string& posted,
                             RequestServices& services) {
  // Numbering: its own steps skip their failures; it never throws.
  const int turn_number =
      AssignTurnNumber(services.settings, services.processes, services.clock);

  // From the first form field to the form or the registration record and
  // the mail account lines, a failing statement is skipped and the next one
  // runs: these are all the statements of the handler that ignore failures.
  SearchRequest request;
  std::u16string query_text;
  std::u16string page;
  std::u16string registration_record;
  MailAccounts mail_accounts;
  IgnoringFailure([&] { request = ReadSearchRequest(posted); });
  IgnoringFailure([&] { query_text = BuildQuery(request); });
  if (request.address.empty()) {
    IgnoringFailure([&] { page = RenderSearchForm(request, query_text); });
  } else {
    IgnoringFailure(
        [&] { registration_record = BuildRegistrationRecord(request); });
  }
  IgnoringFailure([&] { mail_accounts = LoadMailAccounts(services.files); });

  // From the connection string on, every failure goes to the page shell's
  // trap (the connection open alone is tried twice).
  JobDatabase database;
  const std::u16string connection_string = LoadConnectionString(services.files);
  database.connection = OpenJobDatabase(services.databases, connection_string);
  database.connection->RefuseChangesTo(std::u16string(kJobTable));
  database.jobs =
      OpenJobQuery(*database.connection, query_text, RowsToKeep(request));
  AppendRegistrationLog(services.files, services.clock, request.address,
                        turn_number, query_text);

  const bool registration = !request.address.empty();
  const std::u16string& site_sender = services.site.sender_addresses[0];
  // A mail that no attempt delivers in the request's time waits in the
  // outbox; the page is the same either way. The match mail goes first, as
  // ever, but may use only half of the time left for mail, so that silent
  // relays never leave the registration record itself untried.
  const Deadline mail_deadline = services.deadline.Earlier(kTimeAfterMailMs);
  MailPost post{services.mail,   services.sleeper, services.site,
                services.outbox, services.clock,   services.errors,
                &mail_deadline};
  auto send_record = [&] {
    DeliverOrKeep(post, MailKind::kRegistrationRecord,
                  RegistrationRecordMail(services.site, registration_record),
                  [&] { return RegistrationRecordRoute(mail_accounts); });
  };
  if (database.jobs->AtEnd()) {
    page = NoHitNotice(page);
    if (registration) {
      KeepRegistrationOf(request, registration_record, database, 0, services);
      send_record();
      page = RegistrationOutcome(0, site_sender);
    }
    return page;
  }

  const int64_t hit_count = CountHits(*database.jobs, query_text);
  if (!registration) {
    page = HitCountMessage(hit_count) + kSampleIntroduction + page;
  }
  page += u"<HR>";
  if (!registration) {
    page += RenderSampleJobs(*database.jobs, services.site);
    return page;
  }
  const MailJobs mail_jobs =
      RenderMailJobs(*database.jobs, request.daily_maximum, services.site);
  const MailHeaders headers = KeepRegistrationOf(
      request, registration_record, database, mail_jobs.count, services);
  const Deadline match_deadline =
      mail_deadline.Earlier(mail_deadline.RemainingMs() / 2);
  MailPost match_post = post;
  match_post.deadline = &match_deadline;
  DeliverOrKeep(
      match_post, MailKind::kMatchMail,
      MatchMail(request.address,
                ComposeMatchMail(mail_jobs.text, services.site), headers),
      [&] { return MatchMailRoute(services.files); });
  send_record();
  return RegistrationOutcome(mail_jobs.count, site_sender);
}

}  // namespace qlok
