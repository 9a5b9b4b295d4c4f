#include "tools/registrations_command.h"

#include <cstdio>
#include <fstream>
#include <memory>

#include "consent/consent_store.h"
#include "platform/clock.h"
#include "platform/database.h"
#include "platform/failure.h"
#include "registrations/registration.h"
#include "registrations/registration_store.h"
#include "search/query_builder.h"
#include "text/unicode.h"
#include "tools/admin_commands.h"
#include "tools/csv.h"

namespace qlok {
namespace {

constexpr size_t kPage = 500;

std::string When(const std::optional<DateTime>& t) {
  return t ? U8(FormatGeneral(*t)) : "";
}

int Usage(std::ostream& err, const std::string& message) {
  err << "q_lok-admin registrations: " << message
      << " (\"q_lok-admin registrations --help\" tells more)\n";
  return kAdminWrongUsage;
}

void WriteCounts(RegistrationStore& store, std::ostream& out) {
  const RegistrationCounts counts = store.Count();
  out << "registrations: " << counts.active << " active, " << counts.stopped
      << " stopped\nactive by number:";
  for (int n = 1; n <= 5; ++n) {
    out << "  " << n << ": " << counts.active_by_number[n - 1];
  }
  out << "\n";
}

// What is kept of a registration's consent, as one line.
std::string ConsentLine(const std::optional<Consent>& consent) {
  if (!consent) return "  consent: none kept\n";
  const Consent& c = *consent;
  std::string line = "  consent: asked " + When(c.made);
  if (!c.request.client.empty()) line += " from " + U8(c.request.client);
  if (!c.request.user_agent.empty()) {
    line += " (" + U8(c.request.user_agent) + ")";
  }
  if (!c.request.page.empty()) line += " on " + U8(c.request.page);
  line += c.confirmed ? ", confirmed " + When(c.confirmed) + " by " +
                            U8(c.confirmed_how)
                      : ", not confirmed";
  line += ", " + std::to_string(c.hard_bounces) + " hard bounces";
  if (c.stop_reason == kStoppedForBounces) {
    line += "; stopped by the site after its hard bounces";
  }
  return line + "\n";
}

void WriteList(RegistrationStore& store, ConsentStore& consents,
               const std::string& address, std::ostream& out) {
  const std::vector<Registration> list = store.ListByAddress(U16(address));
  if (list.empty()) {
    out << "no registrations for " << address << "\n";
    return;
  }
  for (const Registration& r : list) {
    out << address << " number " << r.number << ": "
        << (r.active ? "active" : "stopped " + When(r.stopped))
        << ", registered " << When(r.created) << ", changed " << When(r.changed)
        << ", up to " << r.daily_maximum << " jobs a day, last daily mail "
        << (r.last_mailed ? When(r.last_mailed) : "none")
        << "\n  search: " << U8(BuildQuery(RequestOfSettings(r.settings)))
        << "\n"
        << ConsentLine(consents.Find(r.id));
  }
}

// Every registration as CSV, page by page; tokens stay out of it, since
// they open the manage page.
// The consent columns follow the registration's.
void WriteCsv(RegistrationStore& store, ConsentStore& consents,
              std::ostream& out) {
  out << CsvLine({"id", "address", "number", "active", "daily_maximum",
                  "created", "changed", "stopped", "last_mailed", "settings",
                  "asked", "client", "user_agent", "page", "confirmed",
                  "confirmed_how", "hard_bounces", "stop_reason"});
  int64_t after = 0;
  while (true) {
    const std::vector<Registration> page =
        store.Registrations({}, after, kPage);
    if (page.empty()) break;
    for (const Registration& r : page) {
      after = r.id;
      const Consent c = consents.Find(r.id).value_or(Consent{});
      const bool kept = c.registration_id != 0;
      out << CsvLine(
          {std::to_string(r.id), U8(r.address), std::to_string(r.number),
           r.active ? "1" : "0", std::to_string(r.daily_maximum),
           When(r.created), When(r.changed), When(r.stopped),
           When(r.last_mailed), U8(r.settings), kept ? When(c.made) : "",
           U8(c.request.client), U8(c.request.user_agent), U8(c.request.page),
           When(c.confirmed), U8(c.confirmed_how),
           kept ? std::to_string(c.hard_bounces) : "", U8(c.stop_reason)});
    }
  }
}

}  // namespace

int RunRegistrations(const RegistrationsArguments& arguments, std::ostream& out,
                     std::ostream& err) {
  const std::vector<std::string>& words = arguments.positional;
  const bool stop = !words.empty() && words[0] == "stop";
  std::optional<int> number;
  if (stop) {
    if (words.size() < 2 || words.size() > 3) {
      return Usage(err, "stop takes ADDRESS [NUMBER]");
    }
    if (words.size() == 3) {
      if (words[2].size() != 1 || words[2][0] < '1' || words[2][0] > '5') {
        return Usage(err, "NUMBER must be 1 to 5: " + words[2]);
      }
      number = words[2][0] - '0';
    }
  } else if (words.size() > 1) {
    return Usage(err, "takes [ADDRESS] or stop ADDRESS [NUMBER]");
  }
  if (arguments.csv && !words.empty()) {
    return Usage(err, "--csv exports every registration; it takes no ADDRESS");
  }

  std::unique_ptr<Connection> db =
      OpenConnection(arguments.connection_string, arguments.home);
  std::unique_ptr<TextFiles> files = NewSiteTextFiles(arguments.home);
  std::unique_ptr<RegistrationStore> store = NewSqlRegistrationStore(
      *db, nullptr, [&files] { return LoadTokenKey(*files); });
  std::unique_ptr<ConsentStore> consents = NewSqlConsentStore(*db);
  if (stop) {
    const int stopped =
        store->Stop(U16(words[1]), number, NewSystemClock()->Now());
    out << "stopped " << stopped
        << (stopped == 1 ? " registration of " : " registrations of ")
        << words[1] << "\n";
    return kAdminDone;
  }
  if (!words.empty()) {
    WriteList(*store, *consents, words[0], out);
    return kAdminDone;
  }
  if (!arguments.csv) {
    WriteCounts(*store, out);
    return kAdminDone;
  }
  if (*arguments.csv == "-") {
    WriteCsv(*store, *consents, out);
    out.flush();
    if (!out) throw Failure("standard output cannot be written");
    return kAdminDone;
  }
  // Written beside the target and renamed at the end, so that a failed
  // export leaves no half-written file under the name asked for.
  const std::string partial = *arguments.csv + ".partial";
  {
    std::ofstream file(partial, std::ios::binary | std::ios::trunc);
    if (!file) throw Failure(partial + ": cannot be created");
    try {
      WriteCsv(*store, *consents, file);
    } catch (...) {
      file.close();
      std::remove(partial.c_str());
      throw;
    }
    file.close();
    if (!file) {
      std::remove(partial.c_str());
      throw Failure(*arguments.csv + ": cannot be written");
    }
  }
  if (std::rename(partial.c_str(), arguments.csv->c_str()) != 0) {
    std::remove(partial.c_str());
    throw Failure(*arguments.csv + ": cannot be written");
  }
  out << "wrote the registrations to " << *arguments.csv << "\n";
  return kAdminDone;
}

}  // namespace qlok
