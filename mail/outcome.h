// The texts that close a search or a registration on the page.
#ifndef QLOK_MAIL_OUTCOME_H_
#define QLOK_MAIL_OUTCOME_H_

#include <string>

namespace qlok {

// A search that found no job: the notice, then the page text as it was
// (the search form).
std::u16string NoHitNotice(const std::u16string& page_text);

}  // namespace qlok

#endif  // QLOK_MAIL_OUTCOME_H_
