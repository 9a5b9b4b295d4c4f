#include "registrations/keep_registration.h"

#include <exception>

#include "jobs/job_fingerprint.h"
#include "platform/failure.h"
#include "text/text_utils.h"
#include "text/unicode.h"

namespace qlok {

std::optional<MailHeaders> KeepRegistration(
    RegistrationStore& store, const SearchRequest& request,
    const std::u16string& registration_record, Recordset* mailed_jobs,
    int64_t mailed_count, const DateTime& now, const SiteConfig& site,
    ErrorLog& errors, Registration* kept) {
  try {
    const std::optional<int> number = RegistrationNumberOf(request);
    if (!number) {
      throw Failure("the registration number is not 1 to 5");
    }
    RegistrationInput input;
    input.address = request.address;
    input.number = *number;
    input.settings = registration_record;
    input.daily_maximum = DailyMaximumOf(request);
    if (mailed_jobs != nullptr && mailed_count > 0) {
      mailed_jobs->MoveFirst();
      // No move past the last mailed row: the rows after it are not kept.
      for (int64_t i = 0; i < mailed_count; ++i) {
        if (i > 0) mailed_jobs->MoveNext();
        if (mailed_jobs->AtEnd()) break;
        input.sent_jobs.push_back(JobFingerprint(*mailed_jobs));
      }
    }
    const Registration saved = store.Save(input, now);
    if (kept != nullptr) *kept = saved;
    return MatchMailHeaders(site, saved.token);
  } catch (const std::exception& failure) {
    errors << "q_lok: the registration of " << U8(request.address)
           << " was not kept: "
           << U8(BlankControlCharacters(U16(failure.what()))) << "\n";
    errors.flush();
    return std::nullopt;
  }
}

}  // namespace qlok
