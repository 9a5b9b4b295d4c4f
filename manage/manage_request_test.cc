#include "manage/manage_request.h"

#include <gtest/gtest.h>

#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {
namespace {

const std::string kToken = "0123456789abcdef0123456789abcdef";
const std::string kOther = "fedcba9876543210fedcba9876543210";

// The body RFC 8058 shows a mail client posting, with its boundary.
const std::string kMultipartType =
    "multipart/form-data; boundary=---FormBoundaryjWmhtjORrn";
const std::string kMultipartBody =
    "-----FormBoundaryjWmhtjORrn\r\n"
    "Content-Disposition: form-data; name=\"List-Unsubscribe\"\r\n"
    "\r\n"
    "One-Click\r\n"
    "-----FormBoundaryjWmhtjORrn--\r\n";

TEST(ManageRequestTest, MethodQueryAndBodySayWhatIsAsked) {
  using K = ManageRequest;
  struct Case {
    const char* what;
    std::string method, query, type, body;
    ManageRequest::Kind kind;
    std::string token = "";
    std::u16string address = u"";
  } cases[] = {
      {"the lookup form", "GET", "", "", "", K::kLookupForm},
      {"other parameters only", "GET", "x=1", "", "", K::kLookupForm},
      {"a token", "GET", "t=" + kToken, "", "", K::kShow, kToken},
      {"HEAD as GET", "HEAD", "t=" + kToken, "", "", K::kShow, kToken},
      {"a token among others", "GET", "utm=mail&t=" + kToken, "", "", K::kShow,
       kToken},
      {"upper-case digits", "GET", "t=0123456789ABCDEF0123456789ABCDEF", "", "",
       K::kShow, kToken},
      {"a token cut short", "GET", "t=" + kToken.substr(0, 20), "", "",
       K::kMalformedToken},
      {"a token too long", "GET", "t=" + kToken + "0", "", "",
       K::kMalformedToken},
      {"an empty token", "GET", "t=", "", "", K::kMalformedToken},
      {"letters beyond f", "GET", "t=" + kToken.substr(1) + "g", "", "",
       K::kMalformedToken},
      {"a token beyond ASCII", "GET", "t=%82%A0" + kToken.substr(1), "", "",
       K::kMalformedToken},
      {"a broken escape", "GET", "t=" + kToken + "%", "", "", K::kBadRequest},
      // A mail client's one-click POST, either encoding.
      {"one-click, URL-encoded", "POST", "t=" + kToken,
       "application/x-www-form-urlencoded", "List-Unsubscribe=One-Click",
       K::kOneClick, kToken},
      {"one-click, multipart", "POST", "t=" + kToken, kMultipartType,
       kMultipartBody, K::kOneClick, kToken},
      {"one-click, multipart with LF alone", "POST", "t=" + kToken,
       "Multipart/Form-Data; boundary=\"a;b\"",
       "--a;b\nContent-Disposition: form-data; filename=\"x\"; "
       "name=\"List-Unsubscribe\"\n\nOne-Click\n--a;b--\n",
       K::kOneClick, kToken},
      {"one-click without a type", "POST", "t=" + kToken, "",
       "List-Unsubscribe=One-Click", K::kOneClick, kToken},
      {"one-click without a token", "POST", "", "",
       "List-Unsubscribe=One-Click", K::kBadRequest},
      {"one-click with a malformed token", "POST", "t=1234", "",
       "List-Unsubscribe=One-Click", K::kMalformedToken},
      {"another value", "POST", "t=" + kToken, "", "List-Unsubscribe=Yes",
       K::kBadRequest},
      {"a POST without a body", "POST", "t=" + kToken, "", "", K::kBadRequest},
      {"multipart without a boundary", "POST", "t=" + kToken,
       "multipart/form-data", kMultipartBody, K::kBadRequest},
      {"multipart cut short", "POST", "t=" + kToken, kMultipartType,
       kMultipartBody.substr(0, 80), K::kBadRequest},
      // The page's own forms.
      {"the stop button", "POST", "", "", "t=" + kToken + "&stop=1", K::kStop,
       kToken},
      {"the body's token first", "POST", "t=" + kOther, "",
       "t=" + kToken + "&stop=1", K::kStop, kToken},
      {"the stop button without a token", "POST", "", "", "stop=1",
       K::kBadRequest},
      {"the confirm button", "POST", "", "", "t=" + kToken + "&confirm=1",
       K::kConfirm, kToken},
      {"a stop wins over a confirmation", "POST", "", "",
       "t=" + kToken + "&confirm=1&stop=1", K::kStop, kToken},
      {"the confirm button without a token", "POST", "", "", "confirm=1",
       K::kBadRequest},
      // A link opened by a mail scanner only shows: GET never confirms.
      {"a confirmation asked by GET", "GET", "t=" + kToken + "&confirm=1", "",
       "", K::kShow, kToken},
      {"a lookup", "POST", "", "", "aaa=taro%40example.jp", K::kLookup, "",
       u"taro@example.jp"},
      {"blanks around the address", "POST", "", "",
       "aaa=+%81%40taro@example.jp%09", K::kLookup, "", u"taro@example.jp"},
      {"an empty lookup", "POST", "", "", "aaa=", K::kLookup, "", u""},
      {"nothing known", "POST", "", "", "x=1", K::kBadRequest},
      {"PUT", "PUT", "t=" + kToken, "", "", K::kMethodNotAllowed},
      {"DELETE", "DELETE", "t=" + kToken, "", "", K::kMethodNotAllowed},
      {"lower-case get", "get", "", "", "", K::kMethodNotAllowed},
      {"no method", "", "", "", "", K::kMethodNotAllowed},
  };
  for (const Case& c : cases) {
    CgiRequest request{U16(c.method), U16(c.query), U16(c.type), U16(c.body)};
    const ManageRequest read = ReadManageRequest(request);
    EXPECT_EQ(read.kind, c.kind) << c.what;
    EXPECT_EQ(read.token, c.token) << c.what;
    EXPECT_EQ(read.address, c.address) << c.what;
  }
}

TEST(ManageRequestTest, UrlEncodedFieldsAreSplitBeforeTheyAreDecoded) {
  const FormFields fields =
      UrlEncodedFields(u"a=1&&b&c=x%3Dy+z%26w&%82%A0=%83A&d=");
  const FormFields expected = {{u"a", u"1"},
                               {u"b", u""},
                               {u"c", u"x=y z&w"},
                               {u"あ", u"ア"},
                               {u"d", u""}};
  EXPECT_EQ(fields, expected);
  EXPECT_TRUE(UrlEncodedFields(u"").empty());
  EXPECT_THROW(UrlEncodedFields(u"a=%ZZ"), Failure);
}

TEST(ManageRequestTest, MultipartFieldsKeepEveryPartInOrder) {
  const std::u16string body =
      u"preamble\r\n"
      u"--XyZ\r\n"
      u"Content-Disposition: form-data; name=\"t\"\r\n"
      u"Content-Type: text/plain\r\n"
      u"\r\n"
      u"abc\r\n"
      u"--XyZ\r\n"
      u"content-disposition: form-data; name=empty\r\n"
      u"\r\n"
      u"\r\n"
      u"--XyZ\r\n"
      u"Content-Disposition: form-data; name=\"two\"\r\n"
      u"\r\n"
      u"line 1\r\nline 2\r\n"
      u"--XyZ--\r\n";
  const FormFields expected = {
      {u"t", u"abc"}, {u"empty", u""}, {u"two", u"line 1\r\nline 2"}};
  EXPECT_EQ(MultipartFields(body, u"multipart/form-data; boundary=XyZ"),
            expected);
  EXPECT_THROW(MultipartFields(body, u"multipart/form-data; boundary=Other"),
               Failure);
}

}  // namespace
}  // namespace qlok
