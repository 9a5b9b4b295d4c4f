#include "tools/site_check.h"

#include <unistd.h>

#include <exception>
#include <filesystem>
#include <memory>
#include <sstream>
#include <utility>
#include <vector>

#include "grams/gram_index.h"
#include "jobs/job_columns.h"
#include "mail/delivery.h"
#include "platform/database.h"
#include "platform/failure.h"
#include "platform/smtp_mail_sender.h"
#include "platform/smtp_probe.h"
#include "platform/sqlite_file.h"
#include "platform/text_files.h"
#include "platform/user_access.h"
#include "results/data_access.h"
#include "site/site_config.h"
#include "text/unicode.h"
#include "tools/admin_commands.h"
#include "tools/database_upkeep.h"
#include "tools/table_probe.h"

namespace qlok {
namespace {

namespace fs = std::filesystem;

// The files and folders of the site home that the programs use, and what
// the web server's user must be able to do with them.
struct NeededPath {
  const char* path;  // relative to the site home; "" is the home itself
  int access;        // FileAccess bits
  bool required;     // a missing one is a problem
  const char* purpose;
};

constexpr NeededPath kNeededPaths[] = {
    {"", kMaySearch, true, "the site home"},
    {"site.conf", kMayRead, false, "the site configuration"},
    {"pw", kMaySearch, true, "the folder of the password files"},
    {"pw/qevo.txt", kMayRead, true, "the connection string (line 3)"},
    {"pw/mail.txt", kMayRead, false, "the logins of the sender accounts"},
    {"pw/token_key", kMayRead, true,
     "the key that seals the stored tokens (q_lok-admin migrate makes it)"},
    {"received", kMaySearch, true, "the folder of the registration log"},
    {"received/worqlet.txt", kMayRead | kMayWrite, true,
     "the registration log"},
    {"settings", kMayRead | kMayWrite | kMaySearch, true,
     "the settings store (request numbers)"},
    {"outbox", kMayRead | kMayWrite | kMaySearch, true,
     "the outbox (mails no relay has taken yet)"},
};

// The tables the programs read, with their columns.
struct RequiredTable {
  std::u16string name;
  std::vector<std::u16string> columns;
};

std::vector<RequiredTable> RequiredTables() {
  RequiredTable jobs{std::u16string(kJobTable), {}};
  for (const JobColumn& column : JobColumns()) {
    jobs.columns.emplace_back(column.name);
  }
  return {
      jobs,
      {u"registrations",
       {u"id", u"address", u"number", u"settings", u"daily_maximum", u"created",
        u"changed", u"active", u"stopped", u"token", u"mark", u"sent_jobs",
        u"last_mailed"}},
      {u"seen_jobs", {u"serial", u"fingerprint", u"first_seen", u"gone_since"}},
      {u"address_lookups", {u"address", u"day", u"lookups"}},
  };
}

enum class Level { kOk, kNote, kProblem };

struct Finding {
  Level level;
  std::string subject;
  std::string text;
  std::string advice;  // what to do; empty for none
};

class Report {
 public:
  void Ok(std::string subject, std::string text) {
    Add({Level::kOk, std::move(subject), std::move(text), ""});
  }
  void Note(std::string subject, std::string text, std::string advice = "") {
    Add({Level::kNote, std::move(subject), std::move(text), std::move(advice)});
  }
  void Problem(std::string subject, std::string text, std::string advice) {
    Add({Level::kProblem, std::move(subject), std::move(text),
         std::move(advice)});
  }
  void Add(Finding finding) { findings_.push_back(std::move(finding)); }
  const std::vector<Finding>& findings() const { return findings_; }

  // One finding a line, tab-separated, to carry findings out of a child
  // process; Parse reads it back.
  std::string Serialized() const {
    std::string text;
    for (const Finding& f : findings_) {
      text += std::to_string(static_cast<int>(f.level)) + "\t" +
              OneLine(f.subject) + "\t" + OneLine(f.text) + "\t" +
              OneLine(f.advice) + "\n";
    }
    return text;
  }
  void Parse(const std::string& text) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
      std::vector<std::string> parts;
      std::istringstream fields(line);
      std::string part;
      while (std::getline(fields, part, '\t')) parts.push_back(part);
      parts.resize(4);
      Add({static_cast<Level>(std::stoi(parts[0])), parts[1], parts[2],
           parts[3]});
    }
  }

 private:
  static std::string OneLine(std::string text) {
    for (char& c : text) {
      if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    }
    return text;
  }

  std::vector<Finding> findings_;
};

std::string Shown(const std::string& home, const std::string& relative) {
  return relative.empty() ? home : home + "/" + relative;
}

// `command` as it is to be run so that what it makes belongs to `account`
// (the web server's user): as root through runuser, as another user through
// sudo, as that user itself as it stands.
std::string AsAccount(const Account* account, const std::string& command) {
  if (account == nullptr || account->uid == ::geteuid()) return command;
  return (::geteuid() == 0 ? "runuser -u " + account->name + " -- "
                           : "sudo -u " + account->name + " ") +
         command;
}

// The command that lays out the site home for `account`: as root it hands
// the home over with --owner, else it runs as that user.
std::string LayOutAdvice(const Account& account, const std::string& home) {
  const std::string command = "q_lok-admin site " + home;
  if (account.uid != ::geteuid() && ::geteuid() == 0) {
    return command + " --owner " + account.name;
  }
  return AsAccount(&account, command);
}

// What the user should run so that `account` gets the access it lacks.
std::string AccessAdvice(const Account& account, const std::string& path,
                         bool folder) {
  return "give it to " + account.name + ", for example: chown " +
         (folder ? "-R " : "") + account.name + ": " + path;
}

void CheckPath(const Account& account, const std::string& home,
               const NeededPath& needed, Report& report) {
  const std::string path = Shown(home, needed.path);
  const std::string subject =
      *needed.path == '\0' ? "site home" : std::string(needed.path);
  const PathAccess access = CheckPathAccess(account, path, needed.access);
  if (!access.exists && access.problem.empty()) {
    if (needed.required) {
      report.Problem(subject, "missing (" + std::string(needed.purpose) + ")",
                     "lay it out with \"" + LayOutAdvice(account, home) + "\"");
    } else {
      report.Note(subject, "not there (" + std::string(needed.purpose) +
                               "): the programs go on without it");
    }
  } else if (!access.problem.empty()) {
    report.Problem(subject, access.problem,
                   AccessAdvice(account, path, access.folder));
  } else {
    report.Ok(subject, std::string(needed.purpose) + "; " + account.name +
                           " may " + AccessWords(needed.access) + " it");
  }
}

// Below settings/ every folder is written (a key is replaced by renaming a
// new file over it) and every file read and written (the store's lock
// files are locked for writing).
void CheckSettingsTree(const Account& account, const std::string& home,
                       Report& report) {
  const fs::path root = fs::path(home) / "settings";
  std::error_code error;
  if (!fs::is_directory(root, error)) return;
  std::vector<std::string> refused;
  for (auto it = fs::recursive_directory_iterator(root, error);
       !error && it != fs::recursive_directory_iterator();
       it.increment(error)) {
    const bool folder = it->is_directory(error);
    const int wanted = kMayRead | kMayWrite | (folder ? kMaySearch : 0);
    const PathAccess access =
        CheckPathAccess(account, it->path().string(), wanted);
    if (!access.problem.empty()) {
      refused.push_back(it->path().string() + ": " + access.problem);
    }
  }
  if (!refused.empty()) {
    std::string text = refused.front();
    if (refused.size() > 1) {
      text += " (and " + std::to_string(refused.size() - 1) + " more)";
    }
    report.Problem("settings store", text,
                   AccessAdvice(account, root.string(), true));
  }
}

// The site's configuration as the programs read it; nothing when site.conf
// cannot be read (the programs then fail, and which relays it names is not
// known).
std::optional<SiteConfig> CheckSiteConf(const std::string& home,
                                        Report& report) {
  const std::string path = home + "/site.conf";
  std::error_code error;
  if (!fs::exists(path, error)) {
    report.Note("site.conf", "not there: every key has its example value",
                "the relays of the example values do not exist; write a "
                "site.conf (\"q_lok-admin site\" lays out a commented one)");
    return SiteConfig::Defaults();
  }
  SiteConfig site;
  try {
    site = LoadSiteConfig(path);
  } catch (const std::exception& failure) {
    report.Problem("site.conf", failure.what(),
                   "correct that line (the format and the keys are in "
                   "README.md); the search page fails until then");
    return std::nullopt;
  }
  for (const std::string& key : site.unknown_keys) {
    report.Problem("site.conf", key + ": no program reads this key",
                   "a misspelt key? Every key is listed in README.md and, "
                   "commented, in the site.conf that \"q_lok-admin site\" "
                   "writes");
  }
  if (site.unknown_keys.empty()) report.Ok("site.conf", "every key is known");
  if (site.operator_name.empty() || site.operator_address.empty() ||
      site.operator_contact.empty()) {
    report.Note("site.conf",
                "[site] operator_name, operator_address or operator_contact "
                "is empty: the daily mails and the manage page do not show "
                "who sends the mails",
                "a sender of such mail must show its name, its address and "
                "how to reach it; write all three");
  } else {
    report.Ok("site.conf", "the mails and pages name their sender");
  }
  return site;
}

// The word index of the job table: missing is a note (searches read the
// whole table, as before there was one); stale or out of step with the
// table a problem.
void CheckWordIndex(Connection& db, const std::string& subject,
                    Report& report) {
  try {
    if (!TableExists(db, std::u16string(kJobTable))) return;
    if (!ReadGramIndexState(db).exists) {
      report.Note(subject,
                  "the job table has no word index: searches with words "
                  "read the whole table",
                  "q_lok-admin reindex");
      return;
    }
    if (std::optional<std::string> problem = GramIndexProblem(db)) {
      report.Problem(subject, *problem, "q_lok-admin reindex");
      return;
    }
    report.Ok(subject, "the word index agrees with the job table");
  } catch (const std::exception& failure) {
    report.Problem(
        subject,
        std::string("the word index cannot be read: ") + failure.what(),
        "q_lok-admin reindex");
  }
}

// The tables and columns, on a connection opened by whoever runs this.
std::string CheckTables(const std::u16string& connection_string,
                        const std::string& home, const std::string& subject,
                        const std::string& make_tables) {
  Report report;
  std::unique_ptr<Connection> db;
  try {
    db = OpenConnection(connection_string, home);
  } catch (const std::exception& failure) {
    report.Problem(subject, std::string("cannot be opened: ") + failure.what(),
                   "correct line 3 of pw/qevo.txt, or make the database "
                   "reachable for the web server's user");
    return report.Serialized();
  }
  for (const RequiredTable& table : RequiredTables()) {
    const std::string name = U8(table.name);
    if (std::optional<std::string> problem = TableProblem(*db, table.name)) {
      report.Problem(subject,
                     "the table " + name + " cannot be read: " + *problem,
                     "if it does not exist yet: " + make_tables);
      continue;
    }
    std::vector<std::u16string> missing =
        MissingColumns(*db, table.name, table.columns);
    if (missing.empty()) {
      report.Ok(subject, "the table " + name + " has its " +
                             std::to_string(table.columns.size()) + " columns");
      continue;
    }
    std::string names;
    for (const std::u16string& column : missing) {
      names += (names.empty() ? "" : ", ") + U8(column);
    }
    report.Problem(subject,
                   "the table " + name + " lacks the column" +
                       (missing.size() > 1 ? "s " : " ") + names,
                   "add them (the schema files are in share/q_lok), or "
                   "make the table anew with " +
                       make_tables);
  }
  CheckWordIndex(*db, subject, report);
  return report.Serialized();
}

// The SQLite file holds every visitor's address and the registrations:
// neither it nor its folder may be open to others.
void CheckKeptFromOthers(const std::string& file, const std::string& subject,
                         Report& report) {
  std::string folder = fs::path(file).parent_path().string();
  if (folder.empty()) folder = ".";
  for (const std::string& path : {file, folder}) {
    if (std::optional<std::string> open = OpenToOthers(path)) {
      report.Problem(subject,
                     path + ": " + *open +
                         "; it holds visitors' "
                         "addresses",
                     "run \"q_lok-admin migrate\" as the site's owner, or "
                     "chmod o-rwx " +
                         path);
    }
  }
}

void CheckDatabase(const SiteCheckOptions& options, const Account* account,
                   Report& report) {
  std::u16string connection_string;
  if (options.database) {
    connection_string = U16(*options.database);
  } else {
    try {
      std::unique_ptr<TextFiles> files = NewSiteTextFiles(options.home);
      connection_string = LoadConnectionString(*files);
    } catch (const std::exception& failure) {
      report.Problem("pw/qevo.txt", failure.what(),
                     "line 3 names the database (sqlite:jobs.db or "
                     "postgresql://...); the file needs four lines");
      return;
    }
  }
  const std::string subject =
      "database " + RedactedConnectionString(U8(connection_string));
  // Every table is made by init, run as the user that is to own the file.
  std::string init = "q_lok-admin init --home " + options.home;
  if (options.database) {
    init += " --database " + RedactedConnectionString(*options.database);
  }
  const std::string make_tables = AsAccount(account, init);
  if (std::optional<std::string> file =
          SqliteFileOf(connection_string, options.home)) {
    if (account != nullptr) {
      // The search page writes the registrations, and SQLite writes its
      // journal beside the file.
      const std::string folder = fs::path(*file).parent_path().string();
      for (const auto& [path, wanted, tree] :
           {std::tuple{*file, kMayRead | kMayWrite, false},
            std::tuple{folder, kMayWrite | kMaySearch, false}}) {
        const PathAccess access = CheckPathAccess(*account, path, wanted);
        if (!access.problem.empty()) {
          report.Problem(subject, path + ": " + access.problem,
                         AccessAdvice(*account, path, tree));
          return;
        }
      }
    }
    std::error_code error;
    if (!fs::exists(*file, error)) {
      report.Problem(subject, *file + ": no such file",
                     "create it with \"" + make_tables + "\", then fill it");
      return;
    }
    CheckKeptFromOthers(*file, subject, report);
  }
  if (account == nullptr || account->uid == ::geteuid()) {
    report.Parse(
        CheckTables(connection_string, options.home, subject, make_tables));
    return;
  }
  if (::geteuid() != 0) {
    report.Note(subject, "opened as " + CurrentAccount().name + ", not as " +
                             account->name + " (only the superuser can)");
    report.Parse(
        CheckTables(connection_string, options.home, subject, make_tables));
    return;
  }
  try {
    report.Parse(RunAsAccount(*account, [&] {
      return CheckTables(connection_string, options.home, subject, make_tables);
    }));
  } catch (const std::exception& failure) {
    report.Problem(subject, failure.what(), "run the check as root");
  }
}

// One relay at one port, and whether any mail logs in there.
struct Endpoint {
  std::string host;
  int port = 0;
  bool logins = false;
  std::string keys;  // the site.conf keys that name it
};

std::vector<Endpoint> Endpoints(const SiteConfig& site,
                                const MailAccounts& accounts) {
  std::vector<Endpoint> endpoints;
  auto add = [&](const DeliveryAttempt& attempt) {
    using A = DeliveryAttempt;
    const bool first = attempt.relay == A::kFirstRelay;
    const bool submission = attempt.port == A::kSubmissionPort;
    Endpoint endpoint;
    endpoint.host = U8(first ? site.first_relay : site.second_relay);
    endpoint.port = submission ? site.submission_port : site.relay_port;
    endpoint.keys = std::string(first ? "first_relay" : "second_relay") +
                    (submission ? ", submission_port" : ", relay_port");
    // A row logs in with its built-in text or with its account's line.
    endpoint.logins = attempt.authentication != nullptr
                          ? *attempt.authentication != u'\0'
                          : !accounts[attempt.account - 1].empty();
    for (Endpoint& known : endpoints) {
      if (known.host == endpoint.host && known.port == endpoint.port) {
        known.logins = known.logins || endpoint.logins;
        return;
      }
    }
    endpoints.push_back(endpoint);
  };
  for (const DeliveryAttempt& attempt : kMatchMailAttempts) add(attempt);
  for (const DeliveryAttempt& attempt : kRegistrationRecordAttempts) {
    add(attempt);
  }
  return endpoints;
}

void CheckRelays(const SiteConfig& site, const std::string& home,
                 Report& report) {
  std::unique_ptr<TextFiles> files = NewSiteTextFiles(home);
  const MailAccounts accounts = LoadMailAccounts(*files);
  for (const Endpoint& endpoint : Endpoints(site, accounts)) {
    const std::string subject =
        "relay " + endpoint.host + ":" + std::to_string(endpoint.port);
    const SmtpProbe probe =
        ProbeSmtpRelay(endpoint.host, endpoint.port, site.smtp_connect_timeout);
    if (!probe.error.empty()) {
      report.Problem(subject, probe.error,
                     "check [smtp] " + endpoint.keys +
                         " in site.conf, and that the relay runs and takes "
                         "connections from this host");
      continue;
    }
    const bool starttls = probe.Offers("STARTTLS");
    const bool auth = probe.Offers("AUTH");
    std::string offers = starttls ? "STARTTLS" : "";
    if (auth) offers += std::string(offers.empty() ? "" : " and ") + "AUTH";
    const std::string answered =
        "answers EHLO" + (offers.empty() ? "" : "; offers " + offers);
    if (!endpoint.logins) {
      report.Ok(subject, answered);
    } else if (site.smtp_tls == SiteConfig::kTlsRequired && !starttls &&
               !IsLoopbackHost(endpoint.host)) {
      report.Problem(subject,
                     answered +
                         ", but no STARTTLS: with [smtp] tls = "
                         "required no login is sent to it, so the "
                         "mails that log in here fail",
                     "have the relay offer STARTTLS, or set [smtp] tls = "
                     "opportunistic (logins then travel unencrypted)");
    } else if (!auth && !starttls) {
      report.Problem(subject,
                     answered +
                         ", but no AUTH, and logins are configured "
                         "for it",
                     "enable AUTH on the relay, or name another relay with "
                     "[smtp] " +
                         endpoint.keys);
    } else if (!auth) {
      report.Ok(subject, answered +
                             " (AUTH only after STARTTLS, which this "
                             "check does not enter)");
    } else {
      report.Ok(subject, answered);
    }
  }
}

const char* Label(Level level) {
  switch (level) {
    case Level::kOk:
      return "ok       ";
    case Level::kNote:
      return "note     ";
    case Level::kProblem:
      return "PROBLEM  ";
  }
  return "";
}

}  // namespace

int CheckSite(const SiteCheckOptions& options, std::ostream& out) {
  Report report;
  std::optional<Account> account = LookUpAccount(options.user);
  out << "checking the site home " << options.home << " for the user "
      << options.user << "\n";
  if (!account) {
    report.Problem("user " + options.user, "no such user on this system",
                   "give the user the web server runs the programs as with "
                   "--user (www-data on Debian)");
  } else {
    for (const NeededPath& needed : kNeededPaths) {
      CheckPath(*account, options.home, needed, report);
    }
    CheckSettingsTree(*account, options.home, report);
  }
  try {
    const std::optional<SiteConfig> site = CheckSiteConf(options.home, report);
    CheckDatabase(options, account ? &*account : nullptr, report);
    if (site) {
      CheckRelays(*site, options.home, report);
    } else {
      report.Note("relays",
                  "not probed: site.conf names them, and it cannot "
                  "be read",
                  "check again once site.conf is mended");
    }
  } catch (const std::exception& failure) {
    report.Problem("check", std::string("stopped: ") + failure.what(),
                   "mend that first, then check again");
  }

  int problems = 0;
  for (const Finding& finding : report.findings()) {
    out << Label(finding.level) << finding.subject << ": " << finding.text
        << "\n";
    if (!finding.advice.empty()) {
      out << "         what to do: " << finding.advice << "\n";
    }
    problems += finding.level == Level::kProblem;
  }
  if (problems == 0) {
    out << "no problems: the site home is ready for " << options.user << "\n";
  } else {
    out << problems << (problems == 1 ? " problem" : " problems") << " found\n";
  }
  out.flush();
  return problems;
}

}  // namespace qlok
