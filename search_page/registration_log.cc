#include "search_page/registration_log.h"

#include <string>
#include <tuple>

#include "platform/code_page.h"
#include "text/date_time.h"
#include "text/unicode.h"

namespace qlok {

std::u16string RegistrationLogRecord(const DateTime& now,
                                     const std::u16string& visitor_address,
                                     int turn_number,
                                     const std::u16string& query_text) {
  std::u16string record = FormatTimeOfDay(now);
  record += u"\r\n";
  record += visitor_address.empty() ? u"メルアドなし" : visitor_address;
  record += u"  along=";
  record += Digits(turn_number);
  record += u"\r\n";
  record += query_text;
  record += u"\r\n";
  return record;
}

void AppendRegistrationLog(TextFiles& files, Clock& clock,
                           const std::u16string& visitor_address,
                           int turn_number, const std::u16string& query_text) {
  // One reading of the clock decides both the reset and the record's time.
  const DateTime now = clock.Now();
  const bool last_minutes_of_day =
      std::make_tuple(now.hour, now.minute, now.second) >
      std::make_tuple(23, 50, 0);
  if (last_minutes_of_day) files.Truncate(kRegistrationLogPath);
  files.Append(kRegistrationLogPath,
               ToAnsi(RegistrationLogRecord(now, visitor_address, turn_number,
                                            query_text)));
}

}  // namespace qlok
