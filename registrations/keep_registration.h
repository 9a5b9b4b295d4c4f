// Keeping a registration made through the search page, before its mails
// go out.
#ifndef QLOK_REGISTRATIONS_KEEP_REGISTRATION_H_
#define QLOK_REGISTRATIONS_KEEP_REGISTRATION_H_

#include <cstdint>
#include <optional>
#include <string>

#include "platform/database.h"
#include "platform/error_log.h"
#include "registrations/registration.h"
#include "registrations/registration_store.h"
#include "search/search_request.h"
#include "site/site_config.h"
#include "text/date_time.h"

namespace qlok {

// Stores the registration of `request` (its address, registration number,
// daily maximum and `registration_record` as its settings) in `store` at
// `now`, with the fingerprints of the first match mail's jobs: the first
// `mailed_count` rows of `mailed_jobs` (which must keep them; nullptr when
// no match mail goes out). Returns the header fields of the registration's
// match mail, with the links of its token. Never throws: when the
// registration cannot be kept (a registration number other than 1 to 5, a
// database that refuses, is full or stays locked), one line goes to
// `errors` and it returns nothing: the request must then tell the visitor
// that the registration was not made, and send no mail for it. When `kept`
// is given, it receives the registration as stored (left as it is when
// none was kept).
std::optional<MailHeaders> KeepRegistration(
    RegistrationStore& store, const SearchRequest& request,
    const std::u16string& registration_record, Recordset* mailed_jobs,
    int64_t mailed_count, const DateTime& now, const SiteConfig& site,
    ErrorLog& errors, Registration* kept = nullptr);

}  // namespace qlok

#endif  // QLOK_REGISTRATIONS_KEEP_REGISTRATION_H_
