#include "search_page/registration_limits.h"

#include "limits/counted_keys.h"
#include "text/unicode.h"

namespace qlok {
namespace {

constexpr int64_t kHourSeconds = 60 * 60;
constexpr int64_t kDaySeconds = 24 * kHourSeconds;

LimitRefusal Refusal(const Taken& taken, const DateTime& now,
                     std::string reason) {
  return {taken.free_at, SecondsUntil(now, taken.free_at), std::move(reason)};
}

std::u16string TwoDigits(int value) {
  return (value < 10 ? u"0" : u"") + Digits(value);
}

}  // namespace

std::optional<LimitRefusal> TakeRegistrationPlace(SendCounts& counts,
                                                  const SiteConfig& site,
                                                  const std::u16string& address,
                                                  const std::u16string& client,
                                                  const DateTime& now) {
  const Taken by_client = counts.Take({kRegistrationsFromClient, client,
                                       site.per_client_per_hour, kHourSeconds},
                                      now);
  if (!by_client.allowed) {
    return Refusal(by_client, now,
                   "more than " + std::to_string(site.per_client_per_hour) +
                       " registrations from the client in an hour");
  }
  const Taken by_address =
      counts.Take({kFirstMailsToAddress, CountedAddress(address),
                   site.mails_per_address_per_day, kDaySeconds},
                  now);
  if (!by_address.allowed) {
    counts.GiveBack(by_client.id);
    return Refusal(by_address, now,
                   "more than " +
                       std::to_string(site.mails_per_address_per_day) +
                       " registrations for the address in 24 hours");
  }
  return std::nullopt;
}

std::u16string TooManyRegistrationsPage(const DateTime& free_at) {
  // To the minute, rounded up: trying at the time shown always works.
  const DateTime at = AddSeconds(free_at, free_at.second > 0 ? 60 : 0);
  return u"ただいま、同じメールアドレスあて、または同じ接続元からのご登録が"
         u"多いため、このご登録はお受けできませんでした。<BR>"
         u"ご登録は行われておらず、メールもお送りしていません。<BR>"
         u"お手数ですが、" +
         Digits(at.month) + u"月" + Digits(at.day) + u"日 " + Digits(at.hour) +
         u"時" + TwoDigits(at.minute) +
         u"分以降に、もう一度お試しください。<BR>"
         u"ご迷惑をおかけして申し訳ございません。";
}

std::u16string TooManyRequestsHeaders(int64_t retry_after) {
  return u"Status: 429 Too Many Requests\r\nRetry-After: " +
         Digits(retry_after) + u"\r\n";
}

}  // namespace qlok
