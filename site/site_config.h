// The site configuration, read from site.conf in the site home: the
// addresses and names that differ from site to site. Every key has an
// example value that stands when the key is missing; README.md lists them.
#ifndef QLOK_SITE_SITE_CONFIG_H_
#define QLOK_SITE_SITE_CONFIG_H_

#include <array>
#include <string>
#include <vector>

namespace qlok {

struct Advertisement {
  std::u16string link;             // where the text link and the banner go
  std::u16string text;             // the text of the text link
  std::u16string tracking_image;   // 1x1 image beside the text link
  std::u16string banner_image;     // the banner picture
  std::u16string banner_tracking;  // 1x1 image beside the banner
};

struct SiteConfig {
  // [site]
  std::u16string top_url;   // top_url: the site's top page
  std::u16string map_base;  // map_base: scheme and host of the map page
  // [employment_service]
  std::u16string service_page_url;  // page_url: secure address, for the page
  std::u16string service_mail_url;  // mail_url: plain address, for the mail
  // [ad1] [ad2] [ad3]
  std::array<Advertisement, 3> ads;
  // [smtp]
  std::u16string first_relay;   // first_relay: host name
  std::u16string second_relay;  // second_relay: host name
  int submission_port = 587;    // submission_port: the relays' port 587
  int relay_port = 25;          // relay_port: the second relay's port 25
  // tls: whether a relay must offer STARTTLS before a login is sent
  // (a relay on a loopback address is trusted without it).
  enum Tls { kTlsRequired, kTlsOpportunistic };
  int smtp_tls = kTlsRequired;
  int smtp_connect_timeout = 5;   // connect_timeout: seconds to connect
  int smtp_attempt_timeout = 20;  // attempt_timeout: seconds per attempt
  // [senders]
  std::array<std::u16string, 3> sender_addresses;  // account1..account3
  // [request]
  int request_time_limit = 30;  // time_limit: seconds a request may take
  // [database]
  int database_connect_timeout = 5;     // connect_timeout: seconds
  int database_statement_timeout = 10;  // statement_timeout: seconds
  // [manage]
  std::u16string manage_url;       // page_url: the q_lok-manage.cgi page
  int manage_lookups_per_day = 3;  // lookups_per_day: list mails an address
  // [notify]
  // give_up_after: registrations in a row whose daily mail reached no
  // relay, after which the run stops and leaves the rest for the next run.
  int notify_give_up_after = 5;
  int notify_time_limit = 3600;  // time_limit: seconds a daily run may take
  // [site] (who sends the mails: shown in every daily mail and manage page)
  std::u16string operator_name;     // operator_name
  std::u16string operator_address;  // operator_address: postal address
  std::u16string operator_contact;  // operator_contact: mail or telephone
  // [registration]
  // confirmation: whether the owner of an address must confirm through the
  // manage link before daily mails go ("none": the site confirms otherwise).
  enum Confirmation { kConfirmationRequired, kConfirmationNone };
  int confirmation = kConfirmationRequired;
  int confirm_days = 7;        // confirm_days: unconfirmed ones are deleted
  int keep_stopped_days = 30;  // keep_stopped_days: stopped ones are deleted
  int mails_per_address_per_day = 3;  // first match mails to one address
  int per_client_per_hour = 10;       // registrations from one client
  // [mail]
  // bounce_address: the envelope sender of match and daily mails, as
  // local+TOKEN@domain; empty: the sender account's address.
  std::u16string bounce_address;
  int bounces_to_stop = 3;  // bounces_to_stop: hard bounces that stop one

  // Keys the file has that no program uses, as "line 12: [smtp] tsl", in
  // the order of the file. They are ignored; an operator's check shows them.
  std::vector<std::string> unknown_keys;

  // The example values, which stand for every key that site.conf lacks.
  static SiteConfig Defaults();
};

// Reads `path` (INI, UTF-8). A missing file gives the defaults; a file that
// cannot be parsed, or a number or word outside what its key takes (a port
// from 1 to 65535, seconds from 1 to 3600, "required" or "opportunistic"),
// throws Failure naming the line.
SiteConfig LoadSiteConfig(const std::string& path);

// True when [section] key is one the programs read.
bool IsKnownSiteConfigKey(const std::string& section, const std::string& key);

}  // namespace qlok

#endif  // QLOK_SITE_SITE_CONFIG_H_
