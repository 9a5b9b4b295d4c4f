// The collation extension in the operator's sqlite3 shell.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/database.h"
#include "platform/process_testing.h"
#include "text/unicode.h"

namespace qlok {

using testing_support::ScratchFolder;
namespace {

constexpr const char* kShell = "/usr/bin/sqlite3";

class SqliteShellTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(kShell)) GTEST_SKIP() << "no " << kShell;
    dir_ = scratch_.path();
    auto db = OpenConnection(U16("sqlite:" + dir_ + "/jobs.db"), "/",
                             {.create_missing = true});
    db->Execute(
        u"CREATE TABLE 求人 (社名 TEXT, 始時 TIMESTAMP COLLATE qlok_time, "
        u"終時 TIMESTAMP COLLATE qlok_time)");
    auto writer = db->PrepareInsert(u"求人", {u"社名", u"始時", u"終時"});
    auto at = [](int day, int hour, int minute) {
      return Value::DateTimeOf(DateTime{2000, 1, day, hour, minute, 0});
    };
    writer->Insert({Value::Text(u"late"), at(1, 17, 30), at(1, 22, 0)});
    writer->Insert({Value::Text(u"early"), at(1, 8, 30), at(1, 17, 30)});
    writer->Insert({Value::Text(u"night"), at(1, 22, 0), at(2, 0, 0)});
    // A stamp in the quoted form, as a hand-written insert leaves it.
    db->Execute(
        u"INSERT INTO 求人 (社名, 始時, 終時) VALUES ('nine', "
        u"'2000/01/01 9:00:00', '2000/01/01 12:00:00')");
  }
  void TearDown() override {}

  // Runs a script in the shell; its output and errors, and the exit status.
  std::string RunShell(const std::string& script, int* status) {
    std::string script_path = dir_ + "/script.sql";
    std::ofstream(script_path) << script;
    std::string command = std::string(kShell) + " -batch '" + dir_ +
                          "/jobs.db' < '" + script_path + "' 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    std::string output;
    char buffer[512];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
      output.append(buffer, n);
    }
    *status = pclose(pipe);
    return output;
  }

  ScratchFolder scratch_;
  std::string dir_;
};

TEST_F(SqliteShellTest, TheLoadedExtensionOrdersAndSearchesByTime) {
  int status = 0;
  std::string output = RunShell(
      std::string(".bail on\n.load '") + QLOK_TIME_EXTENSION +
          "'\n"
          "SELECT 社名 FROM 求人 ORDER BY 始時;\n"
          "SELECT '--';\n"
          "SELECT 社名 FROM 求人 WHERE 始時 >= '2000/01/01 8:00:00' AND "
          "終時 <= '2000/01/01 18:00:00' ORDER BY 始時;\n"
          "SELECT '--';\n"
          "SELECT 社名 FROM 求人 WHERE 始時 >= '2000/01/01 21:00:00' AND "
          "終時 <= '2000/01/02';\n",
      &status);
  EXPECT_EQ(status, 0) << output;
  EXPECT_EQ(output, "early\nnine\nlate\nnight\n--\nearly\nnine\n--\nnight\n");
}

TEST_F(SqliteShellTest, WithoutTheExtensionTheShellCannotCompareTimes) {
  int status = 0;
  std::string output = RunShell(
      "SELECT 社名 FROM 求人 WHERE 始時 >= '2000/01/01 8:00:00';\n", &status);
  EXPECT_NE(status, 0);
  EXPECT_NE(output.find("no such collation sequence: qlok_time"),
            std::string::npos)
      << output;
}

}  // namespace
}  // namespace qlok
