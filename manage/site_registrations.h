// The registrations of the site's database, as the manage page opens them.
#ifndef QLOK_MANAGE_SITE_REGISTRATIONS_H_
#define QLOK_MANAGE_SITE_REGISTRATIONS_H_

#include <memory>

#include "consent/consent_store.h"
#include "platform/database.h"
#include "platform/text_files.h"
#include "registrations/registration_store.h"

namespace qlok {

// Opens the database on the first call of Store() and keeps it open until
// it is destroyed.
class SiteRegistrations {
 public:
  SiteRegistrations(TextFiles& files, Databases& databases)
      : files_(files), databases_(databases) {}

  // The store on the database that line 3 of pw/qevo.txt names (opened as
  // the search page opens it: a refused first open is tried once more).
  // The connection refuses every change to the job table 求人: the manage
  // page only reads and stops registrations and counts lookups. Later calls
  // give the same store. Throws Failure when the file or the database
  // fails; the next call then tries again.
  RegistrationStore& Store();

  // The consent of the registrations on the same connection (opened as
  // Store() opens it). Throws Failure as Store() does.
  ConsentStore& Consents();

 private:
  TextFiles& files_;
  Databases& databases_;
  std::unique_ptr<Connection> connection_;
  std::unique_ptr<RegistrationStore> store_;
  std::unique_ptr<ConsentStore> consents_;
};

}  // namespace qlok

#endif  // QLOK_MANAGE_SITE_REGISTRATIONS_H_
