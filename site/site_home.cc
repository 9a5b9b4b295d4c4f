#include "site/site_home.h"

#include <cstdlib>

namespace qlok {

std::string SiteHome() {
  const char* home = std::getenv("Q_LOK_HOME");
  if (home == nullptr || *home == '\0') return kDefaultSiteHome;
  return home;
}

}  // namespace qlok
