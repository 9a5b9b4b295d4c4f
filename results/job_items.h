// The items of one job, label by label, as both the result page and the
// match mail show them.
//
// There is one description of the items (RenderJobItems). Where the page and
// the mail differ, the difference is a named field of JobMedium, and the two
// media are the two constants PageMedium() and MailMedium(); everything not
// named there is the same for both.
//
// Values are read by column name from the current row. A null column
// contributes the empty text; a null in a comparison makes it false (so a
// null is "not -1" and "not 0", but never "-1", "0 or more" or "equal").
// Numbers are compared as whole numbers; text lengths count UTF-16 code
// units.
#ifndef QLOK_RESULTS_JOB_ITEMS_H_
#define QLOK_RESULTS_JOB_ITEMS_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/database.h"
#include "platform/value.h"
#include "site/site_config.h"

namespace qlok {

// What sets the page ("<BR>", HTML) and the mail (CR LF, plain text) apart.
struct JobMedium {
  // The break before (almost) every item and between the lines of an item.
  std::u16string_view line_break;
  // 社名 counts as missing when null or shorter than this.
  size_t company_name_min_length;
  // The lines shown for a job of the public employment service before the
  // address of its job-search site, then the address (this member of the
  // site configuration), then one more line.
  std::span<const std::u16string_view> service_lines_before_link;
  std::u16string SiteConfig::*service_link;
  std::u16string_view service_line_after_link;
  // When the head office contains the middle of 就労場所1, the map address
  // is written as a link opening a new window (page) instead of a plain line.
  bool map_anchor_when_place_matches;
  // 時補 is shown when it has at least this many characters.
  size_t hours_note_min_length;
  // The breaks that close the application notes.
  int breaks_after_application_notes;
  // rankmemo with its CR LF turned into "<BR>" (page) or as stored (mail).
  bool rankmemo_breaks_as_html;
};

const JobMedium& PageMedium();
const JobMedium& MailMedium();

// "＝＝＝＝＝＝＝＝【求人" + number + "】＝＝＝＝＝＝＝＝": the heading of a
// job; each medium puts its own breaks around it.
std::u16string JobHeading(int64_t number);

// The items of the current row of `job` (company through recommendation),
// for `medium`, with the addresses of `site`. Throws Failure when the row
// lacks a column, a number column holds no number, or the map link of a
// shown head office fails; nothing is caught here.
std::u16string RenderJobItems(const Recordset& job, const JobMedium& medium,
                              const SiteConfig& site);

// The hours-and-minutes text of a working-time value: its text form
// ("2000/01/01 8:30:00", or the date alone at midnight, then read as
// "00:00:00") without the ten characters of the date and the last three (the
// seconds): " 8:30", " 18:05", "00:00". A value whose text is too short to
// hold a date and seconds gives what is left, never a failure.
std::u16string HoursMinutes(const Value& time);

// True for a job number of the public employment service: a text matching
// "*?????-????*". A null never matches.
bool IsServiceJobNumber(const Value& job_number);

}  // namespace qlok

#endif  // QLOK_RESULTS_JOB_ITEMS_H_
