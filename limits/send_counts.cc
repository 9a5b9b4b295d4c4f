#include "limits/send_counts.h"

#include <algorithm>

#include "platform/failure.h"
#include "text/unicode.h"

namespace qlok {

namespace embedded_texts {
extern const char kSendCountsSqlite[];
extern const char kSendCountsPostgresql[];
}  // namespace embedded_texts

namespace {

// A date-time field: engines give date-times, or the stored text where a
// result column has no declared type.
DateTime DateTimeField(const Recordset& row, std::u16string_view column) {
  const Value value = row.Field(column);
  if (value.kind() == Value::Kind::kDateTime ||
      value.kind() == Value::Kind::kDate) {
    return value.AsDateTime();
  }
  if (std::optional<DateTime> t = ParseDateTime(value.ToText())) return *t;
  throw Failure("send_counts: column " + U8(column) +
                " holds no date-time: " + U8(value.ToText()));
}

class SqlSendCounts : public SendCounts {
 public:
  explicit SqlSendCounts(Connection& db) : db_(db) {}

  Taken Take(const SendLimit& limit, const DateTime& now) override {
    if (limit.window_seconds < 1 ||
        limit.window_seconds > kLongestWindowSeconds) {
      throw Failure("send_counts: a window of " +
                    std::to_string(limit.window_seconds) +
                    " seconds is not 1 second to a day");
    }
    if (limit.limit < 1) {
      throw Failure("send_counts: a limit of " + std::to_string(limit.limit) +
                    " allows nothing");
    }
    Run(u"DELETE FROM send_counts WHERE at < $1 RETURNING id",
        {Value::DateTimeOf(AddSeconds(now, -kLongestWindowSeconds))});
    const int64_t id = FirstInteger(
        u"INSERT INTO send_counts (kind, counted, at) VALUES ($1, $2, $3) "
        u"RETURNING id",
        {Value::Text(limit.kind), Value::Text(limit.counted),
         Value::DateTimeOf(now)},
        u"id");
    // The events of the window up to this one, oldest first: when there are
    // more than the limit, the one that must leave the window before the
    // next event is allowed is the (count - limit)th.
    std::unique_ptr<Recordset> rows = db_.Query(
        u"SELECT at FROM send_counts WHERE kind = $1 AND counted = $2 "
        u"AND at > $3 AND id <= $4 ORDER BY at, id",
        {Value::Text(limit.kind), Value::Text(limit.counted),
         Value::DateTimeOf(AddSeconds(now, -limit.window_seconds)),
         Value::Integer(id)},
        Connection::kKeepAll);
    std::vector<DateTime> window;
    for (; !rows->AtEnd(); rows->MoveNext()) {
      window.push_back(DateTimeField(*rows, u"at"));
    }
    Taken taken;
    if (static_cast<int64_t>(window.size()) <= limit.limit) {
      taken.allowed = true;
      taken.id = id;
      return taken;
    }
    GiveBack(id);
    // Without this event the window holds size - 1 events; the next one is
    // allowed once only limit - 1 of them remain, that is once the
    // (size - limit)th oldest has left.
    taken.free_at = AddSeconds(window[window.size() - limit.limit - 1],
                               limit.window_seconds);
    return taken;
  }

  void GiveBack(int64_t id) override {
    Run(u"DELETE FROM send_counts WHERE id = $1 RETURNING id",
        {Value::Integer(id)});
  }

 private:
  void Run(const std::u16string& sql, const std::vector<Value>& parameters) {
    std::unique_ptr<Recordset> rows = db_.Query(sql, parameters, 0);
    while (!rows->AtEnd()) rows->MoveNext();
  }

  int64_t FirstInteger(const std::u16string& sql,
                       const std::vector<Value>& parameters,
                       std::u16string_view column) {
    std::unique_ptr<Recordset> rows =
        db_.Query(sql, parameters, Connection::kKeepAll);
    if (rows->AtEnd()) throw Failure("send_counts: nothing was counted");
    const int64_t value = rows->Field(column).AsInteger();
    while (!rows->AtEnd()) rows->MoveNext();
    return value;
  }

  Connection& db_;
};

}  // namespace

std::unique_ptr<SendCounts> NewSqlSendCounts(Connection& db) {
  return std::make_unique<SqlSendCounts>(db);
}

std::u16string SendCountsSchema(std::string_view engine) {
  if (engine == "sqlite") return U16(embedded_texts::kSendCountsSqlite);
  if (engine == "postgresql") {
    return U16(embedded_texts::kSendCountsPostgresql);
  }
  throw Failure("no send_counts schema for the engine " + std::string(engine));
}

int64_t SecondsUntil(const DateTime& now, const DateTime& free_at) {
  return std::max<int64_t>(1,
                           SecondsSinceEpoch(free_at) - SecondsSinceEpoch(now));
}

}  // namespace qlok
