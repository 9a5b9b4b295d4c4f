#include "frame/error_page.h"

#include <algorithm>
#include <exception>

#include "platform/failure.h"
#include "text/html_escape.h"
#include "text/unicode.h"

namespace qlok {
namespace {

constexpr size_t kMaxReportBytes = 2000;

std::u16string TwoDigits(int value) {
  std::u16string digits = Digits(value);
  return digits.size() < 2 ? u"0" + digits : digits;
}

// `reason` as one line of the error log.
std::string OneLine(const std::string& reason) {
  size_t cut = std::min(reason.size(), kMaxReportBytes);
  // Cut before a character, not inside one.
  while (cut > 0 && cut < reason.size() &&
         (static_cast<unsigned char>(reason[cut]) & 0xC0) == 0x80) {
    --cut;
  }
  std::string line = reason.substr(0, cut);
  for (char& c : line) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) c = ' ';
  }
  return line;
}

}  // namespace

std::u16string WebDate(const DateTime& local) {
  static constexpr const char16_t* kDays[7] = {u"Sun", u"Mon", u"Tue", u"Wed",
                                               u"Thu", u"Fri", u"Sat"};
  static constexpr const char16_t* kMonths[12] = {
      u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
      u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
  DateTime t = AddSeconds(local, -9 * 3600);
  return std::u16string(kDays[Weekday(t)]) + u" " + TwoDigits(t.day) + u" " +
         kMonths[t.month - 1] + u" " + Digits(t.year) + u" " +
         TwoDigits(t.hour) + u":" + TwoDigits(t.minute) + u":" +
         TwoDigits(t.second) + u" GMT";
}

void ShowErrorPage(RequestFields& fields, std::u16string_view title,
                   const DateTime& now) {
  fields.ResponseHeader =
      u"Content-type: text/html\r\nStatus: 500 Internal Server Error\r\n";
  std::u16string t(title.empty() ? kServerErrorTitle : title);
  std::u16string& page = fields.PageBuffer;
  page.clear();
  // The page shell's head (code page, phone viewport, style sheet), so that
  // the page reads like the others on every screen.
  AppendLine(page,
             u"<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 "
             u"Transitional//EN\"><HTML lang=\"ja\"><HEAD><meta "
             u"http-equiv=\"Content-Type\" content=\"text/html; "
             u"charset=shift_jis\">");
  AppendLine(page, std::u16string(kPhoneViewport));
  AppendLine(page,
             u"<LINK rel=\"stylesheet\" type=\"text/css\" "
             u"href=\"../style2.css\">");
  AppendLine(page, u"<TITLE>" + t + u"</TITLE></HEAD><BODY>");
  AppendLine(page, u"<DIV ALIGN=\"LEFT\">");
  AppendLine(page, u"<H1>" + t + u"</H1><HR>");
  AppendLine(page,
             u"申し訳ございません。ただいまこのページを表示できません。<BR>"
             u"しばらく時間をおいてから、もう一度お試しください。<BR><BR>");
  AppendLine(page, u"<small>" + WebDate(now) + u"</small><BR><BR>");
  AppendLine(page, u"<A HREF=\"" + EscapeHtml(fields.HttpReferer) +
                       u"\">前のページへ戻る</A><BR>");
  AppendLine(page, u"</DIV>");
  AppendLine(page, u"</BODY>");
  AppendLine(page, u"</HTML>");
}

bool ErrorTrap::Run(RequestFields& fields,
                    const std::function<void()>& stretch) {
  try {
    stretch();
    return true;
  } catch (const Failure& failure) {
    Report(failure.what());
  } catch (const std::exception& exception) {
    Report(std::string("unexpected error: ") + exception.what());
  } catch (...) {
    Report("unexpected error of unknown kind");
  }
  ShowErrorPage(fields, kRuntimeErrorTitle, clock_.Now());
  return false;
}

void ErrorTrap::Report(const std::string& reason) {
  errors_ << "q_lok: " << OneLine(reason) << '\n';
  errors_.flush();
}

}  // namespace qlok
