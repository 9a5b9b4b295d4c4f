// The site home: the folder that holds every file the program touches
// (site.conf, pw/, received/, settings/).
#ifndef QLOK_SITE_SITE_HOME_H_
#define QLOK_SITE_SITE_HOME_H_

#include <string>

namespace qlok {

inline constexpr char kDefaultSiteHome[] = "/var/lib/q_lok";

// The value of the environment variable Q_LOK_HOME, or "/var/lib/q_lok"
// when it is unset or empty. The folder is not checked. Never fails.
std::string SiteHome();

}  // namespace qlok

#endif  // QLOK_SITE_SITE_HOME_H_
