#include "frame/cgi_main.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <vector>

#include "frame/page_shell_testing.h"
#include "platform/code_page.h"
#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {
namespace {

using namespace std::string_literals;

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

// Hands out `bytes` in pieces of at most `piece` bytes, as a pipe may.
class PipeSource : public ByteSource {
 public:
  explicit PipeSource(std::string bytes, size_t piece = 1 << 30)
      : bytes_(std::move(bytes)), piece_(piece) {}
  size_t Read(char* buffer, size_t size) override {
    ++reads;
    size_t n = std::min({size, piece_, bytes_.size() - position_});
    std::copy_n(bytes_.data() + position_, n, buffer);
    position_ += n;
    return n;
  }
  int reads = 0;

 private:
  std::string bytes_;
  size_t piece_;
  size_t position_ = 0;
};

class FailingSource : public ByteSource {
 public:
  size_t Read(char*, size_t) override { throw Failure("stdin: I/O error"); }
};

class RecordingSink : public ByteSink {
 public:
  void Write(std::string_view bytes) override { writes.emplace_back(bytes); }
  std::vector<std::string> writes;
};

// One run of CgiMain against fakes.
class CgiRun {
 public:
  std::map<std::string, std::string> env;
  std::string body;
  size_t piece = 1 << 30;
  SiteConfig site = SiteConfig::Defaults();
  bool site_fails = false;
  std::u16string handler_output = u"<P>result</P>";
  bool handler_fails = false;
  // What the handler leaves as header lines for CgiMain to add.
  std::optional<std::u16string> handler_headers;

  std::vector<std::string> asked;       // variables read, in order
  std::vector<std::u16string> handled;  // what the handler was given
  int reads = 0;
  std::string output;  // all bytes written
  int writes = 0;
  std::string errors;

  CgiRun& Run() {
    PipeSource input(body, piece);
    RecordingSink sink;
    StringErrorLog error_stream;
    FixedClock clock(DateTime{2026, 12, 9, 10, 30, 5});
    CgiProcess process{[this](const char* name) {
                         asked.push_back(name);
                         auto it = env.find(name);
                         return it == env.end() ? std::string() : it->second;
                       },
                       input, sink, error_stream, clock};
    std::u16string added;
    CgiMain(
        process,
        [this] {
          if (site_fails) throw Failure("site.conf: line 3 is broken");
          return site;
        },
        [this, &added](std::u16string& posted, const SiteConfig&) {
          handled.push_back(posted);
          if (handler_headers) added = *handler_headers;
          if (handler_fails) throw Failure("database: no such table");
          return handler_output;
        },
        handler_headers ? &added : nullptr);
    reads = input.reads;
    for (const std::string& w : sink.writes) output += w;
    writes = static_cast<int>(sink.writes.size());
    errors = error_stream.str();
    return *this;
  }
};

std::string NormalResponse(const std::u16string& between) {
  return "Content-type: text/html\r\n\r\n" +
         ToAnsi(testing_page::Head(u"https://www.example.jp/") + between +
                testing_page::kClose) +
         "\r\n\0\0"s;
}

std::string ErrorResponse(const std::string& referer) {
  return std::string(
             "Content-type: text/html\r\n"
             "Status: 500 Internal Server Error\r\n"
             "\r\n") +
         ToAnsi(
             u"<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 "
             u"Transitional//EN\"><HTML lang=\"ja\"><HEAD><meta "
             u"http-equiv=\"Content-Type\" content=\"text/html; "
             u"charset=shift_jis\">\r\n"
             u"<meta name=\"viewport\" content=\"width=device-width, "
             u"initial-scale=1\">\r\n"
             u"<LINK rel=\"stylesheet\" type=\"text/css\" "
             u"href=\"../style2.css\">\r\n"
             u"<TITLE>エラーが発生しました</TITLE></HEAD><BODY>\r\n"
             u"<DIV ALIGN=\"LEFT\">\r\n"
             u"<H1>エラーが発生しました</H1><HR>\r\n"
             u"申し訳ございません。ただいまこのページを表示できません。<BR>"
             u"しばらく時間をおいてから、もう一度お試しください。<BR><BR>"
             u"\r\n"
             u"<small>Wed 09 Dec 2026 01:30:05 GMT</small><BR><BR>\r\n"
             u"<A HREF=\"") +
         referer + ToAnsi(u"\">前のページへ戻る</A><BR>\r\n") +
         "</DIV>\r\n"
         "</BODY>\r\n"
         "</HTML>\r\n"
         "\r\n\0\0"s;
}

TEST(ParseContentLengthTest, ReadsWholeNumbers) {
  struct Case {
    std::string text;
    int32_t value;
  } cases[] = {
      {"", 0},
      {"   ", 0},
      {"0", 0},
      {"7", 7},
      {" 42\t", 42},
      {"+5", 5},
      {"007", 7},
      {"-3", -3},
      {"1048576", 1048576},
      {"-2147483648", INT32_MIN},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseContentLength(c.text), c.value) << c.text;
  }
}

TEST(ParseContentLengthTest, RefusesWhatIsNoLength) {
  for (std::string text :
       {"abc", "1.5", "12a", "0x10", "+", "-", "1 2", "1048577", "2147483648",
        "99999999999999999999", "-2147483649"}) {
    EXPECT_THROW(ParseContentLength(text), Failure) << text;
  }
}

TEST(ReadPostBodyTest, ReadsTheWholeBodyInPieces) {
  struct Case {
    std::string bytes;
    size_t piece;
    int32_t length;
    std::u16string text;
  } cases[] = {
      {"a=1&b=2", 100, 7, u"a=1&b=2"},
      {"a=1&b=2", 1, 7, u"a=1&b=2"},  // one byte per read
      {"a=1&b=2", 3, 7, u"a=1&b=2"},
      {"a=1&b=2&c=3", 100, 7, u"a=1&b=2"},  // no more than the length
      {"\x82\xA0", 100, 2, u".."},          // raw bytes are no form data
      {"x\xFFy", 100, 3, u"x.y"},
      {"a=1", 100, 5, std::u16string(u"a=1\0\0", 5)},  // input ended early
      {"", 100, 2, std::u16string(2, u'\0')},
      {"abc", 100, 0, u""},
      {"abc", 100, -1, u""},
  };
  for (const Case& c : cases) {
    PipeSource input(c.bytes, c.piece);
    EXPECT_EQ(ReadPostBody(input, c.length), c.text) << c.bytes;
  }
}

TEST(ReadPostBodyTest, InputFailuresAreThrown) {
  FailingSource input;
  EXPECT_THROW(ReadPostBody(input, 3), Failure);
}

TEST(WriteResponseTest, WritesCodePageBytesAndTwoZerosInOneWrite) {
  struct Case {
    std::u16string text;
    std::string bytes;
  } cases[] = {
      {u"", std::string(2, '\0')},
      {u"a\r\n", std::string("a\r\n\0\0", 5)},
      {u"あ～€", std::string("\x82\xA0\x81\x60?\0\0", 7)},
  };
  for (const Case& c : cases) {
    RecordingSink sink;
    WriteResponse(sink, c.text);
    EXPECT_THAT(sink.writes, ElementsAre(c.bytes));
  }
}

TEST(CgiMainTest, RequestWithoutBodyGetsHeadAndClosingOnly) {
  struct Case {
    std::map<std::string, std::string> env;
  } cases[] = {
      {{{"CONTENT_LENGTH", "0"}}},
      {{}},  // a GET: the web server leaves CONTENT_LENGTH unset
      {{{"CONTENT_LENGTH", ""}}},
      {{{"CONTENT_LENGTH", "-1"}}},
      {{{"CONTENT_LENGTH", "0"}, {"QUERY_STRING", "aaa=1&x=%ZZ"}}},
      {{{"CONTENT_LENGTH", "0"}, {"HTTP_COOKIE", "a=b"}}},
  };
  for (const Case& c : cases) {
    CgiRun run;
    run.env = c.env;
    run.body = "aaa=1";  // present on the input, but not announced
    run.Run();
    EXPECT_EQ(run.output, NormalResponse(u""));
    EXPECT_EQ(run.writes, 1);
    EXPECT_EQ(run.reads, 0);
    EXPECT_THAT(run.handled, IsEmpty());
    EXPECT_THAT(run.asked, ElementsAre("QUERY_STRING", "HTTP_COOKIE",
                                       "HTTP_REFERER", "CONTENT_LENGTH"));
    EXPECT_EQ(run.errors, "");
  }
}

TEST(CgiMainTest, PostedFormGoesDecodedToTheHandler) {
  CgiRun run;
  run.env = {{"CONTENT_LENGTH", "19"},
             {"CONTENT_TYPE", "application/x-www-form-urlencoded"}};
  run.body = "aaa=%82%A0+b&zzz=%83A";
  run.piece = 4;
  run.Run();
  EXPECT_THAT(run.asked,
              ElementsAre("QUERY_STRING", "HTTP_COOKIE", "HTTP_REFERER",
                          "CONTENT_LENGTH", "CONTENT_TYPE"));
  // Nineteen bytes: the last escape lost its second digit.
  EXPECT_THAT(run.handled, ElementsAre(u"aaa=あ b&zzz=\x08"));
  std::string output = run.output;
  EXPECT_THAT(output, StartsWith("Content-type: text/html\r\n\r\n"));
  EXPECT_THAT(output, HasSubstr("<HR>\r\n\r\n<P>result</P>\r\n<HR><A href="));
  EXPECT_THAT(output,
              EndsWith("<HR>\r\n</DIV>\r\n</BODY>\r\n</HTML>\r\n\r\n\0\0"s));
}

TEST(CgiMainTest, EmptyHandlerOutputStillGetsTheFoot) {
  CgiRun run;
  run.env = {{"CONTENT_LENGTH", "3"}};
  run.body = "a=1";
  run.handler_output = u"";
  run.Run();
  EXPECT_THAT(run.handled, ElementsAre(u"a=1"));
  EXPECT_THAT(run.output,
              HasSubstr("<HR>\r\n\r\n\r\n<HR><A href=\"https://www.example.jp/"
                        "\">"));
}

TEST(CgiMainTest, FailuresGiveTheErrorPageAndOneLogLine) {
  struct Case {
    const char* what;
    std::map<std::string, std::string> env;
    std::string body;
    bool site_fails;
    bool handler_fails;
    std::string logged;
    int reads;  // -1: any
  } cases[] = {
      {"lone %",
       {{"CONTENT_LENGTH", "5"}},
       "a=1%",
       false,
       false,
       "position 4",
       -1},
      {"%ZZ", {{"CONTENT_LENGTH", "3"}}, "%ZZ", false, false, "position 1", -1},
      {"escape at the end",
       {{"CONTENT_LENGTH", "4"}},
       "x%82",
       false,
       false,
       "second byte",
       -1},
      {"handler",
       {{"CONTENT_LENGTH", "3"}},
       "a=1",
       false,
       true,
       "database: no such table",
       -1},
      {"site.conf",
       {{"CONTENT_LENGTH", "3"}},
       "a=1",
       true,
       false,
       "site.conf: line 3",
       -1},
      {"site.conf without body", {}, "", true, false, "site.conf", 0},
      {"not a number",
       {{"CONTENT_LENGTH", "abc"}},
       "a=1",
       false,
       false,
       "CONTENT_LENGTH \"abc\"",
       0},
      {"too long",
       {{"CONTENT_LENGTH", "1048577"}},
       "a=1",
       false,
       false,
       "largest form body",
       0},
      {"huge",
       {{"CONTENT_LENGTH", "4294967296"}},
       "a=1",
       false,
       false,
       "out of range",
       0},
  };
  for (const Case& c : cases) {
    CgiRun run;
    run.env = c.env;
    run.body = c.body;
    run.site_fails = c.site_fails;
    run.handler_fails = c.handler_fails;
    run.Run();
    EXPECT_EQ(run.output, ErrorResponse("")) << c.what;
    EXPECT_EQ(run.writes, 1) << c.what;
    if (c.reads >= 0) {
      EXPECT_EQ(run.reads, c.reads) << c.what;
    }
    // One line, and nothing of it on the page.
    EXPECT_THAT(run.errors, StartsWith("q_lok: ")) << c.what;
    EXPECT_THAT(run.errors, HasSubstr(c.logged)) << c.what;
    EXPECT_EQ(run.errors.find('\n'), run.errors.size() - 1) << c.what;
    EXPECT_EQ(run.output.find(c.logged), std::string::npos) << c.what;
  }
}

TEST(CgiMainTest, GoBackLinkCannotLeaveItsAttribute) {
  struct Case {
    std::string referer;
    std::string link;
  } cases[] = {
      {"https://www.example.jp/q.html?a=1&b=2",
       "https://www.example.jp/q.html?a=1&amp;b=2"},
      {"x\"><script>alert(1)</script>",
       "x&quot;&gt;&lt;script&gt;alert(1)&lt;/script&gt;"},
      {"it's", "it&#39;s"},
  };
  for (const Case& c : cases) {
    CgiRun run;
    run.env = {{"CONTENT_LENGTH", "1"}, {"HTTP_REFERER", c.referer}};
    run.body = "%";
    run.Run();
    EXPECT_EQ(run.output, ErrorResponse(c.link)) << c.referer;
  }
}

TEST(CgiMainTest, InputFailureGivesTheErrorPage) {
  FailingSource input;
  RecordingSink sink;
  StringErrorLog errors;
  FixedClock clock(DateTime{2026, 12, 9, 10, 30, 5});
  CgiProcess process{[](const char* name) {
                       return std::string(name) == "CONTENT_LENGTH" ? "10" : "";
                     },
                     input, sink, errors, clock};
  bool handled = false;
  CgiMain(
      process, [] { return SiteConfig::Defaults(); },
      [&handled](std::u16string&, const SiteConfig&) {
        handled = true;
        return std::u16string();
      });
  EXPECT_FALSE(handled);
  ASSERT_EQ(sink.writes.size(), 1u);
  EXPECT_EQ(sink.writes[0], ErrorResponse(""));
  EXPECT_EQ(errors.str(), "q_lok: stdin: I/O error\n");
}

TEST(CgiMainTest, HeadersTheHandlerAddsFollowTheContentType) {
  const struct {
    const char* what;
    bool handler_fails;
    std::string head;  // the response up to the blank line
  } cases[] = {
      {"a refusal", false,
       "Content-type: text/html\r\nStatus: 429 Too Many Requests\r\n"
       "Retry-After: 60\r\n"},
      // The error page has its own status; what the handler left is dropped.
      {"a failure after the headers", true, "Status: 500"},
  };
  for (const auto& c : cases) {
    CgiRun run;
    run.env = {{"CONTENT_LENGTH", "5"}};
    run.body = "a=b&c";
    run.handler_headers =
        u"Status: 429 Too Many Requests\r\nRetry-After: 60\r\n";
    run.handler_fails = c.handler_fails;
    run.Run();
    const std::string head =
        run.output.substr(0, run.output.find("\r\n\r\n") + 2);
    EXPECT_THAT(head, HasSubstr(c.head)) << c.what;
    EXPECT_EQ(head.find("429") != std::string::npos, !c.handler_fails)
        << c.what;
  }
}

TEST(CgiMainTest, SiteConfigurationReachesPageAndHandler) {
  CgiRun run;
  run.site.top_url = u"https://jobs.test/";
  run.env = {{"CONTENT_LENGTH", "0"}};
  run.Run();
  EXPECT_THAT(run.output, HasSubstr("|<A href=\"https://jobs.test/\">"));
}

}  // namespace
}  // namespace qlok
