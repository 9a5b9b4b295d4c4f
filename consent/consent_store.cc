#include "consent/consent_store.h"

#include "platform/failure.h"
#include "platform/recordset.h"
#include "text/unicode.h"

namespace qlok {

namespace embedded_texts {
extern const char kConsentSqlite[];
extern const char kConsentPostgresql[];
}  // namespace embedded_texts

namespace {

constexpr char16_t kColumns[] =
    u"registration_id, made, confirmed, confirmed_how, client, user_agent, "
    u"page, hard_bounces, stop_reason";

Consent ReadConsent(const Recordset& row) {
  Consent c;
  c.registration_id = row.Field(u"registration_id").AsInteger();
  c.made =
      DateTimeField(row, u"made", "registration_consent").value_or(DateTime{});
  c.confirmed = DateTimeField(row, u"confirmed", "registration_consent");
  c.confirmed_how = row.Field(u"confirmed_how").ToText();
  c.request.client = row.Field(u"client").ToText();
  c.request.user_agent = row.Field(u"user_agent").ToText();
  c.request.page = row.Field(u"page").ToText();
  c.hard_bounces = static_cast<int>(row.Field(u"hard_bounces").AsInteger());
  c.stop_reason = row.Field(u"stop_reason").ToText();
  return c;
}

class SqlConsentStore : public ConsentStore {
 public:
  explicit SqlConsentStore(Connection& db) : db_(db) {}

  Consent Record(int64_t id, bool fresh, const ConsentRequest& request,
                 const DateTime& now,
                 std::u16string_view confirmed_how) override {
    const std::u16string columns =
        u"INSERT INTO registration_consent (registration_id, made, "
        u"confirmed, confirmed_how, client, user_agent, page, hard_bounces, "
        u"stop_reason) VALUES ($1, $2, $3, $4, $5, $6, $7, 0, '') "
        u"ON CONFLICT (registration_id) DO ";
    const std::u16string on_conflict =
        fresh ? u"UPDATE SET made = excluded.made, "
                u"confirmed = excluded.confirmed, "
                u"confirmed_how = excluded.confirmed_how, "
                u"client = excluded.client, user_agent = excluded.user_agent, "
                u"page = excluded.page, hard_bounces = 0, stop_reason = ''"
              // A no-change update, so that RETURNING gives the kept row.
              : u"UPDATE SET made = registration_consent.made";
    const bool confirm = !confirmed_how.empty();
    std::vector<Consent> rows =
        All(columns + on_conflict + u" RETURNING " + kColumns,
            {Value::Integer(id), Value::DateTimeOf(now),
             confirm ? Value::DateTimeOf(now) : Value(),
             Value::Text(std::u16string(confirmed_how)),
             Value::Text(request.client), Value::Text(request.user_agent),
             Value::Text(request.page)});
    if (rows.size() != 1) throw Failure("registration_consent: not recorded");
    return rows[0];
  }

  std::optional<Consent> Find(int64_t id) override {
    std::vector<Consent> rows =
        All(u"SELECT " + std::u16string(kColumns) +
                u" FROM registration_consent WHERE registration_id = $1",
            {Value::Integer(id)});
    if (rows.empty()) return std::nullopt;
    return rows[0];
  }

  bool Confirm(int64_t id, const DateTime& now) override {
    // A registration whose consent could not be kept when it was made has
    // no row: its confirmation makes one.
    return Changed(
               u"INSERT INTO registration_consent (registration_id, "
               u"made, confirmed, confirmed_how) VALUES ($1, $2, $2, $3) "
               u"ON CONFLICT (registration_id) DO UPDATE SET "
               u"confirmed = excluded.confirmed, "
               u"confirmed_how = excluded.confirmed_how "
               u"WHERE registration_consent.confirmed IS NULL "
               u"RETURNING registration_id",
               {Value::Integer(id), Value::DateTimeOf(now),
                Value::Text(kConfirmedByLink)}) > 0;
  }

  int CountHardBounce(int64_t id, const DateTime& now) override {
    std::unique_ptr<Recordset> rows = db_.Query(
        u"INSERT INTO registration_consent (registration_id, made, "
        u"hard_bounces) VALUES ($1, $2, 1) ON CONFLICT (registration_id) DO "
        u"UPDATE SET hard_bounces = registration_consent.hard_bounces + 1 "
        u"RETURNING hard_bounces",
        {Value::Integer(id), Value::DateTimeOf(now)}, Connection::kKeepAll);
    const int count =
        static_cast<int>(rows->Field(u"hard_bounces").AsInteger());
    while (!rows->AtEnd()) rows->MoveNext();
    return count;
  }

  void NoteStop(int64_t id, std::u16string_view reason) override {
    Changed(
        u"UPDATE registration_consent SET stop_reason = $2 "
        u"WHERE registration_id = $1 RETURNING registration_id",
        {Value::Integer(id), Value::Text(std::u16string(reason))});
  }

  Expired Expire(const DateTime& unconfirmed_before,
                 const DateTime& stopped_before) override {
    Expired expired;
    expired.unconfirmed = Changed(
        u"DELETE FROM registrations WHERE id IN (SELECT registration_id "
        u"FROM registration_consent WHERE confirmed IS NULL AND made < $1) "
        u"RETURNING id",
        {Value::DateTimeOf(unconfirmed_before)});
    // A registration whose consent could not be kept when it was made (init
    // gives the registrations made before consent was kept their rows).
    expired.unconfirmed += Changed(
        u"DELETE FROM registrations WHERE created < $1 AND id NOT IN "
        u"(SELECT registration_id FROM registration_consent) RETURNING id",
        {Value::DateTimeOf(unconfirmed_before)});
    expired.stopped = Changed(
        u"DELETE FROM registrations WHERE active = 0 AND stopped < $1 "
        u"RETURNING id",
        {Value::DateTimeOf(stopped_before)});
    Changed(
        u"DELETE FROM registration_consent WHERE registration_id NOT IN "
        u"(SELECT id FROM registrations) RETURNING registration_id",
        {});
    return expired;
  }

  int64_t AdoptEarlierRegistrations() override {
    return Changed(
        u"INSERT INTO registration_consent (registration_id, made, "
        u"confirmed, confirmed_how) SELECT id, created, created, $1 "
        u"FROM registrations WHERE id NOT IN "
        u"(SELECT registration_id FROM registration_consent) "
        u"RETURNING registration_id",
        {Value::Text(kConfirmedEarlier)});
  }

 private:
  std::vector<Consent> All(const std::u16string& sql,
                           const std::vector<Value>& parameters) {
    std::vector<Consent> out;
    std::unique_ptr<Recordset> rows = db_.Query(sql, parameters, 0);
    for (; !rows->AtEnd(); rows->MoveNext()) out.push_back(ReadConsent(*rows));
    return out;
  }

  int64_t Changed(const std::u16string& sql,
                  const std::vector<Value>& parameters) {
    std::unique_ptr<Recordset> rows = db_.Query(sql, parameters, 0);
    int64_t count = 0;
    for (; !rows->AtEnd(); rows->MoveNext()) ++count;
    return count;
  }

  Connection& db_;
};

}  // namespace

std::unique_ptr<ConsentStore> NewSqlConsentStore(Connection& db) {
  return std::make_unique<SqlConsentStore>(db);
}

std::u16string ConsentSchema(std::string_view engine) {
  if (engine == "sqlite") return U16(embedded_texts::kConsentSqlite);
  if (engine == "postgresql") return U16(embedded_texts::kConsentPostgresql);
  throw Failure("no consent schema for the engine " + std::string(engine));
}

}  // namespace qlok
