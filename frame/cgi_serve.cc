#include "frame/cgi_serve.h"

#include <exception>
#include <string>
#include <string_view>

#include "frame/error_page.h"
#include "frame/page_shell.h"
#include "text/text_utils.h"
#include "text/unicode.h"

namespace qlok {

std::u16string StatusText(int status) {
  switch (status) {
    case 200:
      return u"200 OK";
    case 400:
      return u"400 Bad Request";
    case 404:
      return u"404 Not Found";
    case 405:
      return u"405 Method Not Allowed";
    case 500:
      return u"500 Internal Server Error";
    default:
      return Digits(status);
  }
}

void CgiServe(CgiProcess& process, const std::function<SiteConfig()>& load_site,
              const PageHandler& handler) {
  RequestFields fields;
  ErrorTrap trap(process.clock, process.errors);
  SiteConfig site;
  std::function<void()> after_response;
  // A CONTENT_LENGTH that cannot be taken is the request's fault: the
  // intake sees none, and the handler answers the request as malformed.
  std::string refused_body;
  try {
    ParseContentLength(process.environment("CONTENT_LENGTH"));
  } catch (const std::exception& failure) {
    refused_body = failure.what();
  }
  CgiProcess intake = process;
  if (!refused_body.empty()) {
    intake.environment = [&process](const char* name) {
      return std::string_view(name) == "CONTENT_LENGTH"
                 ? std::string()
                 : process.environment(name);
    };
  }
  if (TakeRequest(intake, fields, trap, load_site, site)) {
    trap.Run(fields, [&] {
      CgiRequest request;
      request.method = U16(process.environment("REQUEST_METHOD"));
      request.query = fields.QueryString;
      request.content_type = fields.ContentType;
      request.body = fields.PostedString;
      request.refused_body = refused_body;
      const CgiAnswer answer = handler(request, site);
      if (answer.status != 200) {
        fields.ResponseHeader +=
            u"Status: " + StatusText(answer.status) + u"\r\n";
      }
      for (const std::u16string& line : answer.headers) {
        fields.ResponseHeader += line + u"\r\n";
      }
      AppendFramedPage(fields.PageBuffer, site, answer.body);
      after_response = answer.after_response;
    });
  }
  WriteFields(process, fields);
  if (after_response) {
    process.output.Close();
    try {
      after_response();
    } catch (const std::exception& failure) {
      process.errors << "q_lok: after the response: "
                     << U8(BlankControlCharacters(U16(failure.what()))) << "\n";
      process.errors.flush();
    }
  }
}

}  // namespace qlok
