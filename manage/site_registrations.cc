#include "manage/site_registrations.h"

#include <string>

#include "results/data_access.h"

namespace qlok {

RegistrationStore& SiteRegistrations::Store() {
  if (store_ != nullptr) return *store_;
  const std::u16string connection_string = LoadConnectionString(files_);
  std::unique_ptr<Connection> connection =
      OpenJobDatabase(databases_, connection_string);
  connection->RefuseChangesTo(u"求人");
  std::unique_ptr<RegistrationStore> store = NewSqlRegistrationStore(
      *connection, nullptr, [this] { return LoadTokenKey(files_); });
  connection_ = std::move(connection);
  store_ = std::move(store);
  return *store_;
}

ConsentStore& SiteRegistrations::Consents() {
  if (consents_ != nullptr) return *consents_;
  Store();
  consents_ = NewSqlConsentStore(*connection_);
  return *consents_;
}

}  // namespace qlok
