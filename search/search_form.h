// The two ways a search request ends before the database: the search form
// shown again, filled with the visitor's values, for a search without an
// address; or the registration record, every setting as name=value lines,
// for a registration.
//
// Both carry the field names and the order that ReadSearchRequest expects.
// Pure text assembly; nothing here fails.
#ifndef QLOK_SEARCH_SEARCH_FORM_H_
#define QLOK_SEARCH_SEARCH_FORM_H_

#include <string>

#include "search/search_request.h"

namespace qlok {

// The search and registration form, with no line breaks between its pieces:
// the query text shown as text, then every field prefilled with the
// normalised value of `request` (the address field only with an address
// that was refused, as typed), the boxes checked as posted and the
// disability option selected as posted. Every value and the query text are
// escaped for HTML, so whatever they hold stays text inside its attribute;
// the characters shown are the same. When `escape_growth` is given, it is
// set to the number of code units the escaping added.
std::u16string RenderSearchForm(const SearchRequest& request,
                                const std::u16string& query_text,
                                size_t* escape_growth = nullptr);

// The line above the result of a search whose address was refused: it says
// that the address was not accepted, so that nothing was registered.
inline constexpr char16_t kRefusedAddressNotice[] =
    u"<B>メールアドレスの形式が正しくないため、登録は行わず検索のみ"
    u"行いました。アドレスをご確認のうえ、もう一度送信してください。"
    u"</B><BR>";

// The registration record of `request`: the lines "_su=ss0", "aaa=" ...
// "aah=", one line per box ("aga=1" or "aga=0", every box named), "asa=" and
// finally "zzz", joined by CR LF with none after "zzz". Numbers are written
// as numbers, an absent registration number or daily maximum as nothing.
// A control character inside a value (possible only in a hand-made request)
// is written as a blank, so that each setting keeps to its own line.
std::u16string BuildRegistrationRecord(const SearchRequest& request);

}  // namespace qlok

#endif  // QLOK_SEARCH_SEARCH_FORM_H_
