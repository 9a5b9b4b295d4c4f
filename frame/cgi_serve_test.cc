#include "frame/cgi_serve.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "frame/page_shell.h"
#include "platform/code_page.h"
#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

class StringSource : public ByteSource {
 public:
  explicit StringSource(std::string bytes) : bytes_(std::move(bytes)) {}
  size_t Read(char* buffer, size_t size) override {
    size_t n = std::min(size, bytes_.size() - position_);
    std::copy_n(bytes_.data() + position_, n, buffer);
    position_ += n;
    return n;
  }

 private:
  std::string bytes_;
  size_t position_ = 0;
};

class StringSink : public ByteSink {
 public:
  void Write(std::string_view bytes) override {
    if (closed) throw Failure("written after the close");
    out.append(bytes);
  }
  void Close() override { closed = true; }
  std::string out;
  bool closed = false;
};

// One run of CgiServe against fakes.
struct ServeRun {
  std::map<std::string, std::string> env;
  std::string body;
  CgiAnswer answer;
  bool handler_fails = false;

  std::vector<CgiRequest> handled;
  std::string output;
  bool closed = false;
  std::string errors;

  ServeRun& Run() {
    StringSource input(body);
    StringSink sink;
    StringErrorLog error_stream;
    FixedClock clock(DateTime{2026, 12, 9, 10, 30, 5});
    CgiProcess process{[this](const char* name) {
                         auto it = env.find(name);
                         return it == env.end() ? std::string() : it->second;
                       },
                       input, sink, error_stream, clock};
    CgiServe(
        process, [] { return SiteConfig::Defaults(); },
        [this](const CgiRequest& request, const SiteConfig&) {
          handled.push_back(request);
          if (handler_fails) throw Failure("registrations: no such table");
          return answer;
        });
    output = sink.out;
    closed = sink.closed;
    errors = error_stream.str();
    return *this;
  }
};

std::string Framed(const std::u16string& body) {
  std::u16string page;
  AppendFramedPage(page, SiteConfig::Defaults(), body);
  return ToAnsi(page) + "\r\n" + std::string(2, '\0');
}

TEST(CgiServeTest, StatusAndHeaderLinesStandBeforeTheFramedPage) {
  struct Case {
    int status;
    std::vector<std::u16string> headers;
    std::string head;
  } cases[] = {
      {200, {}, "Content-type: text/html\r\n\r\n"},
      {404, {}, "Content-type: text/html\r\nStatus: 404 Not Found\r\n\r\n"},
      {400, {}, "Content-type: text/html\r\nStatus: 400 Bad Request\r\n\r\n"},
      {405,
       {u"Allow: GET, HEAD, POST"},
       "Content-type: text/html\r\nStatus: 405 Method Not Allowed\r\n"
       "Allow: GET, HEAD, POST\r\n\r\n"},
  };
  for (const Case& c : cases) {
    ServeRun run;
    run.env = {{"REQUEST_METHOD", "GET"}};
    run.answer = {c.status, c.headers, u"<P>登録</P>", {}};
    run.Run();
    EXPECT_EQ(run.output, c.head + Framed(u"<P>登録</P>")) << c.status;
    EXPECT_THAT(run.errors, IsEmpty());
  }
}

TEST(CgiServeTest, HandsOverMethodQueryTypeAndBodyUndecoded) {
  ServeRun run;
  run.env = {{"REQUEST_METHOD", "POST"},
             {"QUERY_STRING", "t=ab%41"},
             {"CONTENT_LENGTH", "26"},
             {"CONTENT_TYPE", "application/x-www-form-urlencoded"}};
  run.body = "List-Unsubscribe=One-Click and more";
  run.Run();
  ASSERT_EQ(run.handled.size(), 1u);
  const CgiRequest& request = run.handled[0];
  EXPECT_EQ(request.method, u"POST");
  EXPECT_EQ(request.query, u"t=ab%41");
  EXPECT_EQ(request.content_type, u"application/x-www-form-urlencoded");
  EXPECT_EQ(request.body, u"List-Unsubscribe=One-Click");

  // Without a body neither the type nor the input is read, and a GET
  // without a body still reaches the handler (unlike the search page).
  ServeRun get;
  get.env = {{"REQUEST_METHOD", "GET"}, {"CONTENT_TYPE", "text/plain"}};
  get.body = "ignored";
  get.Run();
  ASSERT_EQ(get.handled.size(), 1u);
  EXPECT_EQ(get.handled[0].content_type, u"");
  EXPECT_EQ(get.handled[0].body, u"");
}

TEST(CgiServeTest, FailuresGiveTheErrorPageWithTheCauseOnlyInTheLog) {
  ServeRun run;
  run.env = {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", ""}};
  run.handler_fails = true;
  run.answer = {404, {u"Allow: GET"}, u"not shown", {}};
  run.Run();
  EXPECT_THAT(run.output, StartsWith("Content-type: text/html\r\nStatus: "
                                     "500 Internal Server Error\r\n\r\n"));
  EXPECT_THAT(run.output, HasSubstr(ToAnsi(u"エラーが発生しました")));
  EXPECT_THAT(run.output, ::testing::Not(HasSubstr("Allow")));
  EXPECT_THAT(run.output, ::testing::Not(HasSubstr("no such table")));
  EXPECT_THAT(run.errors, StartsWith("q_lok: "));
  EXPECT_EQ(run.handled.size(), 1u);
}

// A CONTENT_LENGTH the frame cannot take is the request's fault, not the
// server's: the body is not read, and the handler answers (the manage page
// with 400), told why.
TEST(CgiServeTest, ABadLengthReachesTheHandlerWithoutItsBody) {
  struct Case {
    const char* what;
    std::string length;
    bool refused;
  } cases[] = {
      {"a body above the limit", "1048577", true},
      {"a length that is no number", "12a", true},
      {"a length in range", "3", false},
  };
  for (const Case& c : cases) {
    ServeRun run;
    run.env = {{"REQUEST_METHOD", "POST"}, {"CONTENT_LENGTH", c.length}};
    run.body = "a=1";
    run.answer = {400, {}, u"bad request", {}};
    run.Run();
    EXPECT_THAT(run.output, StartsWith("Content-type: text/html\r\nStatus: "
                                       "400 Bad Request\r\n"))
        << c.what;
    ASSERT_EQ(run.handled.size(), 1u) << c.what;
    EXPECT_EQ(run.handled[0].refused_body.empty(), !c.refused) << c.what;
    EXPECT_EQ(run.handled[0].body, c.refused ? u"" : u"a=1") << c.what;
    EXPECT_EQ(run.errors, "") << c.what;
  }
}

// Work after the response runs once the whole page is out and the output
// closed; what it throws is one line in the log and leaves the page alone.
TEST(CgiServeTest, AfterResponseWorkRunsOnceThePageHasLeft) {
  struct Case {
    const char* what;
    bool fails;
    std::string log;
  } cases[] = {
      {"work that succeeds", false, ""},
      {"work that fails", true,
       "q_lok: after the response: relay gone:  451 later\n"},
  };
  for (const Case& c : cases) {
    ServeRun run;
    run.env = {{"REQUEST_METHOD", "POST"}};
    std::string seen;
    run.answer = {200, {}, u"<P>受付</P>", [&] {
                    seen = "ran";
                    if (c.fails) throw Failure("relay gone:\r\n451 later");
                  }};
    run.Run();
    EXPECT_EQ(seen, "ran") << c.what;
    EXPECT_EQ(run.output,
              "Content-type: text/html\r\n\r\n" + Framed(u"<P>受付</P>"))
        << c.what;
    EXPECT_TRUE(run.closed) << c.what;
    EXPECT_EQ(run.errors, c.log) << c.what;
  }
  // Without such work the output is left to the process's end.
  ServeRun plain;
  plain.env = {{"REQUEST_METHOD", "GET"}};
  plain.answer = {200, {}, u"<P>登録</P>", {}};
  plain.Run();
  EXPECT_FALSE(plain.closed);
}

}  // namespace
}  // namespace qlok
