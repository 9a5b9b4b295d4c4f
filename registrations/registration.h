// A registration for the daily job-match mail, as the pages and mails see
// it: what a registration through the search page keeps, how its stored
// settings become its search again, and the links of its mails.
//
// Pure: values in, texts out.
#ifndef QLOK_REGISTRATIONS_REGISTRATION_H_
#define QLOK_REGISTRATIONS_REGISTRATION_H_

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "search/search_request.h"
#include "site/site_config.h"

namespace qlok {

// Header fields of a mail, as MailOptions carries them.
using MailHeaders = std::vector<std::pair<std::string, std::string>>;

// The name of the manage page's query parameter that carries the token:
// the link is [manage] page_url + "?t=" + token.
inline constexpr char kTokenParameter[] = "t";

// The registration number of a request: aa6 when it is a whole number from
// 1 to 5 (the form offers nothing else); nullopt otherwise.
std::optional<int> RegistrationNumberOf(const SearchRequest& request);

// The daily maximum a registration keeps: aa8 rounded as the first mail
// rounds it, at most 100; a request that sets no limit (aa8 absent or
// below 1) keeps 100.
int DailyMaximumOf(const SearchRequest& request);

// The stored settings (a registration record: "_su=ss0", "aaa=..." ...
// "asa=...", "zzz", lines joined by CR LF) as the search form would post
// them: every field in the form's order, the checked boxes between aai and
// asa. ReadSearchRequest reads it back into the request the record was
// built from.
std::u16string PostedFormOfSettings(std::u16string_view settings);

// The search of stored settings: ReadSearchRequest of PostedFormOfSettings.
SearchRequest RequestOfSettings(std::u16string_view settings);

// The manage page's link for `token`: [manage] page_url, "?" (or "&" when
// the address has a query already), "t=" and the token.
std::u16string ManageLink(const SiteConfig& site, std::string_view token);

// The header fields of every match mail, the first and the daily:
//   List-Unsubscribe: <manage link>, <mailto:sender account 1>
//   List-Unsubscribe-Post: List-Unsubscribe=One-Click
//   Auto-Submitted: auto-generated
// Without a token (the registration could not be kept) only the last.
// Characters beyond ASCII in the link are percent-encoded; a sender
// address beyond ASCII is left out.
MailHeaders MatchMailHeaders(const SiteConfig& site, std::string_view token);

}  // namespace qlok

#endif  // QLOK_REGISTRATIONS_REGISTRATION_H_
