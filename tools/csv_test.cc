#include "tools/csv.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/failure.h"

namespace qlok {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

using Rows = std::vector<std::vector<std::string>>;

struct Parsed {
  Rows rows;
  std::vector<size_t> lines;
};

Parsed ReadAll(const std::string& text) {
  std::istringstream in(text);
  CsvReader reader(in, "t.csv");
  Parsed parsed;
  CsvRecord record;
  while (reader.Next(record)) {
    parsed.rows.push_back(record.fields);
    parsed.lines.push_back(record.line);
  }
  return parsed;
}

struct ReadCase {
  const char* name;
  std::string input;
  Rows rows;
  std::vector<size_t> lines;
};
void PrintTo(const ReadCase& c, std::ostream* out) { *out << c.name; }

class CsvReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(CsvReadTest, ReadsRecords) {
  const ReadCase& c = GetParam();
  Parsed parsed = ReadAll(c.input);
  EXPECT_EQ(parsed.rows, c.rows);
  EXPECT_EQ(parsed.lines, c.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CsvReadTest,
    ::testing::Values(
        ReadCase{"Empty", "", {}, {}},
        ReadCase{"OnlyBom", "\xEF\xBB\xBF", {}, {}},
        ReadCase{"LfEnds", "a,b\n1,2\n", {{"a", "b"}, {"1", "2"}}, {1, 2}},
        ReadCase{
            "CrLfEnds", "a,b\r\n1,2\r\n", {{"a", "b"}, {"1", "2"}}, {1, 2}},
        ReadCase{
            "NoFinalBreak", "a,b\r\n1,2", {{"a", "b"}, {"1", "2"}}, {1, 2}},
        ReadCase{
            "BomSkipped", "\xEF\xBB\xBF社名,rank\n", {{"社名", "rank"}}, {1}},
        // Three bytes that begin like a mark but are a character.
        ReadCase{"NotABom", "\xEF\xBB\x80,x\n", {{"\xEF\xBB\x80", "x"}}, {1}},
        ReadCase{"EmptyFields", ",,\n", {{"", "", ""}}, {1}},
        ReadCase{"QuotedEmpty", "\"\"\n", {{""}}, {1}},
        ReadCase{"BlankLinesSkipped", "a\n\n\r\nb\n\n", {{"a"}, {"b"}}, {1, 4}},
        ReadCase{"QuotedComma", "\"a,b\",c\n", {{"a,b", "c"}}, {1}},
        ReadCase{"DoubledQuote",
                 "\"say \"\"hi\"\"\",x\n",
                 {{"say \"hi\"", "x"}},
                 {1}},
        ReadCase{"OnlyQuotes", "\"\"\"\"\n", {{"\""}}, {1}},
        ReadCase{"EmbeddedCrLf",
                 "a,\"one\r\ntwo\"\r\nb,c\r\n",
                 {{"a", "one\r\ntwo"}, {"b", "c"}},
                 {1, 3}},
        ReadCase{"EmbeddedLf",
                 "\"x\ny\nz\",1\n2,3\n",
                 {{"x\ny\nz", "1"}, {"2", "3"}},
                 {1, 4}},
        ReadCase{"LoneCrKept", "a\rb,c\n", {{"a\rb", "c"}}, {1}},
        ReadCase{"BlanksKept", " a , b \n", {{" a ", " b "}}, {1}},
        ReadCase{"QuotedLastFieldAtEof", "a,\"b\"", {{"a", "b"}}, {1}},
        ReadCase{"Japanese",
                 "職種1,就労場所1\n看護師,\"大阪府大阪市北区\"\n",
                 {{"職種1", "就労場所1"}, {"看護師", "大阪府大阪市北区"}},
                 {1, 2}}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadCase {
  const char* name;
  std::string input;
  std::string message;
};
void PrintTo(const BadCase& c, std::ostream* out) { *out << c.name; }

class CsvBadTest : public ::testing::TestWithParam<BadCase> {};

TEST_P(CsvBadTest, ReportsLine) {
  const BadCase& c = GetParam();
  try {
    ReadAll(c.input);
    FAIL() << "no failure";
  } catch (const Failure& f) {
    EXPECT_THAT(f.what(), HasSubstr(c.message));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CsvBadTest,
    ::testing::Values(
        BadCase{"Unclosed", "a\nb,\"open\nmore\n", "t.csv:2: a quoted field"},
        BadCase{"QuoteInside", "a\nab\"c\n", "t.csv:2: a quote inside"},
        BadCase{"TextAfterQuote", "a\n\"b\"c\n", "t.csv:2: text after"},
        BadCase{"ShiftJis", "a\n\x8E\x96\x96\xB1\n", "t.csv:2: not UTF-8"},
        BadCase{"Truncated", "\xE6\x97", "t.csv:1: not UTF-8"},
        BadCase{"Nul", std::string("a\nb\0c\n", 6), "t.csv:2: a NUL"},
        // The line counts the breaks inside the quoted field before it.
        BadCase{"LineAfterEmbeddedBreaks", "\"x\n\ny\",\"\xFF\"\n",
                "t.csv:3: not UTF-8"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Utf8Test, RejectsMalformed) {
  struct {
    std::string bytes;
    bool valid;
  } cases[] = {
      {"", true},
      {"abc", true},
      {"\xE6\xB1\x82\xE4\xBA\xBA", true},  // 求人
      {"\xF0\x9F\x98\x80", true},          // outside the BMP
      {"\xC0\xAF", false},                 // overlong "/"
      {"\xE0\x80\xAF", false},             // overlong "/"
      {"\xED\xA0\x80", false},             // a surrogate
      {"\xF4\x90\x80\x80", false},         // above U+10FFFF
      {"\x80", false},                     // lone continuation byte
      {"\xE6\xB1", false},                 // cut short
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsValidUtf8(c.bytes), c.valid) << c.bytes;
  }
}

TEST(CsvWriteTest, QuotesWhatNeedsIt) {
  struct {
    std::string text;
    std::string field;
  } cases[] = {
      {"plain", "plain"},
      {"", ""},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"one\r\ntwo", "\"one\r\ntwo\""},
      {"x\ny", "\"x\ny\""},
      {" lead", "\" lead\""},
      {"trail ", "\"trail \""},
      {"中 間", "中 間"},
  };
  for (const auto& c : cases) EXPECT_EQ(CsvField(c.text), c.field) << c.text;
  EXPECT_EQ(CsvLine({"a", "b,c", ""}), "a,\"b,c\",\r\n");
}

TEST(CsvWriteTest, WhatIsWrittenReadsBack) {
  const std::vector<std::string> record = {"",       "a",   "b,c",      "\"",
                                           "x\r\ny", " s ", "末尾\r\n", "x\ny"};
  std::string text = CsvLine(record) + CsvLine(record);
  Parsed parsed = ReadAll(text);
  EXPECT_THAT(parsed.rows, ElementsAre(record, record));
  EXPECT_THAT(parsed.lines, ElementsAre(1, 5));
}

}  // namespace
}  // namespace qlok
