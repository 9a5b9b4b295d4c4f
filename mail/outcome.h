// The texts that close a search or a registration on the page.
#ifndef QLOK_MAIL_OUTCOME_H_
#define QLOK_MAIL_OUTCOME_H_

#include <cstdint>
#include <string>

namespace qlok {

// A search that found no job: the notice, then the page text as it was
// (the search form).
std::u16string NoHitNotice(const std::u16string& page_text);

// A registration: the confirmation that replaces the whole page text. With
// `mail_job_count` above 0 it says how many jobs the first match mail held,
// otherwise that jobs will be sent once found; both end with the note that
// shows `sender_address` (placed as it stands, not HTML-escaped) and the
// note on the top page. The same whether or not a mail was delivered.
std::u16string RegistrationOutcome(int64_t mail_job_count,
                                   const std::u16string& sender_address);

// A registration that could not be kept: the line above the search's own
// page (the hit count, the form filled again, the sample jobs), asking the
// visitor to send it again later. Nothing was registered and no mail went.
std::u16string RegistrationNotKeptNotice();

}  // namespace qlok

#endif  // QLOK_MAIL_OUTCOME_H_
