// The job database on PostgreSQL.
#ifndef QLOK_PLATFORM_POSTGRES_CONNECTION_H_
#define QLOK_PLATFORM_POSTGRES_CONNECTION_H_

#include <memory>
#include <string>

#include "platform/database.h"

namespace qlok {

// Connects to the server a libpq connection URI ("postgresql://..." or
// "postgres://...") names, as it stands, with the client encoding UTF8 and
// date-times written in ISO form, within the connect timeout of `options`,
// and sets its statement timeout for every statement of the connection.
// Loads libpq first (platform/libpq_runtime.h). Throws Failure when libpq
// cannot be loaded, when the server refuses, cannot be reached or does not
// answer in time; the message does not repeat the URI, which may hold a
// password.
//
// On the connection, Open runs exactly one statement (a text holding more
// throws Failure) and streams its rows one at a time, so a large result
// never sits in memory whole. Columns of types int2/int4/int8 give
// integers, float4/float8 doubles, numeric integers when whole and doubles
// otherwise, timestamp date-times, date dates, bool 1 or 0, everything
// else texts. While a recordset streams, the connection serves no other
// statement: running one (Open, Execute, an insert) first stops the
// stream, and the recordset then throws Failure when it would need a row it
// has not kept. Recordsets and writers may outlive the connection object.
std::unique_ptr<Connection> OpenPostgresConnection(
    const std::string& uri, const DatabaseOptions& options);

}  // namespace qlok

#endif  // QLOK_PLATFORM_POSTGRES_CONNECTION_H_
