#include "search_page/handle_request.h"

#include <algorithm>
#include <memory>
#include <optional>

#include "bounces/verp.h"
#include "consent/consent_store.h"
#include "consent/consent_texts.h"
#include "jobs/job_columns.h"
#include "limits/counted_keys.h"
#include "limits/send_counts.h"
#include "mail/delivery.h"
#include "mail/kept_mail.h"
#include "mail/mail_jobs.h"
#include "mail/match_mail.h"
#include "mail/outcome.h"
#include "platform/failure.h"
#include "registrations/keep_registration.h"
#include "registrations/registration_store.h"
#include "results/data_access.h"
#include "results/page_jobs.h"
#include "search/query_builder.h"
#include "search/search_form.h"
#include "search/search_plan.h"
#include "search/search_request.h"
#include "search/turn_number.h"
#include "search_page/registration_limits.h"
#include "search_page/registration_log.h"
#include "text/html_escape.h"
#include "text/text_utils.h"
#include "text/unicode.h"

namespace qlok {
namespace {

constexpr char16_t kSampleIntroduction[] =
    u"<BR>下の方にサンプル（実際の求人）を載せました。<BR>"
    u"この条件設定で今後の新規求人のメール通知をご希望なら、"
    u"メールアドレスを入力して送信ボタンを。<BR>"
    u"条件を変えて再検索する場合はメールアドレスを入力せずに送信ボタンを。";

// How many rows of the result later steps read after the count: the sample
// jobs of the page, or the jobs of the first match mail. Both are bounded,
// so what a request holds does not grow with the table.
// A registration keeps the sample jobs too, for the page that tells a
// registration that could not be kept.
size_t RowsToKeep(const SearchRequest& request) {
  if (request.address.empty()) return kSampleJobLimit;
  return std::max(kSampleJobLimit,
                  static_cast<size_t>(MailJobLimit(request.daily_maximum)));
}

// The recordset and the connection of one request, closed on every path out
// of the handler, failures of the closing ignored.
struct JobDatabase {
  std::unique_ptr<Connection> connection;
  std::unique_ptr<Recordset> jobs;
  ~JobDatabase() { CloseJobDatabase(jobs, connection); }
};

// What keeping a registration gave its first match mail: the header
// fields with its links, its token (empty when it was not kept) and
// whether it is confirmed already.
struct KeptRegistration {
  MailHeaders headers;
  std::string token;
  bool confirmed = false;
};

// Whether the request starts its registration anew for its consent: a new
// address and number, or one that was stopped.
bool StartsAnew(RegistrationStore& store, const SearchRequest& request) {
  const std::optional<int> number = RegistrationNumberOf(request);
  if (!number) return true;
  for (const Registration& r : store.ListByAddress(request.address)) {
    if (r.number == *number) return !r.active;
  }
  return true;
}

// Keeps the consent of the registration `saved` (the visitor's request),
// confirmed at once when the site confirms otherwise. Returns whether it
// is confirmed. Never throws: a consent that cannot be kept leaves one
// line on the error log, and the registration stays unconfirmed.
bool KeepConsentOf(const Registration& saved, bool anew, JobDatabase& database,
                   RequestServices& services) {
  try {
    const bool by_site =
        services.site.confirmation == SiteConfig::kConfirmationNone;
    const Consent consent =
        NewSqlConsentStore(*database.connection)
            ->Record(saved.id, anew, services.visitor, services.clock.Now(),
                     by_site ? kConfirmedBySite : u"");
    return consent.confirmed.has_value();
  } catch (const std::exception& failure) {
    services.errors << "q_lok: the consent of the registration of "
                    << U8(saved.address) << " was not kept: "
                    << U8(BlankControlCharacters(U16(failure.what()))) << "\n";
    services.errors.flush();
    return false;
  }
}

// Keeps the registration in the database before its mails go out (the job
// table itself stays read-only), with its consent; nothing when it could
// not be kept.
std::optional<KeptRegistration> KeepRegistrationOf(
    const SearchRequest& request, const std::u16string& registration_record,
    JobDatabase& database, int64_t mailed_count, RequestServices& services) {
  std::unique_ptr<RegistrationStore> store = NewSqlRegistrationStore(
      *database.connection, nullptr,
      [&services] { return LoadTokenKey(services.files); });
  bool anew = true;
  IgnoringFailure([&] { anew = StartsAnew(*store, request); });
  Registration saved;
  const std::optional<MailHeaders> headers = KeepRegistration(
      *store, request, registration_record, database.jobs.get(), mailed_count,
      services.clock.Now(), services.site, services.errors, &saved);
  if (!headers) return std::nullopt;
  KeptRegistration kept;
  kept.headers = *headers;
  kept.token = saved.token;
  kept.confirmed = KeepConsentOf(saved, anew, database, services);
  return kept;
}

// The first match mail of a kept registration: the fixed body, then the
// paragraph with its manage link; from the registration's envelope sender.
Mail FirstMatchMail(const SearchRequest& request, const MailJobs& mail_jobs,
                    const KeptRegistration& kept, const SiteConfig& site) {
  std::u16string body = ComposeMatchMail(mail_jobs.text, site);
  if (!kept.token.empty()) {
    body += FirstMailParagraph(site, kept.token, kept.confirmed);
  }
  Mail mail = MatchMail(request.address, body, kept.headers);
  mail.envelope_sender = VerpAddress(site.bounce_address, kept.token);
  return mail;
}

// Takes the registration's place within the site's limits. Over a limit:
// one line on the error log, the refusal's headers, and its page; nothing
// else is done. Failures of the counts are thrown (the caller answers as for
// a registration that could not be kept): one that cannot be counted is not
// made.
std::optional<std::u16string> RefuseOverLimits(const SearchRequest& request,
                                               JobDatabase& database,
                                               RequestServices& services) {
  std::unique_ptr<SendCounts> counts = NewSqlSendCounts(*database.connection);
  const std::u16string client = CountedClient(U8(services.visitor.client));
  const std::optional<LimitRefusal> refusal = TakeRegistrationPlace(
      *counts, services.site, request.address, client, services.clock.Now());
  if (!refusal) return std::nullopt;
  services.errors << "q_lok: the registration of "
                  << U8(BlankControlCharacters(request.address)) << " from "
                  << U8(client) << " was refused: " << refusal->reason
                  << "; allowed again in " << refusal->retry_after << " s\n";
  services.errors.flush();
  if (services.added_headers != nullptr) {
    *services.added_headers += TooManyRequestsHeaders(refusal->retry_after);
  }
  return TooManyRegistrationsPage(refusal->free_at);
}

// What the handler reads before it reaches the database. Each statement
// here skips its failure and the next one runs: these are all the
// statements of the handler that ignore failures.
struct PostedRequest {
  SearchRequest request;
  std::u16string query_text;
  std::u16string page;                 // a search: the form
  size_t form_growth = 0;              // what HTML escaping added to the form
  std::u16string registration_record;  // a registration: the record
  MailAccounts mail_accounts;
};

PostedRequest ReadPostedRequest(std::u16string& posted,
                                RequestServices& services) {
  PostedRequest in;
  IgnoringFailure([&] { in.request = ReadSearchRequest(posted); });
  IgnoringFailure([&] { in.query_text = BuildQuery(in.request); });
  if (in.request.address.empty()) {
    IgnoringFailure([&] {
      in.page = RenderSearchForm(in.request, in.query_text, &in.form_growth);
    });
  } else {
    IgnoringFailure(
        [&] { in.registration_record = BuildRegistrationRecord(in.request); });
  }
  IgnoringFailure([&] { in.mail_accounts = LoadMailAccounts(services.files); });
  return in;
}

// What runs for the request: the statement, over the word index's
// candidates where it can narrow the search, and how the whole table is
// counted. Should reading the index fail, the query text runs as it stands
// (the scan, the table counted by the engine) and the reason goes to the
// error log; a query text that failed to build stays as it is.
SearchPlan PlanToRun(Connection& db, const SearchRequest& request,
                     const std::u16string& query_text, ErrorLog& errors) {
  if (query_text.empty()) return {query_text, {}};
  try {
    return PlanSearch(db, request);
  } catch (const std::exception& failure) {
    errors << "q_lok.cgi: the word index was not used: " << failure.what()
           << "\n";
    return {query_text, {}};
  }
}

// Opens the job database (the connection open alone is tried twice), runs
// the query and logs the request. Every failure goes to the page shell's
// trap.
void OpenSearch(const PostedRequest& in, int turn_number,
                RequestServices& services, JobDatabase& database) {
  const std::u16string connection_string = LoadConnectionString(services.files);
  database.connection = OpenJobDatabase(services.databases, connection_string);
  database.connection->RefuseChangesTo(std::u16string(kJobTable));
  const SearchPlan plan = PlanToRun(*database.connection, in.request,
                                    in.query_text, services.errors);
  database.jobs = OpenJobQuery(*database.connection, plan.statement,
                               RowsToKeep(in.request), plan.table_count);
  AppendRegistrationLog(services.files, services.clock, in.request.address,
                        turn_number, in.query_text);
}

// The page of a search that found `hit_count` jobs: the count, `form` and
// the sample jobs, read from the first row on.
std::u16string HitPage(int64_t hit_count, const std::u16string& form,
                       JobDatabase& database, RequestServices& services) {
  return HitCountMessage(hit_count) + kSampleIntroduction + form + u"<HR>" +
         RenderSampleJobs(*database.jobs, services.site);
}

// A search: the hit count, the form and the sample jobs.
std::u16string AnswerSearch(const PostedRequest& in, JobDatabase& database,
                            RequestServices& services) {
  if (database.jobs->AtEnd()) return NoHitNotice(in.page);
  const int64_t hit_count = CountHits(*database.jobs, in.query_text);
  return HitPage(hit_count, in.page, database, services);
}

// The search form `form` with `address` in its address box, so that the
// visitor need only send it again.
std::u16string WithAddress(std::u16string form, const std::u16string& address) {
  constexpr std::u16string_view kBox = u"NAME='aaa' ";
  const size_t box = form.find(kBox);
  if (box != std::u16string::npos) {
    form.insert(box + kBox.size(), u"value='" + EscapeHtml(address) + u"' ");
  }
  return form;
}

// A registration that could not be kept: no mail goes out, and the visitor
// is asked to send it again later above the search's own page (the count
// of its `hit_count` jobs, if any), the form filled with the address, so
// that nothing typed is lost.
std::u16string AnswerNotKept(const PostedRequest& in, int64_t hit_count,
                             JobDatabase& database, RequestServices& services) {
  std::u16string form;
  IgnoringFailure([&] {
    form = WithAddress(RenderSearchForm(in.request, in.query_text),
                       in.request.address);
  });
  if (hit_count == 0) return RegistrationNotKeptNotice() + NoHitNotice(form);
  database.jobs->MoveFirst();
  return RegistrationNotKeptNotice() +
         HitPage(hit_count, form, database, services);
}

// A registration: kept, its match mail (when jobs match) and its record
// sent, and the outcome. A mail that no attempt delivers in the request's
// time waits in the outbox; the page is the same either way. The match
// mail goes first, as ever, but may use only half of the time left for
// mail, so that silent relays never leave the registration record itself
// untried.
std::u16string AnswerRegistration(const PostedRequest& in,
                                  JobDatabase& database,
                                  RequestServices& services) {
  const std::u16string& site_sender = services.site.sender_addresses[0];
  const Deadline mail_deadline = services.deadline.Earlier(kTimeAfterMailMs);
  MailPost post{services.mail,   services.sleeper, services.site,
                services.outbox, services.clock,   services.errors,
                &mail_deadline};
  auto send_record = [&] {
    DeliverOrKeep(post, MailKind::kRegistrationRecord,
                  RegistrationRecordMail(services.site, in.registration_record),
                  [&] { return RegistrationRecordRoute(in.mail_accounts); });
  };
  // The limits are counted on the job query's connection, once its rows
  // are read (another statement would drop the rest of them).
  // A registration whose place cannot be counted (a database that refuses,
  // is full or stays locked) is not made: the visitor is asked to send it
  // again, as when it cannot be kept.
  auto refused = [&](int64_t hit_count) -> std::optional<std::u16string> {
    try {
      return RefuseOverLimits(in.request, database, services);
    } catch (const std::exception& failure) {
      services.errors << "q_lok: the registration of "
                      << U8(BlankControlCharacters(in.request.address))
                      << " was not kept: its sending limits could not be "
                         "counted: "
                      << U8(BlankControlCharacters(U16(failure.what())))
                      << "\n";
      services.errors.flush();
      return AnswerNotKept(in, hit_count, database, services);
    }
  };
  if (database.jobs->AtEnd()) {
    if (std::optional<std::u16string> refusal = refused(0)) return *refusal;
    if (!KeepRegistrationOf(in.request, in.registration_record, database, 0,
                            services)) {
      return AnswerNotKept(in, 0, database, services);
    }
    send_record();
    return RegistrationOutcome(0, site_sender);
  }
  // The count is taken as for a search, though the outcome does not show
  // it (only the page of a registration that could not be kept does).
  const int64_t hit_count = CountHits(*database.jobs, in.query_text);
  if (std::optional<std::u16string> refusal = refused(hit_count)) {
    return *refusal;
  }
  const MailJobs mail_jobs =
      RenderMailJobs(*database.jobs, in.request.daily_maximum, services.site);
  const std::optional<KeptRegistration> kept = KeepRegistrationOf(
      in.request, in.registration_record, database, mail_jobs.count, services);
  if (!kept) return AnswerNotKept(in, hit_count, database, services);
  const Deadline match_deadline =
      mail_deadline.Earlier(mail_deadline.RemainingMs() / 2);
  MailPost match_post = post;
  match_post.deadline = &match_deadline;
  DeliverOrKeep(match_post, MailKind::kMatchMail,
                FirstMatchMail(in.request, mail_jobs, *kept, services.site),
                [&] { return MatchMailRoute(services.files); });
  send_record();
  return RegistrationOutcome(mail_jobs.count, site_sender);
}

}  // namespace

std::u16string HandleRequest(std::u16string& posted, RequestServices& services,
                             size_t* escape_growth) {
  // Numbering: past the store's lock its own steps skip their failures; a
  // lock not had within the request's time (less what the page needs)
  // gives the error page rather than a number another request may have.
  const int turn_number = AssignTurnNumber(
      services.settings, services.processes, services.clock,
      std::chrono::milliseconds(
          services.deadline.Earlier(kTimeAfterMailMs).RemainingMs()));
  if (escape_growth != nullptr) *escape_growth = 0;
  const PostedRequest in = ReadPostedRequest(posted, services);
  JobDatabase database;
  OpenSearch(in, turn_number, services, database);
  if (!in.request.address.empty()) {
    return AnswerRegistration(in, database, services);
  }
  // A search: its result, under the line that tells of a refused address.
  if (escape_growth != nullptr) *escape_growth = in.form_growth;
  std::u16string page = AnswerSearch(in, database, services);
  if (in.request.refused_address.empty()) return page;
  return kRefusedAddressNotice + page;
}

}  // namespace qlok
