#include "tools/site_layout.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/process_testing.h"
#include "site/site_config.h"
#include "tools/admin_commands.h"

namespace qlok {

using testing_support::ScratchFolder;
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

struct Status {
  unsigned mode;
  unsigned uid;
  unsigned gid;
};

Status StatusOf(const fs::path& path) {
  struct stat status {};
  EXPECT_EQ(::lstat(path.c_str(), &status), 0) << path;
  return {static_cast<unsigned>(status.st_mode & 07777), status.st_uid,
          status.st_gid};
}

class SiteLayoutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = scratch_.path();
    home_ = root_ / "home";
  }

  int Site(const std::string& owner) {
    std::ostringstream out, err;
    const int status =
        RunAdmin({"site", home_.string(), "--owner", owner}, out, err);
    out_ = out.str();
    err_ = err.str();
    return status;
  }

  ScratchFolder scratch_;
  fs::path root_;
  fs::path home_;
  std::string out_;
  std::string err_;
};

// The commented site.conf, every key taken in as it stands: a file the
// programs read without a complaint, naming no key they do not know, and
// giving the example values.
TEST(CommentedSiteConfTest, EveryKeyUncommentedIsKnownAndGivesTheDefaults) {
  std::istringstream lines(CommentedSiteConf());
  std::string text;
  int keys = 0;
  for (std::string line; std::getline(lines, line);) {
    const size_t equals = line.find(" = ");
    if (line.rfind("; ", 0) == 0 && equals != std::string::npos &&
        line.find_first_of(" ;", 2) == equals) {
      line = line.substr(2);
      ++keys;
    }
    text += line + "\n";
  }
  EXPECT_GE(keys, 30);
  char pattern[] = "/tmp/qlok_conf_XXXXXX";
  const int fd = ::mkstemp(pattern);
  ASSERT_GE(fd, 0);
  ::close(fd);
  std::ofstream(pattern) << text;
  const SiteConfig read = LoadSiteConfig(pattern);
  fs::remove(pattern);
  EXPECT_TRUE(read.unknown_keys.empty());
  const SiteConfig defaults = SiteConfig::Defaults();
  EXPECT_EQ(read.relay_port, defaults.relay_port);
  EXPECT_EQ(read.smtp_tls, defaults.smtp_tls);
  EXPECT_EQ(read.request_time_limit, defaults.request_time_limit);
  EXPECT_EQ(read.database_statement_timeout,
            defaults.database_statement_timeout);
  EXPECT_EQ(read.manage_url, defaults.manage_url);
  EXPECT_EQ(read.sender_addresses, defaults.sender_addresses);
}

// The modes hold whatever the umask: none taken away (umask 0 would leave
// the logins and the log writable by all) and none added.
TEST_F(SiteLayoutTest, AFreshHomeHasItsModesWhateverTheUmask) {
  for (mode_t umask_value : {mode_t{0}, mode_t{022}, mode_t{077}}) {
    fs::remove_all(home_);
    const mode_t kept = ::umask(umask_value);
    LayOutSite(home_.string());
    ::umask(kept);
    for (const SiteMode& entry : SiteModes()) {
      EXPECT_EQ(StatusOf(home_ / entry.path).mode, entry.mode)
          << "umask " << umask_value << ": " << entry.path;
    }
  }
  // The secrets and the log are the owner's alone.
  for (const char* path : {"pw", "pw/qevo.txt", "pw/mail.txt", "received",
                           "received/worqlet.txt", "settings"}) {
    EXPECT_EQ(StatusOf(home_ / path).mode & 0077, 0u) << path;
  }
}

TEST_F(SiteLayoutTest, ExistingEntriesAreOnlyNarrowed) {
  struct Case {
    const char* path;
    unsigned before;
    unsigned after;
  } cases[] = {
      {"pw/qevo.txt", 0644, 0600},
      {"pw/mail.txt", 0664, 0600},
      {"received/worqlet.txt", 0400, 0600},  // the log must be writable
      {"site.conf", 0600, 0600},             // not opened wider
      {"settings", 0777, 0700},
      {"", 0750, 0750},
  };
  LayOutSite(home_.string());
  for (const Case& c : cases)
    fs::permissions(home_ / c.path, fs::perms(c.before));
  // Laying out again leaves what exists alone.
  EXPECT_TRUE(LayOutSite(home_.string()).empty());
  EXPECT_EQ(StatusOf(home_ / "pw/qevo.txt").mode, 0644u);

  const std::vector<std::string> changed = SetSiteModes(home_.string());
  for (const Case& c : cases) {
    EXPECT_EQ(StatusOf(home_ / c.path).mode, c.after) << c.path;
  }
  EXPECT_THAT(changed, ::testing::Contains("pw/qevo.txt 0644 -> 0600"));
  EXPECT_EQ(changed.size(), 4u);
  EXPECT_TRUE(SetSiteModes(home_.string()).empty());
}

TEST_F(SiteLayoutTest, LinksAreNotFollowedToTheirTargets) {
  LayOutSite(home_.string());
  const fs::path target = root_ / "elsewhere";
  std::ofstream(target) << "x";
  fs::permissions(target, fs::perms(0644));
  fs::remove(home_ / "pw/mail.txt");
  fs::create_symlink(target, home_ / "pw/mail.txt");
  // Through a linked home, the folder it names is brought within its modes.
  const fs::path linked = root_ / "linked";
  fs::create_directory_symlink(home_, linked);
  fs::permissions(home_ / "pw/qevo.txt", fs::perms(0640));

  EXPECT_EQ(SetSiteModes(linked.string()),
            std::vector<std::string>{"pw/qevo.txt 0640 -> 0600"});
  EXPECT_EQ(StatusOf(target).mode, 0644u);
}

TEST(SiteOwnerTest, NamesAndNumbers) {
  struct Case {
    const char* given;
    unsigned uid;
    unsigned gid;
    const char* text;
  } cases[] = {
      {"root", 0, 0, "root:root"},
      {"0", 0, 0, "root:root"},
      {"root:0", 0, 0, "root:root"},
      {"0:root", 0, 0, "root:root"},
  };
  for (const Case& c : cases) {
    const SiteOwner owner = ParseSiteOwner(c.given);
    EXPECT_EQ(owner.uid, c.uid) << c.given;
    EXPECT_EQ(owner.gid, c.gid) << c.given;
    EXPECT_EQ(owner.text, c.text) << c.given;
  }
  for (const char* bad : {"", ":root", "root:", "qlok-no-such-user",
                          "root:qlok-no-such-group", "4000000000"}) {
    EXPECT_THROW(ParseSiteOwner(bad), Failure) << bad;
  }
}

// Runs the site command with --owner, as root, and hands the home to an
// unprivileged user.
class SiteOwnerAsRootTest : public SiteLayoutTest {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "handing files over needs root";
    SiteLayoutTest::SetUp();
  }
};

TEST_F(SiteOwnerAsRootTest, HandsTheWholeHomeOverAndNarrowsTheModes) {
  // An existing home: a readable login file, the job database, and a link
  // to a file outside, which must not change hands.
  LayOutSite(home_.string());
  fs::permissions(home_ / "pw/qevo.txt", fs::perms(0644));
  std::ofstream(home_ / "jobs.db") << "x";
  const fs::path outside = root_ / "outside";
  std::ofstream(outside) << "x";
  fs::create_symlink(outside, home_ / "link");
  // A link to a folder elsewhere, as a writer below the home could make:
  // neither the folder nor what it holds changes hands.
  const fs::path elsewhere = root_ / "elsewhere";
  fs::create_directory(elsewhere);
  std::ofstream(elsewhere / "secret") << "x";
  fs::create_directory_symlink(elsewhere, home_ / "settings/swapped");

  ASSERT_EQ(Site("nobody:nogroup"), kAdminDone) << err_;
  const SiteOwner nobody = ParseSiteOwner("nobody:nogroup");
  for (const auto& entry : fs::recursive_directory_iterator(home_)) {
    const Status status = StatusOf(entry.path());
    EXPECT_EQ(status.uid, nobody.uid) << entry.path();
    EXPECT_EQ(status.gid, nobody.gid) << entry.path();
  }
  EXPECT_EQ(StatusOf(home_).uid, nobody.uid);
  EXPECT_EQ(StatusOf(outside).uid, 0u);
  EXPECT_EQ(StatusOf(elsewhere).uid, 0u);
  EXPECT_EQ(StatusOf(elsewhere / "secret").uid, 0u);
  EXPECT_EQ(StatusOf(home_ / "pw/qevo.txt").mode, 0600u);
  EXPECT_THAT(out_, HasSubstr("mode " + home_.string() +
                              "/pw/qevo.txt 0644 -> 0600\n"));
  EXPECT_THAT(out_, HasSubstr("handed " + home_.string() +
                              " to nobody:nogroup (13 folders and files)\n"));
}

TEST_F(SiteOwnerAsRootTest, ALinkedHomeHandsOverTheFolderItNames) {
  const fs::path real = root_ / "real";
  LayOutSite(real.string());
  fs::create_directory_symlink(real, home_);
  ASSERT_EQ(Site("nobody"), kAdminDone) << err_;
  EXPECT_EQ(StatusOf(real).uid, ParseSiteOwner("nobody").uid);
  EXPECT_EQ(StatusOf(real / "pw/qevo.txt").uid, ParseSiteOwner("nobody").uid);
}

TEST_F(SiteLayoutTest, AnUnknownOwnerMakesNothing) {
  EXPECT_EQ(Site("qlok-no-such-user"), kAdminFailed);
  EXPECT_THAT(err_, HasSubstr("no user qlok-no-such-user"));
  EXPECT_FALSE(fs::exists(home_));
}

}  // namespace
}  // namespace qlok
