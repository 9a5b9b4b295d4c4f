// The numbering of requests in the settings store.
#ifndef QLOK_SEARCH_TURN_NUMBER_H_
#define QLOK_SEARCH_TURN_NUMBER_H_

#include <chrono>
#include <optional>
#include <string_view>

#include "platform/clock.h"
#include "platform/process_info.h"
#include "platform/settings_store.h"

namespace qlok {

// Gives the request its turn number and leaves its trace in the store,
// under application "MyApp", section "Startup_j":
//   - while another instance of the program runs, the number is the stored
//     "jun" (default "100") plus one; otherwise it is 100;
//   - "jun" becomes the number (written durably), the key named by the
//     number holds this process's id, and both "<number>time" and
//     "tyokuzen" hold the current local date and time in the general text
//     form ("2000/01/02 5:00:00");
//   - the keys of numbers 1,000 or more below the number are removed, and
//     when the count starts again at 100, those the run before left.
// The instance test and the reading and writing of "jun" happen under the
// store's lock, so requests that overlap never share a number and "jun"
// only grows while they do. The only wait is for that lock, held by others
// for as long as one claim takes, at most `lock_patience` (what the
// request's time allows).
// Throws Failure, having written nothing, when the lock cannot be had in
// that time or at all: a number taken without it could be another's, and
// the request ends with the error page rather than share it. Past the
// lock, each step that fails is skipped and the next one runs. A
// "jun" that is no 32-bit whole number (see ParseTurnNumber) counts as
// nothing, so the number becomes 1. When the instance test itself fails the
// count goes on from "jun", as when others run. A failing write leaves that
// key as it was; the number is returned all the same.
int AssignTurnNumber(SettingsStore& settings, ProcessInfo& processes,
                     Clock& clock, std::chrono::milliseconds lock_patience);

// A stored text as a 32-bit whole number: blanks around it, a sign, digits
// with a fraction and an exponent are allowed ("104", " 7 ", "1.5E2"); a
// fraction is rounded to the nearest whole number, halves to the even one
// ("2.5" gives 2, "3.5" gives 4). nullopt for any other text and for a
// number outside the 32-bit range.
std::optional<int> ParseTurnNumber(std::u16string_view text);

}  // namespace qlok

#endif  // QLOK_SEARCH_TURN_NUMBER_H_
