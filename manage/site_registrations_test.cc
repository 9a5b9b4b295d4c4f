#include "manage/site_registrations.h"

#include <gtest/gtest.h>

#include "jobs/schema.h"
#include "platform/failure.h"

namespace qlok {
namespace {

// SQLite in memory with the site's tables; refuses the first `failures`
// opens and keeps a view of the connection it handed out.
class MemoryDatabases : public Databases {
 public:
  explicit MemoryDatabases(int failures) : failures_(failures) {}
  std::unique_ptr<Connection> Open(const std::u16string& cs) override {
    ++opens;
    seen = cs;
    if (opens <= failures_) throw Failure("connection refused");
    std::unique_ptr<Connection> db =
        OpenConnection(u"sqlite::memory:", "/nonexistent");
    db->Execute(JobTableSchema(db->Engine()));
    db->Execute(RegistrationSchema(db->Engine()));
    last = db.get();
    return db;
  }
  int opens = 0;
  std::u16string seen;
  Connection* last = nullptr;

 private:
  int failures_;
};

TEST(SiteRegistrationsTest, OpensOnceFromLineThreeWithTheJobTableRefused) {
  InMemoryTextFiles files;
  files.files["pw/qevo.txt"] = "-\r\n-\r\nsqlite:site.db\r\n-\r\n";
  MemoryDatabases databases(1);  // the first open is refused
  SiteRegistrations registrations(files, databases);
  EXPECT_EQ(databases.opens, 0);  // nothing is opened before it is needed

  RegistrationStore& store = registrations.Store();
  EXPECT_EQ(databases.seen, u"sqlite:site.db");
  EXPECT_EQ(databases.opens, 2);
  EXPECT_EQ(store.CountLookup(u"a@example.jp", {2026, 12, 9, 0, 0, 0}), 1);
  EXPECT_EQ(&registrations.Store(), &store);
  EXPECT_EQ(databases.opens, 2);

  ASSERT_NE(databases.last, nullptr);
  EXPECT_THROW(databases.last->Execute(u"DELETE FROM 求人"), Failure);
  EXPECT_THROW(databases.last->Execute(u"DROP TABLE 求人"), Failure);
}

TEST(SiteRegistrationsTest, AFailureIsThrownAndTheNextCallTriesAgain) {
  InMemoryTextFiles files;
  MemoryDatabases databases(2);  // both opens of the first call fail
  SiteRegistrations registrations(files, databases);
  EXPECT_THROW(registrations.Store(), Failure);  // no pw/qevo.txt
  files.files["pw/qevo.txt"] = "-\r\n-\r\nsqlite:site.db\r\n-\r\n";
  EXPECT_THROW(registrations.Store(), Failure);
  EXPECT_EQ(databases.opens, 2);
  registrations.Store();
  EXPECT_EQ(databases.opens, 3);
}

}  // namespace
}  // namespace qlok
