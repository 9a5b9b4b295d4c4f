// Decoded text to request: the form fields read and normalised, the query
// built from them, the form shown again and the registration record.
//
// Every query must prepare in SQLite against the real job table: it is
// compiled (EXPLAIN), never run, so the check stays fast whatever it asks.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "jobs/schema.h"
#include "platform/database.h"
#include "platform/failure.h"
#include "platform/recordset.h"
#include "search/query_builder.h"
#include "search/search_form.h"
#include "search/search_request.h"

namespace qlok {
namespace {

// An empty job table in memory, made once.
Connection& JobTable() {
  static std::unique_ptr<Connection> connection = [] {
    std::unique_ptr<Connection> c = OpenConnection(u"sqlite::memory:", "");
    c->Execute(JobTableSchema(c->Engine()));
    return c;
  }();
  return *connection;
}

void CheckQueryPrepares(const std::u16string& query) {
  try {
    JobTable().Open(u"EXPLAIN " + StatementForSource(query), 0);
  } catch (const Failure& failure) {
    std::fprintf(stderr, "%s\n", failure.what());
    FuzzFault("the query does not prepare", query);
  }
}

size_t Count(const std::u16string& text, char16_t c) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), c));
}

// The form's markup is fixed: whatever the visitor sent, it stays inside
// the attribute values, so the signs that make markup are as many as in
// the empty form (with an address box that keeps a refused address when
// the request has one).
void CheckFormMarkup(const SearchRequest& request, const std::u16string& form) {
  static const std::u16string empty = RenderSearchForm(SearchRequest(), u"");
  static const std::u16string empty_with_refused = [] {
    SearchRequest refused;
    refused.refused_address = u"x";
    return RenderSearchForm(refused, u"");
  }();
  const std::u16string& baseline =
      request.refused_address.empty() ? empty : empty_with_refused;
  for (char16_t sign : {u'<', u'>', u'\''}) {
    if (Count(form, sign) != Count(baseline, sign)) {
      FuzzFault("a value added markup to the form", form);
    }
  }
}

std::vector<std::u16string> RecordNames() {
  std::vector<std::u16string> names = {u"_su=ss0", u"aaa=", u"aa6=", u"aa8=",
                                       u"aab=",    u"aac=", u"aad=", u"aae=",
                                       u"aaf=",    u"aag=", u"aah="};
  for (std::u16string_view box : kBoxNames)
    names.push_back(std::u16string(box) + u"=");
  names.push_back(u"asa=");
  return names;
}

// One setting per line, every line where the reader of the record expects
// it, and no line break inside a value.
void CheckRecord(const std::u16string& record) {
  static const std::vector<std::u16string> names = RecordNames();
  size_t from = 0;
  for (const std::u16string& name : names) {
    const size_t end = record.find(u"\r\n", from);
    if (end == std::u16string::npos) FuzzFault("the record is short", record);
    const std::u16string_view line(record.data() + from, end - from);
    if (!line.starts_with(name) ||
        line.find_first_of(u"\r\n") != std::u16string_view::npos) {
      FuzzFault("a record line is out of place", record);
    }
    from = end + 2;
  }
  if (std::u16string_view(record).substr(from) != u"zzz") {
    FuzzFault("the record does not end with zzz", record);
  }
}

void Check(const uint8_t* data, size_t size) {
  const std::u16string text = FuzzText(data, size);
  std::u16string posted = text;
  const SearchRequest request = ReadSearchRequest(posted);
  const std::u16string query = BuildQuery(request);
  CheckQueryPrepares(query);
  CheckFormMarkup(request, RenderSearchForm(request, query));
  CheckRecord(BuildRegistrationRecord(request));
}

}  // namespace
}  // namespace qlok

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qlok::Check(data, size);
  return 0;
}
