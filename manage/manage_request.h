// What a request to the manage page asks for, read from its method, its
// query string and its body.
//
// Pure: values in, values out.
#ifndef QLOK_MANAGE_MANAGE_REQUEST_H_
#define QLOK_MANAGE_MANAGE_REQUEST_H_

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "frame/cgi_serve.h"

namespace qlok {

// The form field of the address on the lookup form (the search form's name
// for the address).
inline constexpr char16_t kAddressField[] = u"aaa";
// The form field of the stop button; the token goes in kTokenParameter.
inline constexpr char16_t kStopField[] = u"stop";
// The form field of the confirm button; the token goes in kTokenParameter.
inline constexpr char16_t kConfirmField[] = u"confirm";
// The one-click unsubscription of a mail client: this name and value are
// the whole body it posts to the List-Unsubscribe address.
inline constexpr char16_t kOneClickField[] = u"List-Unsubscribe";
inline constexpr char16_t kOneClickValue[] = u"One-Click";

using FormFields = std::vector<std::pair<std::u16string, std::u16string>>;

// The name=value pairs of a query string or of a URL-encoded body, in
// order: split at "&" and at the first "=" of each pair, then each name and
// value decoded by UrlDecode (so "+" is a blank and code page 932 escapes
// become their characters). A pair without "=" has the empty value; empty
// pairs are skipped. Throws Failure for a broken escape.
FormFields UrlEncodedFields(std::u16string_view text);

// The fields of a multipart/form-data body whose CONTENT_TYPE is
// `content_type` (its boundary parameter, quoted or not): for each part,
// the name of its Content-Disposition header and its content as sent.
// Lines may end in CR LF or LF alone. Throws Failure when the type has no
// boundary or the body holds no part that ends in the closing delimiter.
FormFields MultipartFields(std::u16string_view body,
                           std::u16string_view content_type);

// The first value of `name`; nullptr when there is none.
const std::u16string* FieldValue(const FormFields& fields,
                                 std::u16string_view name);

struct ManageRequest {
  enum Kind {
    kLookupForm,        // GET without a token: the form for the list mail
    kShow,              // GET with a token: the registration and its button
    kStop,              // POST of the stop button
    kConfirm,           // POST of the confirm button
    kOneClick,          // POST "List-Unsubscribe=One-Click" of a mail client
    kLookup,            // POST of the lookup form
    kMalformedToken,    // a token that is no token
    kBadRequest,        // a body or query that cannot be read or is unknown
    kMethodNotAllowed,  // any method but GET, HEAD and POST
  };
  Kind kind = kBadRequest;
  std::string token;       // kShow, kStop, kOneClick: 32 lower-case digits
  std::u16string address;  // kLookup: as typed, blanks around it dropped
};

// Reads one request. GET and HEAD look only at the query: its "t" is the
// token (kShow), its absence kLookupForm. POST reads the body (multipart
// when CONTENT_TYPE says so, else URL-encoded) and takes the token from
// the body's "t", else from the query's: kOneClickField=kOneClickValue is
// kOneClick, kStopField is kStop, kConfirmField is kConfirm (a stop wins
// over a confirmation), kAddressField is kLookup. A token with
// upper-case digits is taken in lower case; any other text that is no
// token is kMalformedToken. Never throws.
ManageRequest ReadManageRequest(const CgiRequest& request);

}  // namespace qlok

#endif  // QLOK_MANAGE_MANAGE_REQUEST_H_
