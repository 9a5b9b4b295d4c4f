#include "bounces/bounce_message.h"

#include <gtest/gtest.h>

namespace qlok {
namespace {

constexpr char kToken[] = "0123456789abcdef0123456789abcdef";
constexpr char16_t kBounceAddress[] = u"bounces@jobs.test";

// A report to `to` with the delivery-status body `status` (its content
// type `status_type`, its transfer encoding `encoding`) and `returned` as
// the third part (empty: none).
std::string Report(const std::string& to, const std::string& status,
                   const std::string& returned = "",
                   const std::string& status_type = "message/delivery-status",
                   const std::string& encoding = "") {
  std::string m =
      "From: MAILER-DAEMON@mx.example.jp (Mail Delivery System)\r\n"
      "To: " +
      to +
      "\r\n"
      "Subject: Undelivered Mail Returned to Sender\r\n"
      "MIME-Version: 1.0\r\n"
      "Content-Type: multipart/report; report-type=\"delivery-status\";\r\n"
      "\tboundary=\"B\"\r\n\r\n"
      "--B\r\nContent-Type: text/plain\r\n\r\nThe mail could not be "
      "delivered.\r\n\r\n"
      "--B\r\nContent-Type: " +
      status_type + "\r\n";
  if (!encoding.empty()) m += "Content-Transfer-Encoding: " + encoding + "\r\n";
  m += "\r\n" + status + "\r\n";
  if (!returned.empty()) m += "--B\r\n" + returned + "\r\n";
  return m + "--B--\r\n";
}

std::string Status(const std::string& action, const std::string& status) {
  return "Reporting-MTA: dns; mx.example.jp\r\n"
         "Arrival-Date: Thu, 10 Dec 2026 07:00:01 +0900 (JST)\r\n\r\n"
         "Final-Recipient: rfc822; nobody@example.jp\r\n"
         "Original-Recipient: rfc822;nobody@example.jp\r\n"
         "Action: " +
         action +
         "\r\n"
         "Status: " +
         status +
         "\r\n"
         "Diagnostic-Code: smtp; 550 5.1.1 <nobody@example.jp>:\r\n"
         "    Recipient address rejected: User unknown\r\n";
}

const std::string kVerp = std::string("bounces+") + kToken + "@jobs.test";

TEST(ReadBounceMessageTest, TellsEachKindOfMessage) {
  const std::string headers_part =
      std::string(
          "Content-Type: text/rfc822-headers\r\n\r\n"
          "From: =?UTF-8?B?5rGC6IG3?= <info@jobs.test>\r\n"
          "To: <nobody@example.jp>\r\n"
          "List-Unsubscribe: <https://jobs.test/q/q_lok-manage.cgi?t=") +
      kToken + ">,\r\n <mailto:info@jobs.test>\r\n";
  const std::string message_part =
      std::string(
          "Content-Type: message/rfc822\r\n\r\n"
          "From: info@jobs.test\r\nTo: nobody@example.jp\r\n"
          "List-Unsubscribe: <https://jobs.test/m.cgi?x=1&t=") +
      kToken + ">\r\nSubject: s\r\n\r\nbody\r\n";
  const struct {
    const char* what;
    std::string message;
    BounceReading::Kind kind;
    std::string status;
    std::string token;
  } cases[] = {
      {"a hard bounce to the VERP address",
       Report(kVerp, Status("failed", "5.1.1")), BounceReading::kHard, "5.1.1",
       kToken},
      {"the VERP address named in a display form",
       Report("Bounces <" + kVerp + ">",
              Status("failed", "5.2.1 (mailbox disabled)")),
       BounceReading::kHard, "5.2.1", kToken},
      {"a soft bounce", Report(kVerp, Status("failed", "4.2.2")),
       BounceReading::kSoft, "4.2.2", kToken},
      {"a delay", Report(kVerp, Status("delayed", "4.4.7")),
       BounceReading::kSoft, "4.4.7", kToken},
      {"a delivery notice", Report(kVerp, Status("delivered", "2.0.0")),
       BounceReading::kNoFailure, "", kToken},
      {"the token of the returned head",
       Report("info@jobs.test", Status("failed", "5.1.1"), headers_part),
       BounceReading::kHard, "5.1.1", kToken},
      {"the token of the returned message",
       Report("info@jobs.test", Status("failed", "5.1.1"), message_part),
       BounceReading::kHard, "5.1.1", kToken},
      {"no token anywhere", Report("info@jobs.test", Status("failed", "5.1.1")),
       BounceReading::kHard, "5.1.1", ""},
      {"a status part in base64",
       Report(kVerp,
              "UmVwb3J0aW5nLU1UQTogZG5zOyBteAoKRmluYWwtUmVjaXBpZW50OiByZmM4"
              "MjI7IGFAYi5qcApBY3Rpb246IGZhaWxlZApTdGF0dXM6IDUuMS4xCg==",
              "", "message/delivery-status", "base64"),
       BounceReading::kHard, "5.1.1", kToken},
      {"a global delivery status",
       Report(kVerp, Status("failed", "5.1.1"), "",
              "message/global-delivery-status"),
       BounceReading::kHard, "5.1.1", kToken},
      {"an ordinary mail",
       "From: a@example.jp\r\nTo: " + kVerp +
           "\r\nSubject: hello\r\n\r\nthanks for the jobs\r\n",
       BounceReading::kNotABounce, "", ""},
      {"another kind of report",
       "From: a@example.jp\r\nTo: " + kVerp +
           "\r\nContent-Type: multipart/report; report-type=disposition-"
           "notification; boundary=B\r\n\r\n--B\r\nContent-Type: text/plain"
           "\r\n\r\nread\r\n--B--\r\n",
       BounceReading::kNotABounce, "", ""},
      {"a report without its status part",
       Report(kVerp, "no fields here", "", "text/plain"),
       BounceReading::kMalformed, "", ""},
      {"a status part without a recipient",
       Report(kVerp, "Reporting-MTA: dns; mx.example.jp\r\n"),
       BounceReading::kMalformed, "", ""},
      {"nothing at all", "", BounceReading::kMalformed, "", ""},
      {"bytes that are no mail", std::string("\0\x01\xff\xfe", 4),
       BounceReading::kMalformed, "", ""},
  };
  for (const auto& c : cases) {
    const BounceReading reading = ReadBounceMessage(c.message, kBounceAddress);
    EXPECT_EQ(reading.kind, c.kind) << c.what << ": " << reading.what;
    EXPECT_EQ(reading.status, c.status) << c.what;
    EXPECT_EQ(reading.token, c.token) << c.what;
    EXPECT_FALSE(reading.what.empty()) << c.what;
  }
}

TEST(ReadBounceMessageTest, NamesTheFailedRecipient) {
  const BounceReading reading = ReadBounceMessage(
      Report(kVerp, Status("failed", "5.1.1")), kBounceAddress);
  EXPECT_EQ(reading.recipient, "nobody@example.jp");
  EXPECT_EQ(reading.what, "status 5.1.1 for nobody@example.jp");
}

}  // namespace
}  // namespace qlok
