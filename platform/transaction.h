// One transaction around a piece of work on a connection.
#ifndef QLOK_PLATFORM_TRANSACTION_H_
#define QLOK_PLATFORM_TRANSACTION_H_

#include "platform/database.h"
#include "platform/failure.h"

namespace qlok {

// Runs `body` between BEGIN and COMMIT; whatever fails rolls the
// transaction back (a failing rollback is ignored so that the first
// failure is the one reported) and is thrown again.
template <typename Body>
void InTransaction(Connection& db, Body&& body) {
  db.Execute(u"BEGIN");
  try {
    body();
    db.Execute(u"COMMIT");
  } catch (...) {
    IgnoringFailure([&] { db.Execute(u"ROLLBACK"); });
    throw;
  }
}

}  // namespace qlok

#endif  // QLOK_PLATFORM_TRANSACTION_H_
