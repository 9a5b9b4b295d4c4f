#include "platform/user_access.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/failure.h"
#include "platform/process_testing.h"

namespace qlok {

using testing_support::ScratchFolder;
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

TEST(ModeGrantsTest, OwnerGroupOrOthersDecide) {
  Account web{"web", 33, 33, {33, 120}};
  struct Case {
    uid_t owner;
    gid_t group;
    mode_t mode;
    int wanted;
    bool granted;
  } cases[] = {
      {33, 0, 0700, kMayRead | kMayWrite | kMaySearch, true},
      // The owner's bits decide for the owner, even when others may more.
      {33, 0, 0077, kMayRead, false},
      {0, 33, 0070, kMayWrite, true},
      {0, 120, 0050, kMayRead | kMaySearch, true},  // a supplementary group
      {0, 120, 0050, kMayWrite, false},
      // The group's bits decide for a member.
      {0, 120, 0407, kMayRead, false},
      {0, 0, 0755, kMayRead | kMaySearch, true},
      {0, 0, 0755, kMayWrite, false},
      {0, 0, 0777, kMayRead | kMayWrite | kMaySearch, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ModeGrants(web, c.owner, c.group, c.mode, c.wanted), c.granted)
        << std::oct << c.mode << " wanted " << c.wanted;
  }
  Account root{"root", 0, 0, {0}};
  EXPECT_TRUE(ModeGrants(root, 33, 33, 0, kMayRead | kMayWrite | kMaySearch));
}

class PathAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = scratch_.path();
    fs::permissions(dir_, fs::perms(0755));
    std::optional<Account> nobody = LookUpAccount("nobody");
    ASSERT_TRUE(nobody.has_value());
    nobody_ = *nobody;
  }
  ScratchFolder scratch_;
  fs::path dir_;
  Account nobody_;
};

TEST_F(PathAccessTest, LooksAtTheFileAndEveryFolderAbove) {
  fs::create_directories(dir_ / "a/b");
  std::ofstream(dir_ / "a/b/f") << "x";
  fs::permissions(dir_ / "a/b/f", fs::perms(0644));
  fs::permissions(dir_ / "a", fs::perms(0755));
  fs::permissions(dir_ / "a/b", fs::perms(0755));

  PathAccess access =
      CheckPathAccess(nobody_, (dir_ / "a/b/f").string(), kMayRead);
  EXPECT_TRUE(access.exists);
  EXPECT_FALSE(access.folder);
  EXPECT_EQ(access.problem, "");

  access = CheckPathAccess(nobody_, (dir_ / "a/b/f").string(), kMayWrite);
  EXPECT_THAT(access.problem, HasSubstr("nobody may not write to it ("));
  EXPECT_THAT(access.problem, HasSubstr("mode 0644)"));

  // A folder above without the search bit for others stops the way.
  fs::permissions(dir_ / "a", fs::perms(0750));
  access = CheckPathAccess(nobody_, (dir_ / "a/b/f").string(), kMayRead);
  EXPECT_THAT(access.problem,
              HasSubstr("the folder " + (dir_ / "a").string() +
                        " on the way: nobody may not enter it"));
  // A missing file is no problem by itself.
  fs::permissions(dir_ / "a", fs::perms(0755));
  access = CheckPathAccess(nobody_, (dir_ / "a/none").string(), kMayRead);
  EXPECT_FALSE(access.exists);
  EXPECT_EQ(access.problem, "");
  access = CheckPathAccess(nobody_, (dir_ / "a/b").string(),
                           kMayRead | kMayWrite | kMaySearch);
  EXPECT_TRUE(access.folder);
  EXPECT_THAT(access.problem, HasSubstr("nobody may not write to it"));
}

TEST(AccountTest, UnknownUsersAreNotFound) {
  EXPECT_FALSE(LookUpAccount("no-such-user-qlok").has_value());
  std::optional<Account> root = LookUpAccount("root");
  ASSERT_TRUE(root.has_value());
  EXPECT_EQ(root->uid, 0u);
  EXPECT_EQ(CurrentAccount().uid, ::geteuid());
}

TEST(RunAsAccountTest, WorkRunsUnderTheAccount) {
  // As oneself: here.
  EXPECT_EQ(RunAsAccount(CurrentAccount(),
                         [] { return std::to_string(::geteuid()); }),
            std::to_string(::geteuid()));
  std::optional<Account> nobody = LookUpAccount("nobody");
  ASSERT_TRUE(nobody.has_value());
  auto whoami = [] { return std::to_string(::getuid()); };
  if (::geteuid() != 0) {
    EXPECT_THROW(RunAsAccount(*nobody, whoami), Failure);
    return;
  }
  EXPECT_EQ(RunAsAccount(*nobody, whoami), std::to_string(nobody->uid));
  try {
    RunAsAccount(*nobody, []() -> std::string { throw Failure("refused"); });
    ADD_FAILURE() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_STREQ(failure.what(), "refused");
  }
}

}  // namespace
}  // namespace qlok
