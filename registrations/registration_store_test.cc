// Bound parameters, the read-only job table, and the registration store,
// on SQLite in memory and on the throw-away PostgreSQL server of the test
// fixture "postgres" (skipped when it does not run).
#include "registrations/registration_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>

#include "jobs/schema.h"
#include "platform/failure.h"
#include "platform/random_token.h"
#include "platform/testing/both_engines.h"
#include "registrations/token_seal.h"
#include "text/unicode.h"

namespace qlok {
namespace {

class StoreTest : public BothEnginesTest {
 protected:
  void SetUp() override {
    BothEnginesTest::SetUp();
    if (IsSkipped()) return;
    db_->Execute(JobTableSchema(db_->Engine()));
    db_->Execute(RegistrationSchema(db_->Engine()));
    store_ = NewSqlRegistrationStore(*db_);
  }
  void TearDown() override {
    store_.reset();
    BothEnginesTest::TearDown();
  }

  // The first field of each row of a statement, as text.
  std::vector<std::string> Column(const std::u16string& sql,
                                  const std::vector<Value>& parameters) {
    std::vector<std::string> out;
    auto rows = db_->Query(sql, parameters, 0);
    for (; !rows->AtEnd(); rows->MoveNext()) {
      out.push_back(U8(rows->Field(u"v").ToText()));
    }
    return out;
  }

  RegistrationInput Input(const std::u16string& address, int number,
                          const std::u16string& settings) {
    RegistrationInput input;
    input.address = address;
    input.number = number;
    input.settings = settings;
    return input;
  }

  std::unique_ptr<RegistrationStore> store_;
};

const DateTime kMonday{2026, 12, 7, 9, 0, 0};
const DateTime kTuesday{2026, 12, 8, 21, 30, 5};

// ---------------------------------------------------------------------------
// Bound parameters.

TEST_P(StoreTest, ParametersAreBoundNeverSpliced) {
  db_->Execute(u"CREATE TABLE t (v TEXT)");
  const std::vector<std::u16string> texts = {
      u"o'brien", u"'); DROP TABLE t; --", u"$1", u"求人　番号", u"a\"b\\c",
      u""};
  for (const std::u16string& text : texts) {
    Column(u"INSERT INTO t (v) VALUES ($1)", {Value::Text(text)});
    EXPECT_EQ(Column(u"SELECT v FROM t WHERE v = $1", {Value::Text(text)}),
              std::vector<std::string>{U8(text)})
        << U8(text);
  }
  // Parameters in any order, one of them twice.
  EXPECT_EQ(
      Column(u"SELECT CAST($2 AS TEXT) || '-' || CAST($1 AS TEXT) || '-' || "
             u"CAST($2 AS TEXT) AS v",
             {Value::Text(u"a"), Value::Text(u"b")}),
      std::vector<std::string>{"b-a-b"});
}

TEST_P(StoreTest, ParametersKeepTheirKinds) {
  db_->Execute(
      u"CREATE TABLE k (i INTEGER, t TEXT, d TIMESTAMP, day DATE, n INTEGER)");
  const DateTime at{2026, 12, 9, 8, 30, 0};
  Column(u"INSERT INTO k VALUES ($1, $2, $3, $4, $5)",
         {Value::Integer(-42), Value::Text(u"文字"), Value::DateTimeOf(at),
          Value::DateOf(at), Value()});
  auto row = db_->Query(u"SELECT * FROM k WHERE i = $1 AND d = $2",
                        {Value::Integer(-42), Value::DateTimeOf(at)}, 1);
  ASSERT_FALSE(row->AtEnd());
  EXPECT_EQ(row->Field(u"i"), Value::Integer(-42));
  EXPECT_EQ(row->Field(u"t"), Value::Text(u"文字"));
  EXPECT_EQ(row->Field(u"d"), Value::DateTimeOf(at));
  EXPECT_EQ(row->Field(u"day"), Value::DateOf(at));
  EXPECT_TRUE(row->Field(u"n").IsNull());
}

TEST_P(StoreTest, ParametersAndValuesMustMatch) {
  const std::vector<std::pair<std::u16string, size_t>> cases = {
      {u"SELECT $1 AS v", 0},
      {u"SELECT $1 AS v", 2},
      {u"SELECT $1 || $3 AS v", 2},  // $2 is never named
  };
  for (const auto& [sql, count] : cases) {
    std::vector<Value> values(count, Value::Text(u"x"));
    EXPECT_THROW(Column(sql, values), Failure) << U8(sql) << " " << count;
  }
  EXPECT_EQ(Column(u"SELECT 'still' AS v", {}),
            std::vector<std::string>{"still"});
}

TEST_P(StoreTest, AReadOnlyJobTableRefusesEveryChange) {
  db_->Execute(u"INSERT INTO 求人 (社名, rank) VALUES ('既存', 1)");
  db_->RefuseChangesTo(u"求人");
  if (db_->Engine() != "sqlite") GTEST_SKIP() << "the role's privileges decide";
  const std::vector<std::u16string> refused = {
      u"INSERT INTO 求人 (社名) VALUES ('x')",
      u"UPDATE 求人 SET rank = 2",
      u"DELETE FROM 求人",
      u"DROP TABLE 求人",
      u"ALTER TABLE 求人 ADD COLUMN x TEXT",
      u"CREATE INDEX x ON 求人 (社名)",
      u"CREATE TRIGGER x AFTER INSERT ON 求人 BEGIN SELECT 1; END",
  };
  for (const std::u16string& sql : refused) {
    EXPECT_THROW(db_->Execute(sql), Failure) << U8(sql);
    EXPECT_THROW(db_->Query(sql, {}, 0), Failure) << U8(sql);
  }
  EXPECT_EQ(Column(u"SELECT 社名 AS v FROM 求人", {}),
            std::vector<std::string>{"既存"});
  // The other tables stay writable.
  store_->Save(Input(u"a@example.jp", 1, u"aac=x"), kMonday);
  EXPECT_EQ(store_->Count().active, 1);
}

// ---------------------------------------------------------------------------
// The registration store.

TEST_P(StoreTest, SavingAgainReplacesTheConditionsAndKeepsTheToken) {
  Column(
      u"INSERT INTO seen_jobs (serial, fingerprint, first_seen) VALUES (7, "
      u"'f7', $1) RETURNING serial AS v",
      {Value::DateTimeOf(kMonday)});
  RegistrationInput input = Input(u"taro@example.jp", 2, u"aac=事務");
  input.daily_maximum = 50;
  input.sent_jobs = {"f1", "f2"};
  const Registration first = store_->Save(input, kMonday);
  EXPECT_TRUE(IsTokenText(first.token)) << first.token;
  EXPECT_EQ(first.address, u"taro@example.jp");
  EXPECT_EQ(first.number, 2);
  EXPECT_EQ(first.daily_maximum, 50);
  EXPECT_EQ(first.created, kMonday);
  EXPECT_EQ(first.changed, kMonday);
  EXPECT_TRUE(first.active);
  EXPECT_EQ(first.mark, 7);  // the jobs there now came with the first mail
  EXPECT_EQ(first.sent_jobs, (std::vector<std::string>{"f1", "f2"}));

  EXPECT_EQ(store_->Stop(u"taro@example.jp", 2, kMonday), 1);
  Column(
      u"INSERT INTO seen_jobs (serial, fingerprint, first_seen) VALUES (9, "
      u"'f9', $1) RETURNING serial AS v",
      {Value::DateTimeOf(kMonday)});
  RegistrationInput again = Input(u"taro@example.jp", 2, u"aac=経理");
  const Registration second = store_->Save(again, kTuesday);
  EXPECT_EQ(second.id, first.id);
  EXPECT_EQ(second.token, first.token);
  EXPECT_EQ(second.settings, u"aac=経理");
  EXPECT_EQ(second.daily_maximum, 100);
  EXPECT_EQ(second.created, kMonday);
  EXPECT_EQ(second.changed, kTuesday);
  EXPECT_TRUE(second.active);
  EXPECT_FALSE(second.stopped);
  EXPECT_EQ(second.mark, 9);
  EXPECT_TRUE(second.sent_jobs.empty());
  EXPECT_EQ(store_->ListByAddress(u"taro@example.jp"),
            std::vector<Registration>{second});
  EXPECT_EQ(store_->FindByToken(first.token), second);
}

TEST_P(StoreTest, NumbersAndMaximaOutsideTheFormAreRefused) {
  const std::vector<std::pair<int, int>> cases = {{0, 10}, {6, 10},  {-1, 10},
                                                  {1, 0},  {1, 101}, {5, -5}};
  for (const auto& [number, maximum] : cases) {
    RegistrationInput input = Input(u"a@example.jp", number, u"");
    input.daily_maximum = maximum;
    EXPECT_THROW(store_->Save(input, kMonday), Failure)
        << number << " " << maximum;
  }
  EXPECT_EQ(store_->Count().active + store_->Count().stopped, 0);
}

TEST_P(StoreTest, TokensFindAndStopOneRegistration) {
  const Registration one =
      store_->Save(Input(u"a@example.jp", 1, u"1"), kMonday);
  const Registration two =
      store_->Save(Input(u"a@example.jp", 2, u"2"), kMonday);
  EXPECT_NE(one.token, two.token);
  const std::vector<std::string> unknown = {
      "", "0123456789abcdef0123456789abcdef", one.token.substr(1),
      one.token + "0", "' OR '1'='1"};
  for (const std::string& token : unknown) {
    EXPECT_FALSE(store_->FindByToken(token)) << token;
    EXPECT_FALSE(store_->StopByToken(token, kTuesday)) << token;
  }
  EXPECT_TRUE(store_->StopByToken(one.token, kTuesday));
  EXPECT_FALSE(store_->StopByToken(one.token, kTuesday));  // already stopped
  const std::optional<Registration> stopped = store_->FindByToken(one.token);
  ASSERT_TRUE(stopped);
  EXPECT_FALSE(stopped->active);
  EXPECT_EQ(stopped->stopped, kTuesday);
  EXPECT_TRUE(store_->FindByToken(two.token)->active);
}

TEST_P(StoreTest, TokensAreNeverStoredAsTheyAre) {
  // The table holds the token's SHA-256 and its seal; the store finds a
  // registration by the token and gives the token back under the key it
  // was sealed with. A row stored before tokens were sealed (the token in
  // its place, no seal) is still found and given back as it stands.
  const std::string key(64, 'a');
  auto keyed = NewSqlRegistrationStore(*db_, nullptr, [&] { return key; });
  const Registration saved =
      keyed->Save(Input(u"taro@example.jp", 1, u"aac=x"), kMonday);
  const std::vector<std::string> stored =
      Column(u"SELECT token AS v FROM registrations WHERE id = $1",
             {Value::Integer(saved.id)});
  const std::vector<std::string> sealed =
      Column(u"SELECT token_sealed AS v FROM registrations WHERE id = $1",
             {Value::Integer(saved.id)});
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0], TokenHash(saved.token));
  EXPECT_EQ(sealed[0], SealToken(key, u"taro@example.jp", 1, saved.token));
  EXPECT_NE(sealed[0], saved.token);
  ASSERT_TRUE(keyed->FindByToken(saved.token));
  EXPECT_EQ(keyed->FindByToken(saved.token)->token, saved.token);
  // The stored hash is no way in.
  EXPECT_FALSE(keyed->FindByToken(stored[0]));
  EXPECT_FALSE(keyed->FindByToken(stored[0].substr(0, 32)));
  // Another key finds the row but cannot give its token back.
  auto other = NewSqlRegistrationStore(*db_, nullptr,
                                       [] { return std::string(64, 'b'); });
  EXPECT_NE(other->FindByToken(saved.token)->token, saved.token);

  const std::string legacy = "00112233445566778899aabbccddeeff";
  Column(
      u"INSERT INTO registrations (address, number, settings, "
      u"daily_maximum, created, changed, token) VALUES ('old@example.jp', "
      u"1, 'aac=y', 10, $1, $1, $2) RETURNING id AS v",
      {Value::DateTimeOf(kMonday), Value::Text(U16(legacy))});
  ASSERT_TRUE(keyed->FindByToken(legacy));
  EXPECT_EQ(keyed->FindByToken(legacy)->token, legacy);
  EXPECT_TRUE(keyed->StopByToken(legacy, kMonday));
}

TEST_P(StoreTest, StoppingByAddressAndNumber) {
  for (int number : {1, 2, 3}) {
    store_->Save(Input(u"a@example.jp", number, u""), kMonday);
  }
  store_->Save(Input(u"b@example.jp", 1, u""), kMonday);
  EXPECT_EQ(store_->Stop(u"a@example.jp", 2, kTuesday), 1);
  EXPECT_EQ(store_->Stop(u"a@example.jp", 2, kTuesday), 0);
  EXPECT_EQ(store_->Stop(u"a@example.jp", std::nullopt, kTuesday), 2);
  EXPECT_EQ(store_->Stop(u"nobody@example.jp", std::nullopt, kTuesday), 0);
  const RegistrationCounts counts = store_->Count();
  EXPECT_EQ(counts.active, 1);
  EXPECT_EQ(counts.stopped, 3);
  EXPECT_EQ(counts.active_by_number, (std::array<int64_t, 5>{1, 0, 0, 0, 0}));
}

TEST_P(StoreTest, LookupsAreCountedPerAddressAndDay) {
  struct Case {
    const char16_t* address;
    DateTime day;
    int expected;
  };
  const std::vector<Case> cases = {
      {u"a@example.jp", kMonday, 1},  {u"a@example.jp", kMonday, 2},
      {u"b@example.jp", kMonday, 1},  {u"a@example.jp", kMonday, 3},
      {u"a@example.jp", kTuesday, 1}, {u"b@example.jp", kTuesday, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(store_->CountLookup(c.address, c.day), c.expected)
        << U8(c.address) << " " << c.day.day;
  }
}

TEST_P(StoreTest, PagesWalkTheRegistrationsById) {
  for (const char16_t* address : {u"a@example.jp", u"b@example.jp"}) {
    for (int number = 1; number <= 3; ++number) {
      store_->Save(Input(address, number, u""), kMonday);
    }
  }
  store_->Stop(u"a@example.jp", 2, kTuesday);
  auto walk = [&](const RegistrationFilter& filter, size_t page) {
    std::vector<std::string> seen;
    int64_t after = 0;
    while (true) {
      std::vector<Registration> rows =
          store_->Registrations(filter, after, page);
      if (rows.empty()) break;
      EXPECT_LE(rows.size(), page);
      for (const Registration& r : rows) {
        seen.push_back(U8(r.address).substr(0, 1) + std::to_string(r.number));
        after = r.id;
      }
    }
    return seen;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(walk({}, 4), (V{"a1", "a2", "a3", "b1", "b2", "b3"}));
  EXPECT_EQ(walk({true, u""}, 2), (V{"a1", "a3", "b1", "b2", "b3"}));
  EXPECT_EQ(walk({true, u"a@example.jp"}, 1), (V{"a1", "a3"}));
  EXPECT_EQ(walk({false, u"b@example.jp"}, 10), (V{"b1", "b2", "b3"}));
}

TEST_P(StoreTest, TheMarkMovesOnlyOnAnUnchangedRegistration) {
  const Registration r =
      store_->Save(Input(u"a@example.jp", 1, u"old"), kMonday);
  EXPECT_TRUE(store_->MoveMark(r.id, r.changed, 40, std::nullopt));
  Registration now = *store_->FindByToken(r.token);
  EXPECT_EQ(now.mark, 40);
  EXPECT_FALSE(now.last_mailed);
  EXPECT_TRUE(store_->MoveMark(r.id, r.changed, 50, kTuesday));
  EXPECT_EQ(store_->FindByToken(r.token)->last_mailed, kTuesday);
  // Stored anew meanwhile: the run that read the old conditions leaves it.
  store_->Save(Input(u"a@example.jp", 1, u"new"), kTuesday);
  EXPECT_FALSE(store_->MoveMark(r.id, r.changed, 60, kTuesday));
  EXPECT_EQ(store_->FindByToken(r.token)->mark, 0);
}

TEST_P(StoreTest, TheLowestMarkOfTheRegistrationsAsked) {
  EXPECT_FALSE(store_->LowestMark({}));
  const Registration a = store_->Save(Input(u"a@example.jp", 1, u""), kMonday);
  const Registration b = store_->Save(Input(u"b@example.jp", 1, u""), kMonday);
  store_->MoveMark(a.id, a.changed, 30, std::nullopt);
  store_->MoveMark(b.id, b.changed, 20, std::nullopt);
  EXPECT_EQ(store_->LowestMark({}), 20);
  EXPECT_EQ(store_->LowestMark({true, u"a@example.jp"}), 30);
  store_->Stop(u"b@example.jp", std::nullopt, kTuesday);
  EXPECT_EQ(store_->LowestMark({true, u""}), 30);
  EXPECT_FALSE(store_->LowestMark({true, u"c@example.jp"}));
}

QLOK_ON_BOTH_ENGINES(StoreTest);

}  // namespace
}  // namespace qlok
