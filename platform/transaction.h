// One transaction around a piece of work on a connection.
#ifndef QLOK_PLATFORM_TRANSACTION_H_
#define QLOK_PLATFORM_TRANSACTION_H_

#include "platform/database.h"
#include "platform/failure.h"

namespace qlok {

// Runs `body` between BEGIN and COMMIT; whatever fails rolls the
// transaction back (a failing rollback is ignored so that the first
// failure is the one reported) and is thrown again. On SQLite the
// transaction takes the write lock at its start (BEGIN IMMEDIATE), waiting
// for it as any statement waits for a lock: one that began as a reader
// and wrote later could only fail when another writer came first.
template <typename Body>
void InTransaction(Connection& db, Body&& body) {
  db.Execute(db.Engine() == "sqlite" ? u"BEGIN IMMEDIATE" : u"BEGIN");
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
