#include "registrations/registration.h"

#include <gtest/gtest.h>

#include "jobs/job_fingerprint.h"
#include "results/job_rows_testing.h"
#include "search/query_builder.h"
#include "search/search_form.h"
#include "text/unicode.h"

namespace qlok {
namespace {

using namespace testing_jobs;

SearchRequest Read(const char* body) {
  std::u16string posted = U16(body);
  return ReadSearchRequest(posted);
}

std::string Body(const std::string& fields) {
  return "_su=is1&aaa=taro@example.jp&" + fields + "&zzz=end";
}

TEST(RegistrationTest, StoredSettingsGiveBackTheSameSearch) {
  const std::vector<std::string> bodies = {
      Body("aa6=1&aa8=100&aab=&aac=事務　経理&aad=&aae=土日&aaf=830&aag=1730&"
           "aah=&aai=0&asa=0"),
      Body("aa6=3&aa8=10&aab=３５&aac=&aad=看護　介護　保育&aae=祝&aaf=2200&"
           "aag=0500&aah=東京都　大阪&aai=0&agc=1&ark=1&ara=1&asa=1"),
      Body("aa6=5&aa8=50&aab=&aac=a b&aad=&aae=&aaf=0030&aag=2530&aah=&"
           "aai=0&aga=1&agb=1&agea=1&agf=1&arb=1&arc=1&ard=1&ari=1&arj=1&"
           "asa=2"),
      // Values that hold the form's own signs, quotes and a long content
      // text cut at its "＆".
      Body("aa6=2&aa8=20&aab=&aac=O'Neil&aad=" + std::string(12, 'x') + "&" +
           std::string(17, 'y') + "&aae=&aaf=&aag=&aah=a=b&c&aai=0&asa="),
      Body("aa6=1&aa8=&aab=&aac=&aad=&aae=&aaf=&aag=&aah=&aai=0&asa=2"),
  };
  for (const std::string& body : bodies) {
    const SearchRequest request = Read(body.c_str());
    const std::u16string record = BuildRegistrationRecord(request);
    const SearchRequest again = RequestOfSettings(record);
    EXPECT_EQ(BuildQuery(again), BuildQuery(request)) << body;
    EXPECT_EQ(BuildRegistrationRecord(again), record) << body;
    EXPECT_EQ(again.address, u"taro@example.jp");
  }
}

TEST(RegistrationTest, NumberAndDailyMaximumAsTheRegistrationKeepsThem) {
  struct Case {
    const char* aa6;
    const char* aa8;
    std::optional<int> number;
    int maximum;
  };
  const Case cases[] = {
      {"1", "100", 1, 100}, {"5", "10", 5, 10},    {"2", "50", 2, 50},
      {"0", "30", {}, 30},  {"6", "20", {}, 20},   {"2.5", "0", {}, 100},
      {"", "", {}, 100},    {"3", "500", 3, 100},  {"4", "-3", 4, 100},
      {"1", "2.5", 1, 2},   {"1", "99.6", 1, 100}, {"abc", "1", {}, 1},
  };
  for (const Case& c : cases) {
    const std::string body =
        Body(std::string("aa6=") + c.aa6 + "&aa8=" + c.aa8 +
             "&aab=&aac=&aad=&aae=&aaf=&aag=&" + "aah=&aai=0&asa=2");
    const SearchRequest request = Read(body.c_str());
    EXPECT_EQ(RegistrationNumberOf(request), c.number) << c.aa6;
    EXPECT_EQ(DailyMaximumOf(request), c.maximum) << c.aa8;
  }
}

TEST(RegistrationTest, LinksAndHeadersOfTheMatchMails) {
  struct Case {
    const char16_t* manage_url;
    const char16_t* sender;
    std::string token;
    std::u16string link;
    MailHeaders headers;
  };
  const std::string token = "0123456789abcdef0123456789abcdef";
  const std::pair<std::string, std::string> post = {
      "List-Unsubscribe-Post", "List-Unsubscribe=One-Click"};
  const std::pair<std::string, std::string> automatic = {"Auto-Submitted",
                                                         "auto-generated"};
  const Case cases[] = {
      {u"https://jobs.example.jp/q/q_lok-manage.cgi",
       u"info@jobs.example.jp",
       token,
       u"https://jobs.example.jp/q/q_lok-manage.cgi?t=" + U16(token),
       {{"List-Unsubscribe", "<https://jobs.example.jp/q/q_lok-manage.cgi?t=" +
                                 token + ">, <mailto:info@jobs.example.jp>"},
        post,
        automatic}},
      {u"https://x.jp/manage?site=2",
       u"info@x.jp",
       token,
       u"https://x.jp/manage?site=2&t=" + U16(token),
       {{"List-Unsubscribe",
         "<https://x.jp/manage?site=2&t=" + token + ">, <mailto:info@x.jp>"},
        post,
        automatic}},
      // Beyond ASCII: the link percent-encoded, such a sender left out.
      {u"https://例え.jp/登録",
       u"情報@例え.jp",
       token,
       u"https://例え.jp/登録?t=" + U16(token),
       {{"List-Unsubscribe",
         "<https://%E4%BE%8B%E3%81%88.jp/%E7%99%BB%E9%8C%B2?t=" + token + ">"},
        post,
        automatic}},
      // No token: the registration was not kept.
      {u"https://x.jp/m", u"info@x.jp", "", u"https://x.jp/m?t=", {automatic}},
  };
  for (const Case& c : cases) {
    SiteConfig site = SiteConfig::Defaults();
    site.manage_url = c.manage_url;
    site.sender_addresses[0] = c.sender;
    EXPECT_EQ(ManageLink(site, c.token), c.link);
    EXPECT_EQ(MatchMailHeaders(site, c.token), c.headers) << U8(c.manage_url);
  }
}

TEST(JobFingerprintTest, TheSameContentGivesTheSameFingerprint) {
  const JobRow base = QuietJobRow();
  struct Case {
    const char* change;
    std::function<void(JobRow&)> apply;
    bool same;
  };
  const std::vector<Case> cases = {
      {"nothing", [](JobRow&) {}, true},
      {"rank", [](JobRow& r) { r[u"rank"] = N(99); }, true},
      {"rankmemo", [](JobRow& r) { r[u"rankmemo"] = T(u"お勧め"); }, true},
      {"company", [](JobRow& r) { r[u"社名"] = T(u"株式会社見本２"); }, false},
      {"pay", [](JobRow& r) { r[u"下固給"] = N(180000); }, false},
      {"start", [](JobRow& r) { r[u"始時"] = Time(9, 0); }, false},
      {"null to empty", [](JobRow& r) { r[u"電話"] = T(u""); }, false},
      {"text to number", [](JobRow& r) { r[u"電話"] = N(0); }, false},
      // Two texts that run together the same way are still told apart.
      {"shifted text",
       [](JobRow& r) {
         r[u"社名"] = T(u"株式会社見");
         r[u"求人番"] = T(u"本");
       },
       false},
  };
  JobRows original({base});
  const std::string fingerprint = JobFingerprint(original);
  EXPECT_EQ(fingerprint.size(), 32u);
  for (const Case& c : cases) {
    JobRow row = base;
    c.apply(row);
    JobRows changed({row});
    EXPECT_EQ(JobFingerprint(changed) == fingerprint, c.same) << c.change;
  }
  original.MoveNext();
  EXPECT_THROW(JobFingerprint(original), Failure);
}

}  // namespace
}  // namespace qlok
