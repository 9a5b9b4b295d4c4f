#include "platform/sqlite_connection.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/failure.h"
#include "platform/recordset.h"
#include "platform/time_collation.h"
#include "text/unicode.h"

namespace qlok {
namespace {

// How long a connection without a deadline (the operator's commands) waits
// for another connection's lock: a page holds the write lock for
// milliseconds, a daily run's sweep for longer.
constexpr int kBusyTimeoutMilliseconds = 60000;

// The pauses between tries for a lock that another connection holds, in
// milliseconds; after the last, the last again.
constexpr int kBusyPauses[] = {1, 2, 5, 10, 15, 20, 25, 25, 25, 50, 50, 100};

// The database handle, shared by the connection and the statements made on
// it, so that it closes when the last of them is gone.
class Handle {
 public:
  explicit Handle(sqlite3* db) : db_(db) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { sqlite3_close_v2(db_); }
  sqlite3* get() const { return db_; }
  // The tables the authorizer keeps from being changed (UTF-8).
  std::vector<std::string>& read_only_tables() { return read_only_tables_; }
  // Until when a statement waits for another connection's lock; none: a
  // fixed time.
  std::optional<Deadline>& lock_deadline() { return lock_deadline_; }

 private:
  sqlite3* db_;
  std::vector<std::string> read_only_tables_;
  std::optional<Deadline> lock_deadline_;
};

// SQLite's busy handler for a connection with a lock deadline: pauses and
// tries again while the deadline leaves time, so that a request waits for
// a lock as long as its time allows, not a fixed few seconds.
int WaitWithinDeadline(void* data, int tries) {
  const Deadline& deadline = *static_cast<Handle*>(data)->lock_deadline();
  const int64_t left = deadline.RemainingMs();
  if (left <= 0) return 0;
  constexpr int kPauses = sizeof kBusyPauses / sizeof kBusyPauses[0];
  const int pause = kBusyPauses[std::min(tries, kPauses - 1)];
  sqlite3_sleep(static_cast<int>(std::min<int64_t>(pause, left)));
  return 1;
}

// The authorizer of a connection with read-only tables: an action that
// would change one of them is refused when its statement is prepared.
int RefuseChanges(void* data, int action, const char* first, const char* second,
                  const char*, const char*) {
  const char* table = nullptr;
  switch (action) {
    case SQLITE_INSERT:
    case SQLITE_UPDATE:
    case SQLITE_DELETE:
    case SQLITE_DROP_TABLE:
    case SQLITE_DROP_TEMP_TABLE:
      table = first;
      break;
    case SQLITE_ALTER_TABLE:
    case SQLITE_CREATE_INDEX:
    case SQLITE_CREATE_TEMP_INDEX:
    case SQLITE_DROP_INDEX:
    case SQLITE_DROP_TEMP_INDEX:
    case SQLITE_CREATE_TRIGGER:
    case SQLITE_CREATE_TEMP_TRIGGER:
    case SQLITE_DROP_TRIGGER:
    case SQLITE_DROP_TEMP_TRIGGER:
      table = second;
      break;
    default:
      return SQLITE_OK;
  }
  if (table == nullptr) return SQLITE_OK;
  for (const std::string& name :
       static_cast<Handle*>(data)->read_only_tables()) {
    if (sqlite3_stricmp(name.c_str(), table) == 0) return SQLITE_DENY;
  }
  return SQLITE_OK;
}

[[noreturn]] void Fail(sqlite3* db, const std::string& doing,
                       std::string_view sql = {}) {
  std::string message = "SQLite: " + doing + ": " + sqlite3_errmsg(db);
  if (!sql.empty()) message += " (in: " + StatementForMessage(sql) + ")";
  throw Failure(message);
}

int CompareTimes(void*, int length1, const void* text1, int length2,
                 const void* text2) {
  return qlok_time_compare(length1, text1, length2, text2);
}

// How the texts of a column are read, from its declared type.
enum class DeclaredKind { kPlain, kDateTime, kDate };

DeclaredKind KindOfDeclaredType(const char* declared) {
  if (declared == nullptr) return DeclaredKind::kPlain;
  std::string upper(declared);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  if (upper.find("TIMESTAMP") != std::string::npos ||
      upper.find("DATETIME") != std::string::npos) {
    return DeclaredKind::kDateTime;
  }
  if (upper.rfind("DATE", 0) == 0) return DeclaredKind::kDate;
  return DeclaredKind::kPlain;
}

int BindText(sqlite3_stmt* stmt, int index, const std::string& text) {
  return sqlite3_bind_text64(stmt, index, text.data(), text.size(),
                             SQLITE_TRANSIENT, SQLITE_UTF8);
}

int BindValue(sqlite3_stmt* stmt, int index, const Value& v) {
  switch (v.kind()) {
    case Value::Kind::kNull:
      return sqlite3_bind_null(stmt, index);
    case Value::Kind::kInteger:
      return sqlite3_bind_int64(stmt, index, v.AsInteger());
    case Value::Kind::kDouble:
      return sqlite3_bind_double(stmt, index, v.AsDouble());
    case Value::Kind::kText:
      return BindText(stmt, index, U8(v.ToText()));
    case Value::Kind::kDateTime:
      return BindText(stmt, index, IsoDateTime(v.AsDateTime()));
    case Value::Kind::kDate:
      return BindText(stmt, index, IsoDate(v.AsDateTime()));
  }
  return SQLITE_MISUSE;
}

class Statement {
 public:
  Statement(std::shared_ptr<Handle> handle, const std::string& sql)
      : handle_(std::move(handle)), sql_(sql) {
    const char* tail = nullptr;
    if (sqlite3_prepare_v2(handle_->get(), sql.data(),
                           static_cast<int>(sql.size()), &stmt_,
                           &tail) != SQLITE_OK) {
      Fail(handle_->get(), "cannot prepare the statement", sql);
    }
    if (stmt_ == nullptr) {
      throw Failure("SQLite: the statement text is empty (" +
                    StatementForMessage(sql) + ")");
    }
    // Only one statement may run: a second one in the text is refused
    // rather than silently left out. Blanks, ";" and comments may follow.
    const char* end = sql.data() + sql.size();
    if (tail != nullptr && tail < end) {
      sqlite3_stmt* second = nullptr;
      int rc = sqlite3_prepare_v2(
          handle_->get(), tail, static_cast<int>(end - tail), &second, nullptr);
      sqlite3_finalize(second);
      if (rc != SQLITE_OK || second != nullptr) {
        sqlite3_finalize(stmt_);
        throw Failure("SQLite: the text holds more than one statement (" +
                      StatementForMessage(sql) + ")");
      }
    }
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { sqlite3_finalize(stmt_); }

  sqlite3_stmt* get() const { return stmt_; }
  sqlite3* db() const { return handle_->get(); }
  const std::string& sql() const { return sql_; }

 private:
  std::shared_ptr<Handle> handle_;
  std::string sql_;
  sqlite3_stmt* stmt_ = nullptr;
};

class SqliteRowSource : public RowSource {
 public:
  SqliteRowSource(std::shared_ptr<Handle> handle, const std::string& sql,
                  const std::vector<Value>& parameters = {})
      : statement_(std::move(handle), sql) {
    sqlite3_stmt* stmt = statement_.get();
    BindParameters(parameters);
    int count = sqlite3_column_count(stmt);
    for (int i = 0; i < count; ++i) {
      const char* name = sqlite3_column_name(stmt, i);
      names_.push_back(U16(name != nullptr ? name : ""));
      kinds_.push_back(KindOfDeclaredType(sqlite3_column_decltype(stmt, i)));
    }
  }

  bool Fetch() override {
    if (done_) return false;
    int rc = sqlite3_step(statement_.get());
    if (rc == SQLITE_ROW) return true;
    done_ = true;
    if (rc == SQLITE_DONE) return false;
    Fail(statement_.db(), "cannot read the rows", statement_.sql());
  }

  const std::vector<std::u16string>& ColumnNames() const override {
    return names_;
  }

  // Binds parameters[N-1] to the parameter named $N; a parameter of the
  // text without a value, or a value without its parameter, is refused.
  void BindParameters(const std::vector<Value>& parameters) {
    sqlite3_stmt* stmt = statement_.get();
    const int count = sqlite3_bind_parameter_count(stmt);
    if (static_cast<size_t>(count) != parameters.size()) {
      throw Failure("SQLite: the statement names " + std::to_string(count) +
                    " parameters but " + std::to_string(parameters.size()) +
                    " values are given (in: " +
                    StatementForMessage(statement_.sql()) + ")");
    }
    for (size_t i = 0; i < parameters.size(); ++i) {
      const std::string name = "$" + std::to_string(i + 1);
      const int index = sqlite3_bind_parameter_index(stmt, name.c_str());
      if (index == 0) {
        throw Failure("SQLite: the statement has no parameter " + name +
                      " (in: " + StatementForMessage(statement_.sql()) + ")");
      }
      if (BindValue(stmt, index, parameters[i]) != SQLITE_OK) {
        Fail(statement_.db(), "cannot bind parameter " + name,
             statement_.sql());
      }
    }
  }

  RawCell Cell(size_t column) const override {
    sqlite3_stmt* stmt = statement_.get();
    int i = static_cast<int>(column);
    RawCell cell;
    switch (sqlite3_column_type(stmt, i)) {
      case SQLITE_NULL:
        break;
      case SQLITE_INTEGER:
        cell.type = RawCell::Type::kInteger;
        cell.integer = sqlite3_column_int64(stmt, i);
        break;
      case SQLITE_FLOAT:
        cell.type = RawCell::Type::kReal;
        cell.real = sqlite3_column_double(stmt, i);
        break;
      default: {  // text, or a blob read as text
        cell.type = RawCell::Type::kText;
        const unsigned char* text = sqlite3_column_text(stmt, i);
        int bytes = sqlite3_column_bytes(stmt, i);
        if (text != nullptr) {
          cell.text.assign(reinterpret_cast<const char*>(text), bytes);
        }
        break;
      }
    }
    return cell;
  }

  Value Convert(size_t column, const RawCell& cell) const override {
    switch (cell.type) {
      case RawCell::Type::kNull:
        return Value();
      case RawCell::Type::kInteger:
        return Value::Integer(cell.integer);
      case RawCell::Type::kReal:
        return Value::Double(cell.real);
      case RawCell::Type::kText:
        break;
    }
    std::u16string text = U16(cell.text);
    DeclaredKind kind = kinds_[column];
    if (kind != DeclaredKind::kPlain) {
      if (std::optional<DateTime> t = ParseDateTime(text)) {
        return kind == DeclaredKind::kDate ? Value::DateOf(*t)
                                           : Value::DateTimeOf(*t);
      }
    }
    return Value::Text(std::move(text));
  }

 private:
  Statement statement_;
  std::vector<std::u16string> names_;
  std::vector<DeclaredKind> kinds_;
  bool done_ = false;
};

class SqliteRowWriter : public RowWriter {
 public:
  SqliteRowWriter(std::shared_ptr<Handle> handle, const std::string& sql,
                  size_t columns)
      : statement_(std::move(handle), sql), columns_(columns) {}

  void Insert(const std::vector<Value>& row) override {
    if (row.size() != columns_) {
      throw Failure("SQLite: an insert needs " + std::to_string(columns_) +
                    " values, not " + std::to_string(row.size()));
    }
    sqlite3_stmt* stmt = statement_.get();
    sqlite3_reset(stmt);
    sqlite3_clear_bindings(stmt);
    for (size_t i = 0; i < row.size(); ++i) {
      int index = static_cast<int>(i) + 1;
      if (BindValue(stmt, index, row[i]) != SQLITE_OK) {
        Fail(statement_.db(), "cannot bind value " + std::to_string(index),
             statement_.sql());
      }
    }
    int rc = sqlite3_step(stmt);
    sqlite3_reset(stmt);
    if (rc != SQLITE_DONE) {
      Fail(statement_.db(), "cannot insert the row", statement_.sql());
    }
  }

 private:
  Statement statement_;
  size_t columns_;
};

class SqliteConnection : public Connection {
 public:
  explicit SqliteConnection(std::shared_ptr<Handle> handle)
      : handle_(std::move(handle)) {}

  std::unique_ptr<Recordset> Open(const std::u16string& source,
                                  size_t keep_rows) override {
    return std::make_unique<KeepingRecordset>(
        std::make_unique<SqliteRowSource>(handle_,
                                          U8(StatementForSource(source))),
        keep_rows);
  }

  void Execute(const std::u16string& sql) override {
    std::string text = U8(sql);
    char* error = nullptr;
    if (sqlite3_exec(handle_->get(), text.c_str(), nullptr, nullptr, &error) !=
        SQLITE_OK) {
      std::string message = error != nullptr ? error : "unknown error";
      sqlite3_free(error);
      throw Failure("SQLite: cannot execute: " + message +
                    " (in: " + StatementForMessage(text) + ")");
    }
  }

  std::unique_ptr<Recordset> Query(const std::u16string& sql,
                                   const std::vector<Value>& parameters,
                                   size_t keep_rows) override {
    return std::make_unique<KeepingRecordset>(
        std::make_unique<SqliteRowSource>(handle_, U8(sql), parameters),
        keep_rows);
  }

  void RefuseChangesTo(const std::u16string& table) override {
    if (handle_->read_only_tables().empty()) {
      sqlite3_set_authorizer(handle_->get(), RefuseChanges, handle_.get());
    }
    handle_->read_only_tables().push_back(U8(table));
  }

  std::unique_ptr<RowWriter> PrepareInsert(
      const std::u16string& table,
      const std::vector<std::u16string>& columns) override {
    return std::make_unique<SqliteRowWriter>(
        handle_, InsertStatement(table, columns, '?'), columns.size());
  }

  std::string Engine() const override { return "sqlite"; }

 private:
  std::shared_ptr<Handle> handle_;
};

}  // namespace

void UseSqliteFromOneThread() {
  // Both fail harmlessly (SQLITE_MISUSE) once SQLite is initialised.
  sqlite3_config(SQLITE_CONFIG_SINGLETHREAD);
  sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
}

std::unique_ptr<Connection> OpenSqliteConnection(
    const std::string& path, bool create_missing, int cache_kib,
    const std::optional<Deadline>& lock_deadline) {
  sqlite3* db = nullptr;
  int flags = SQLITE_OPEN_READWRITE;
  if (create_missing) flags |= SQLITE_OPEN_CREATE;
  int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  auto handle = std::make_shared<Handle>(db);  // closes db on every path
  if (rc != SQLITE_OK) {
    if (db == nullptr) throw Failure("SQLite: out of memory opening " + path);
    struct stat status;
    if (!create_missing && ::stat(path.c_str(), &status) != 0 &&
        errno == ENOENT) {
      throw Failure("SQLite: the database file " + path + " does not exist");
    }
    Fail(db, "cannot open " + path);
  }
  sqlite3_extended_result_codes(db, 1);
  handle->lock_deadline() = lock_deadline;
  if (lock_deadline) {
    sqlite3_busy_handler(db, WaitWithinDeadline, handle.get());
  } else {
    sqlite3_busy_timeout(db, kBusyTimeoutMilliseconds);
  }
  if (sqlite3_create_collation_v2(db, QLOK_TIME_COLLATION_NAME, SQLITE_UTF8,
                                  nullptr, CompareTimes,
                                  nullptr) != SQLITE_OK) {
    Fail(db, "cannot register the collation " QLOK_TIME_COLLATION_NAME);
  }
  // The pragma reads the schema, so it comes after the busy timeout: it
  // waits for a writer as every statement does.
  if (cache_kib > 0) {
    const std::string pragma =
        "PRAGMA cache_size = -" + std::to_string(cache_kib);
    if (sqlite3_exec(db, pragma.c_str(), nullptr, nullptr, nullptr) !=
        SQLITE_OK) {
      Fail(db, "cannot set the cache size");
    }
  }
  return std::make_unique<SqliteConnection>(std::move(handle));
}

}  // namespace qlok
