#include "site/smtp_settings.h"

namespace qlok {

SmtpSettings SmtpSettingsFor(const SiteConfig& site) {
  SmtpSettings settings;
  settings.tls_required = site.smtp_tls == SiteConfig::kTlsRequired;
  settings.connect_timeout_ms = site.smtp_connect_timeout * 1000L;
  settings.attempt_timeout_ms = site.smtp_attempt_timeout * 1000L;
  return settings;
}

}  // namespace qlok
