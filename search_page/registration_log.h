// The registration log: one record per request in "received/worqlet.txt"
// under the site home.
#ifndef QLOK_SEARCH_PAGE_REGISTRATION_LOG_H_
#define QLOK_SEARCH_PAGE_REGISTRATION_LOG_H_

#include <string>

#include "platform/clock.h"
#include "platform/text_files.h"

namespace qlok {

// The log's path relative to the site home.
inline constexpr char kRegistrationLogPath[] = "received/worqlet.txt";

// The three lines of one record, each ended by CR LF: the time of day
// ("12:00:00"); "メルアドなし  along=<turn>" when `visitor_address` is
// empty, else "<address>  along=<turn>"; `query_text` as given.
std::u16string RegistrationLogRecord(const DateTime& now,
                                     const std::u16string& visitor_address,
                                     int turn_number,
                                     const std::u16string& query_text);

// Appends this request's record to the log, in the ANSI code page, with one
// append so that the records of concurrent requests never mix, whole or not
// at all. When the time of day is later than 23:50:00 the log is emptied
// first, so in the last ten minutes of a day it holds only the latest
// request's record. The log must exist: a missing log, or one that cannot
// be emptied or take the whole record, throws Failure (nothing here catches
// it).
void AppendRegistrationLog(TextFiles& files, Clock& clock,
                           const std::u16string& visitor_address,
                           int turn_number, const std::u16string& query_text);

}  // namespace qlok

#endif  // QLOK_SEARCH_PAGE_REGISTRATION_LOG_H_
