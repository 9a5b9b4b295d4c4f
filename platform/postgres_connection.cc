#include "platform/postgres_connection.h"

#include <libpq-fe.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/failure.h"
#include "platform/libpq_runtime.h"
#include "platform/recordset.h"
#include "text/unicode.h"

namespace qlok {
namespace {

// Type OIDs of the built-in types, as pg_type has them.
constexpr Oid kBool = 16;
constexpr Oid kInt8 = 20;
constexpr Oid kInt2 = 21;
constexpr Oid kInt4 = 23;
constexpr Oid kOidType = 26;
constexpr Oid kFloat4 = 700;
constexpr Oid kFloat8 = 701;
constexpr Oid kDate = 1082;
constexpr Oid kTimestamp = 1114;
constexpr Oid kTimestampTz = 1184;
constexpr Oid kNumeric = 1700;

std::string Trimmed(const char* message) {
  std::string text = message != nullptr ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  return text.empty() ? "unknown error" : text;
}

void IgnoreNotice(void*, const char*) {}

bool StartsWith(const char* text, std::string_view prefix) {
  return text != nullptr && std::string_view(text).starts_with(prefix);
}

// The value of the connection option `keyword` the connection was made
// with; the empty text when it has none.
std::string ConnectionOption(PGconn* conn, const char* keyword) {
  std::string value;
  if (PQconninfoOption* all = PQconninfo(conn)) {
    for (const PQconninfoOption* o = all; o->keyword != nullptr; ++o) {
      if (std::strcmp(o->keyword, keyword) == 0 && o->val != nullptr) {
        value = o->val;
      }
    }
    PQconninfoFree(all);
  }
  return value;
}

// Something that holds the connection busy with a streaming result.
class Stream {
 public:
  virtual void Abandon() = 0;

 protected:
  ~Stream() = default;
};

// The connection, shared by the connection object, its recordsets and its
// writers, so that it closes when the last of them is gone.
class Session {
 public:
  explicit Session(PGconn* conn) : conn_(conn) {}
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  ~Session() { PQfinish(conn_); }

  PGconn* get() const { return conn_; }
  // Makes the connection ready for a new command: a result still streaming
  // is stopped.
  void Quiesce() {
    if (streaming_ != nullptr) streaming_->Abandon();
  }
  void StartStreaming(Stream* stream) { streaming_ = stream; }
  void StopStreaming(Stream* stream) {
    if (streaming_ == stream) streaming_ = nullptr;
  }
  bool IsStreaming() const { return streaming_ != nullptr; }
  std::string NextStatementName() {
    return "qlok_insert_" + std::to_string(++statements_);
  }

 private:
  PGconn* conn_;
  Stream* streaming_ = nullptr;
  int statements_ = 0;
};

// Owns a PGresult.
struct ResultDeleter {
  void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// Reads every result left on the connection, so that it is idle again.
void Drain(PGconn* conn) {
  while (PGresult* result = PQgetResult(conn)) PQclear(result);
}

[[noreturn]] void FailResult(const PGresult* result, const std::string& doing,
                             std::string_view sql) {
  std::string message =
      "PostgreSQL: " + doing + ": " + Trimmed(PQresultErrorMessage(result));
  if (!sql.empty()) message += " (in: " + StatementForMessage(sql) + ")";
  throw Failure(message);
}

std::optional<int64_t> WholeNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  size_t i = text[0] == '-' || text[0] == '+' ? 1 : 0;
  if (i == text.size()) return std::nullopt;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
  }
  errno = 0;
  long long value = std::strtoll(text.c_str(), nullptr, 10);
  if (errno == ERANGE) return std::nullopt;
  return value;
}

// The text form of values sent as parameters, null for a null value.
class ParameterTexts {
 public:
  explicit ParameterTexts(const std::vector<Value>& values)
      : texts_(values.size()), pointers_(values.size(), nullptr) {
    for (size_t i = 0; i < values.size(); ++i) {
      const Value& v = values[i];
      switch (v.kind()) {
        case Value::Kind::kNull:
          continue;
        case Value::Kind::kInteger:
          texts_[i] = std::to_string(v.AsInteger());
          break;
        case Value::Kind::kDouble: {
          char buffer[40];
          std::snprintf(buffer, sizeof buffer, "%.17g", v.AsDouble());
          texts_[i] = buffer;
          break;
        }
        case Value::Kind::kText:
          texts_[i] = U8(v.ToText());
          // A parameter ends at its first zero byte; rather than store a
          // cut text, refuse it (PostgreSQL texts cannot hold one anyway).
          if (texts_[i].find('\0') != std::string::npos) {
            throw Failure("PostgreSQL: value " + std::to_string(i + 1) +
                          " holds a NUL character");
          }
          break;
        case Value::Kind::kDateTime:
          texts_[i] = IsoDateTime(v.AsDateTime());
          break;
        case Value::Kind::kDate:
          texts_[i] = IsoDate(v.AsDateTime());
          break;
      }
      pointers_[i] = texts_[i].c_str();
    }
  }
  int count() const { return static_cast<int>(pointers_.size()); }
  const char* const* values() const { return pointers_.data(); }

 private:
  std::vector<std::string> texts_;
  std::vector<const char*> pointers_;
};

class PgRowSource : public RowSource, private Stream {
 public:
  PgRowSource(std::shared_ptr<Session> session, std::string sql,
              const std::vector<Value>& parameters = {})
      : session_(std::move(session)), sql_(std::move(sql)) {
    const ParameterTexts texts(parameters);
    session_->Quiesce();
    PGconn* conn = session_->get();
    // The extended protocol runs exactly one statement; the single-row mode
    // hands the rows over one at a time as the server sends them.
    if (PQsendQueryParams(conn, sql_.c_str(), texts.count(), nullptr,
                          texts.values(), nullptr, nullptr, 0) != 1) {
      throw Failure("PostgreSQL: cannot send the statement: " +
                    Trimmed(PQerrorMessage(conn)) +
                    " (in: " + StatementForMessage(sql_) + ")");
    }
    session_->StartStreaming(this);
    if (PQsetSingleRowMode(conn) != 1) {
      Finish();
      throw Failure("PostgreSQL: cannot read the rows one at a time");
    }
  }

  ~PgRowSource() override {
    if (!done_) Abandon();
  }

  bool Fetch() override {
    if (abandoned_) {
      throw Failure(
          "PostgreSQL: the rest of this result was dropped when another "
          "statement ran on the connection");
    }
    if (done_) return false;
    row_.reset();
    Result result(PQgetResult(session_->get()));
    if (result == nullptr) {
      Finish();
      return false;
    }
    switch (PQresultStatus(result.get())) {
      case PGRES_SINGLE_TUPLE:
        Describe(result.get());
        row_ = std::move(result);
        return true;
      case PGRES_TUPLES_OK:  // the end of the rows; describes an empty one
        Describe(result.get());
        Finish();
        return false;
      case PGRES_COMMAND_OK:
        Finish();
        return false;
      case PGRES_EMPTY_QUERY:
        Finish();
        throw Failure("PostgreSQL: the statement text is empty");
      default:
        Finish();
        FailResult(result.get(), "cannot read the rows", sql_);
    }
  }

  const std::vector<std::u16string>& ColumnNames() const override {
    return names_;
  }

  RawCell Cell(size_t column) const override {
    RawCell cell;
    int i = static_cast<int>(column);
    if (row_ == nullptr || PQgetisnull(row_.get(), 0, i)) return cell;
    cell.type = RawCell::Type::kText;
    cell.text.assign(PQgetvalue(row_.get(), 0, i),
                     PQgetlength(row_.get(), 0, i));
    return cell;
  }

  Value Convert(size_t column, const RawCell& cell) const override {
    if (cell.type == RawCell::Type::kNull) return Value();
    const std::string& text = cell.text;
    switch (types_[column]) {
      case kInt2:
      case kInt4:
      case kInt8:
      case kOidType:
        if (std::optional<int64_t> n = WholeNumber(text)) {
          return Value::Integer(*n);
        }
        break;
      case kNumeric:
        if (std::optional<int64_t> n = WholeNumber(text)) {
          return Value::Integer(*n);
        }
        [[fallthrough]];
      case kFloat4:
      case kFloat8: {
        char* end = nullptr;
        double d = std::strtod(text.c_str(), &end);
        if (end != text.c_str() && *end == '\0') return Value::Double(d);
        break;
      }
      case kBool:
        if (text == "t") return Value::Integer(1);
        if (text == "f") return Value::Integer(0);
        break;
      case kTimestamp:
        if (std::optional<DateTime> t = ParseDateTime(U16(text))) {
          return Value::DateTimeOf(*t);
        }
        break;
      case kTimestampTz: {
        // The local time as the server wrote it; the zone offset after the
        // seconds ("+09", "-03:30") is left out.
        size_t zone = text.find_first_of("+-", 19);
        if (std::optional<DateTime> t =
                ParseDateTime(U16(text.substr(0, zone)))) {
          return Value::DateTimeOf(*t);
        }
        break;
      }
      case kDate:
        if (std::optional<DateTime> t = ParseDateTime(U16(text))) {
          return Value::DateOf(*t);
        }
        break;
      default:
        break;
    }
    return Value::Text(U16(text));
  }

 private:
  void Describe(const PGresult* result) {
    if (described_) return;
    described_ = true;
    int count = PQnfields(result);
    for (int i = 0; i < count; ++i) {
      names_.push_back(U16(PQfname(result, i)));
      types_.push_back(PQftype(result, i));
    }
  }

  // The statement is over: the connection is idle again.
  void Finish() {
    Drain(session_->get());
    done_ = true;
    session_->StopStreaming(this);
  }

  // Stops the statement before its end: the server is asked to cancel it
  // and the rows already on their way are read and dropped. A statement
  // whose rows have all arrived already (a few rows, read but for their
  // end) is only read to its end: a cancel is a connection of its own to
  // the server, which costs milliseconds. The current row stays readable.
  void Abandon() override {
    if (done_) return;
    PGconn* conn = session_->get();
    // Only what has arrived is looked at (one read of the socket), so that
    // a statement still sending is not read to its end here.
    if (PQconsumeInput(conn) == 1) {
      while (PQisBusy(conn) == 0) {
        PGresult* result = PQgetResult(conn);
        if (result == nullptr) {
          Finish();
          abandoned_ = true;
          return;
        }
        PQclear(result);
      }
    }
    if (PGcancel* cancel = PQgetCancel(conn)) {
      char error[256];
      PQcancel(cancel, error, sizeof error);
      PQfreeCancel(cancel);
    }
    Finish();
    abandoned_ = true;
  }

  std::shared_ptr<Session> session_;
  std::string sql_;
  Result row_;
  bool described_ = false;
  bool done_ = false;
  bool abandoned_ = false;
  std::vector<std::u16string> names_;
  std::vector<Oid> types_;
};

class PgRowWriter : public RowWriter {
 public:
  PgRowWriter(std::shared_ptr<Session> session, std::string sql, size_t columns)
      : session_(std::move(session)),
        sql_(std::move(sql)),
        columns_(columns),
        name_(session_->NextStatementName()) {
    session_->Quiesce();
    Result result(PQprepare(session_->get(), name_.c_str(), sql_.c_str(),
                            static_cast<int>(columns_), nullptr));
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
      FailResult(result.get(), "cannot prepare the insert", sql_);
    }
  }

  ~PgRowWriter() override {
    // The prepared statement would otherwise live as long as the
    // connection; a streaming result is not stopped for this.
    if (!session_->IsStreaming()) {
      std::string deallocate = "DEALLOCATE " + name_;
      PQclear(PQexec(session_->get(), deallocate.c_str()));
    }
  }

  void Insert(const std::vector<Value>& row) override {
    if (row.size() != columns_) {
      throw Failure("PostgreSQL: an insert needs " + std::to_string(columns_) +
                    " values, not " + std::to_string(row.size()));
    }
    const ParameterTexts texts(row);
    session_->Quiesce();
    Result result(PQexecPrepared(session_->get(), name_.c_str(), texts.count(),
                                 texts.values(), nullptr, nullptr, 0));
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
      FailResult(result.get(), "cannot insert the row", sql_);
    }
  }

 private:
  std::shared_ptr<Session> session_;
  std::string sql_;
  size_t columns_;
  std::string name_;
};

class PgConnection : public Connection {
 public:
  explicit PgConnection(std::shared_ptr<Session> session)
      : session_(std::move(session)) {}

  std::unique_ptr<Recordset> Open(const std::u16string& source,
                                  size_t keep_rows) override {
    return std::make_unique<KeepingRecordset>(
        std::make_unique<PgRowSource>(session_, U8(StatementForSource(source))),
        keep_rows);
  }

  void Execute(const std::u16string& sql) override {
    session_->Quiesce();
    std::string text = U8(sql);
    Result result(PQexec(session_->get(), text.c_str()));
    switch (PQresultStatus(result.get())) {
      case PGRES_COMMAND_OK:
      case PGRES_TUPLES_OK:
      case PGRES_EMPTY_QUERY:
        return;
      default:
        FailResult(result.get(), "cannot execute", text);
    }
  }

  std::unique_ptr<Recordset> Query(const std::u16string& sql,
                                   const std::vector<Value>& parameters,
                                   size_t keep_rows) override {
    return std::make_unique<KeepingRecordset>(
        std::make_unique<PgRowSource>(session_, U8(sql), parameters),
        keep_rows);
  }

  // The role's privileges keep the table unchanged (see the README).
  void RefuseChangesTo(const std::u16string&) override {}

  std::unique_ptr<RowWriter> PrepareInsert(
      const std::u16string& table,
      const std::vector<std::u16string>& columns) override {
    return std::make_unique<PgRowWriter>(
        session_, InsertStatement(table, columns, '$'), columns.size());
  }

  std::string Engine() const override { return "postgresql"; }

 private:
  std::shared_ptr<Session> session_;
};

}  // namespace

std::unique_ptr<Connection> OpenPostgresConnection(
    const std::string& uri, const DatabaseOptions& options) {
  LoadLibpq();
  // The session's settings go in the start-up message, which costs no round
  // trip: the client encoding UTF8; date-times written as "2000-01-01
  // 08:30:00" whatever the server's default (the order of day and month in
  // dates it reads stays its own); no JIT compilation, whose tens of
  // milliseconds per statement outweigh what it saves the programs' short
  // statements (the planner asks for it by the cost of the whole plan, also
  // when the statement stops after its first rows); no memoizing of the
  // inner side of a nested loop, which copies every job a search looks up
  // by its row key into a cache that no later row asks again (a tenth of a
  // search over the word index); and the server cancels any statement that
  // runs longer than the timeout. The URI is expanded into
  // its parts after them, so that what it names itself (a connect timeout, say)
  // takes precedence; a setting it displaced is made with a statement below.
  const std::string connect_timeout =
      std::to_string(options.connect_timeout_seconds);
  std::string startup_options =
      "-c DateStyle=ISO -c jit=off -c enable_memoize=off";
  if (options.statement_timeout_seconds > 0) {
    startup_options +=
        " -c statement_timeout=" +
        std::to_string(int64_t{options.statement_timeout_seconds} * 1000);
  }
  const char* keywords[] = {"connect_timeout", "client_encoding", "options",
                            "dbname", nullptr};
  const char* values[] = {
      options.connect_timeout_seconds > 0 ? connect_timeout.c_str() : nullptr,
      "UTF8", startup_options.c_str(), uri.c_str(), nullptr};
  PGconn* conn = PQconnectdbParams(keywords, values, 1);
  if (conn == nullptr) throw Failure("PostgreSQL: out of memory connecting");
  auto session =
      std::make_shared<Session>(conn);  // finishes conn on every path
  if (PQstatus(conn) != CONNECTION_OK) {
    throw Failure("PostgreSQL: cannot connect: " +
                  Trimmed(PQerrorMessage(conn)));
  }
  PQsetNoticeProcessor(conn, IgnoreNotice, nullptr);
  // The server reports the encoding and the date style it took; the
  // statement timeout is in force when the options were the session's.
  if (!StartsWith(PQparameterStatus(conn, "client_encoding"), "UTF8") &&
      PQsetClientEncoding(conn, "UTF8") != 0) {
    throw Failure("PostgreSQL: cannot set the client encoding UTF8: " +
                  Trimmed(PQerrorMessage(conn)));
  }
  std::string settings;
  if (!StartsWith(PQparameterStatus(conn, "DateStyle"), "ISO")) {
    settings = "SET DateStyle TO ISO;";
  }
  if (options.statement_timeout_seconds > 0 &&
      ConnectionOption(conn, "options") != startup_options) {
    settings +=
        " SET statement_timeout TO " +
        std::to_string(int64_t{options.statement_timeout_seconds} * 1000);
  }
  if (!settings.empty()) {
    Result result(PQexec(conn, settings.c_str()));
    if (PQresultStatus(result.get()) != PGRES_COMMAND_OK) {
      FailResult(result.get(), "cannot set up the session", settings);
    }
  }
  return std::make_unique<PgConnection>(std::move(session));
}

}  // namespace qlok
