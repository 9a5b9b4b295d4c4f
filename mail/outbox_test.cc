#include "mail/outbox.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

OutboxMessage Message(std::u16string body) {
  OutboxMessage message;
  message.kind = "registration_record";
  message.mail = {u"info@example.jp", u"ss0", std::move(body), {}};
  message.kept_at = DateTime{2026, 12, 9, 12, 3, 4};
  message.answer = u"Timeout was reached";
  return message;
}

// Messages whose texts could break a line-based record.
std::vector<OutboxMessage> TrickyMessages() {
  std::vector<OutboxMessage> messages;
  messages.push_back(Message(u"_su=ss0\r\naaa=taro@example.jp\r\nzzz"));
  messages.push_back(Message(u""));
  OutboxMessage lines = Message(u"body: 3\nkind: x\r\n\r\n\\n");
  lines.mail.subject = u"件名\r\nBcc: x@evil.test\t\\";
  lines.mail.recipient = u"a\nb@example.jp";
  lines.answer = u"421 busy\r\n421 still busy";
  lines.mail.headers = {{"List-Unsubscribe", "<https://jobs.test/m?t=a\tb>"},
                        {"X-Odd\\Name", "line\r\nbreak"},
                        {"Auto-Submitted", ""}};
  messages.push_back(lines);
  OutboxMessage wide = Message(std::u16string(40000, u'求') + u"😀\r\n");
  wide.kind = "match_mail";
  wide.mail.subject = u"求人がみつかりました";
  wide.mail.envelope_sender = "bounces+0123456789abcdef@jobs.test";
  messages.push_back(wide);
  return messages;
}

TEST(OutboxTextTest, MessagesComeBackExactly) {
  for (const OutboxMessage& message : TrickyMessages()) {
    const std::string text = EncodeOutboxMessage(message);
    EXPECT_EQ(DecodeOutboxMessage(text), message) << text.substr(0, 200);
    // The body stands in the file as it is, after the head.
    const std::string body = U8(message.mail.body);
    EXPECT_EQ(text.substr(text.size() - body.size()), body);
  }
}

TEST(OutboxTextTest, RefusesWhatItDidNotWrite) {
  const std::string good = EncodeOutboxMessage(Message(u"abc"));
  struct Case {
    const char* name;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"other file", "From: someone\n\nhello"},
      {"body too short", good.substr(0, good.size() - 1)},
      {"body too long", good + "x"},
      {"no body line", good.substr(0, good.find("body: "))},
      {"bad time",
       std::string(good).replace(good.find("2026-12-09"), 10, "2026-13-09")},
      {"bad escape",
       std::string(good).replace(good.find("Timeout"), 7, "Time\\x")},
      {"bad count",
       std::string(good).replace(good.find("body: 3"), 7, "body: -3")},
  };
  for (const Case& c : cases) {
    EXPECT_THROW(DecodeOutboxMessage(c.text), Failure) << c.name;
  }
}

class FileOutboxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home_ = fs::temp_directory_path() /
            ("qlok_outbox_" + std::to_string(::getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(home_);
    fs::create_directories(home_);
    folder_ = (home_ / "outbox").string();
  }
  void TearDown() override { fs::remove_all(home_); }

  static mode_t Mode(const std::string& path) {
    struct stat status;
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
  }

  fs::path home_;
  std::string folder_;
};

TEST_F(FileOutboxTest, KeepsEachMessageWholeForItsOwnerOnly) {
  std::unique_ptr<Outbox> outbox = NewFileOutbox(folder_);
  EXPECT_THAT(outbox->List(), IsEmpty());  // no folder yet
  std::vector<std::string> names;
  std::vector<OutboxMessage> messages = TrickyMessages();
  messages[1].kept_at.year = 2025;  // the oldest
  for (const OutboxMessage& message : messages) {
    names.push_back(outbox->Put(message));
  }
  EXPECT_EQ(Mode(folder_), 0700u);
  std::vector<std::string> listed = outbox->List();
  ASSERT_EQ(listed.size(), messages.size());
  EXPECT_EQ(listed[0], names[1]);  // oldest first
  for (size_t i = 0; i < messages.size(); ++i) {
    EXPECT_EQ(outbox->Get(names[i]), messages[i]) << i;
    EXPECT_EQ(Mode(folder_ + "/" + names[i]), 0600u) << names[i];
  }
  // Nothing but the messages: no temporary file is left behind.
  size_t files = 0;
  for (const auto& entry : fs::directory_iterator(folder_)) {
    ++files;
    EXPECT_EQ(entry.path().extension(), ".mail") << entry.path();
  }
  EXPECT_EQ(files, messages.size());

  outbox->Remove(names[0]);
  outbox->Remove(names[0]);  // already gone: no failure
  EXPECT_EQ(outbox->List().size(), messages.size() - 1);
  EXPECT_THROW(outbox->Get(names[0]), Failure);
}

TEST_F(FileOutboxTest, ListsOnlyFinishedMessages) {
  std::unique_ptr<Outbox> outbox = NewFileOutbox(folder_);
  const std::string name = outbox->Put(Message(u"abc"));
  // What a process that stopped while writing leaves, and other files.
  std::ofstream(folder_ + "/.keeping.Ab12Cd") << "q_lok outbox message 1\n";
  std::ofstream(folder_ + "/notes.txt") << "operator's notes";
  EXPECT_THAT(outbox->List(), ElementsAre(name));
  // A damaged message is reported with its file, and stays.
  std::ofstream(folder_ + "/" + name, std::ios::app) << "more";
  try {
    outbox->Get(name);
    ADD_FAILURE() << "a damaged message was read";
  } catch (const Failure& failure) {
    EXPECT_NE(std::string(failure.what()).find(name), std::string::npos);
  }
  EXPECT_THAT(outbox->List(), ElementsAre(name));
}

TEST_F(FileOutboxTest, RefusesNamesOutsideTheOutboxAndUnplainKinds) {
  std::unique_ptr<Outbox> outbox = NewFileOutbox(folder_);
  for (const char* name : {"../site.conf", "x/../../a.mail", ".keeping.mail",
                           "a.txt", ".mail", ""}) {
    EXPECT_THROW(outbox->Get(name), Failure) << name;
    EXPECT_THROW(outbox->Remove(name), Failure) << name;
  }
  for (const char* kind : {"", "match mail", "../x", "a\nb"}) {
    OutboxMessage message = Message(u"b");
    message.kind = kind;
    EXPECT_THROW(outbox->Put(message), Failure) << kind;
  }
  EXPECT_THAT(outbox->List(), IsEmpty());
}

TEST_F(FileOutboxTest, AFolderThatCannotBeMadeIsAFailure) {
  std::ofstream(folder_) << "a file where the folder should be";
  std::unique_ptr<Outbox> outbox = NewFileOutbox(folder_);
  EXPECT_THROW(outbox->Put(Message(u"b")), Failure);
  EXPECT_THROW(outbox->List(), Failure);
}

TEST_F(FileOutboxTest, OneSenderAtATime) {
  // No folder, nothing to send: claimed without making the folder, which
  // belongs to the web server's user.
  EXPECT_NE(NewFileOutbox(folder_)->ClaimForSending(), nullptr);
  EXPECT_FALSE(std::filesystem::exists(folder_));

  std::filesystem::create_directories(folder_);
  std::unique_ptr<Outbox> first = NewFileOutbox(folder_);
  std::unique_ptr<Outbox> second = NewFileOutbox(folder_);
  {
    std::shared_ptr<void> claim = first->ClaimForSending();
    ASSERT_NE(claim, nullptr);
    EXPECT_EQ(second->ClaimForSending(), nullptr);
  }
  EXPECT_NE(second->ClaimForSending(), nullptr);  // given up with the object
  EXPECT_THAT(first->List(), IsEmpty());          // the claim is no message
}

}  // namespace
}  // namespace qlok
