// For tests: the one fake MailSender, which records every mail offered and
// answers as the test sets it up, and the one fake Sleeper, whose pauses
// take no time (or pass on a fake clock).
#ifndef QLOK_PLATFORM_TESTING_RECORDING_MAIL_SENDER_H_
#define QLOK_PLATFORM_TESTING_RECORDING_MAIL_SENDER_H_

#include <algorithm>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/failure.h"
#include "platform/mail_sender.h"

namespace qlok {

class RecordingMailSender : public MailSender {
 public:
  // One call of SendMail, as it was made.
  struct Call {
    std::u16string server, recipient, sender, subject, body, attachments;
    MailOptions options;
    bool accepted = false;  // answered with the empty text
  };

  // The answer to a call: `answer_for` when it is set; else the next of
  // `answers` while there are any; else `answer`. The empty text accepts.
  std::function<std::u16string(const Call&)> answer_for;
  std::deque<std::u16string> answers;
  std::u16string answer;
  // Every call throws Failure instead of answering (a sender that cannot
  // be loaded).
  bool throws = false;
  // With a clock, each call takes `call_ms` on it, cut to the attempt's
  // own limit: a silent relay is `call_ms` = 20000 with a timeout answer.
  FakeMonotonicClock* clock = nullptr;
  long call_ms = 0;
  // Called after each mail accepted.
  std::function<void()> on_accept;

  std::vector<Call> calls;  // every call, in order

  // The calls that were accepted, in order.
  std::vector<Call> Accepted() const {
    std::vector<Call> accepted;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(accepted),
                 [](const Call& call) { return call.accepted; });
    return accepted;
  }

  std::u16string SendMail(const std::u16string& server,
                          const std::u16string& recipient,
                          const std::u16string& sender,
                          const std::u16string& subject,
                          const std::u16string& body,
                          const std::u16string& attachments,
                          const MailOptions& options) override {
    if (throws) throw Failure("libcurl: cannot be loaded");
    Call call{server, recipient, sender, subject, body, attachments, options};
    if (clock != nullptr) {
      clock->Advance(options.time_limit_ms > 0
                         ? std::min(options.time_limit_ms, call_ms)
                         : call_ms);
    }
    std::u16string result;
    if (answer_for) {
      result = answer_for(call);
    } else if (!answers.empty()) {
      result = answers.front();
      answers.pop_front();
    } else {
      result = answer;
    }
    call.accepted = result.empty();
    calls.push_back(call);
    if (call.accepted && on_accept) on_accept();
    return result;
  }
  using MailSender::SendMail;
};

// Pauses that take no time, recorded; with a clock, each passes on it
// (`overrun_ms` longer than asked, as a busy machine oversleeps).
class FakeSleeper : public Sleeper {
 public:
  void Sleep(int milliseconds) override {
    pauses.push_back(milliseconds);
    slept += milliseconds;
    if (clock != nullptr) clock->Advance(milliseconds + overrun_ms);
  }
  std::vector<int> pauses;
  int64_t slept = 0;
  FakeMonotonicClock* clock = nullptr;
  int overrun_ms = 0;
};

}  // namespace qlok

#endif  // QLOK_PLATFORM_TESTING_RECORDING_MAIL_SENDER_H_
