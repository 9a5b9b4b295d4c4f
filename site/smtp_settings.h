// The settings of the SMTP sender as the site's site.conf gives them.
#ifndef QLOK_SITE_SMTP_SETTINGS_H_
#define QLOK_SITE_SMTP_SETTINGS_H_

#include "platform/smtp_mail_sender.h"
#include "site/site_config.h"

namespace qlok {

// The settings of site.conf's [smtp] section: TLS required or
// opportunistic, the connect and attempt timeouts. Never fails.
SmtpSettings SmtpSettingsFor(const SiteConfig& site);

}  // namespace qlok

#endif  // QLOK_SITE_SMTP_SETTINGS_H_
