// The collation qlok_time as a loadable extension for the sqlite3 shell, so
// that an operator can query the job table by hand:
//   sqlite3 jobs.db
//   sqlite> .load /path/to/qlok_time
//   sqlite> SELECT 始時 FROM 求人 WHERE 始時 >= '2000/01/01 8:00:00';
// Without it, every statement that compares a working-time column fails
// with "no such collation sequence: qlok_time".
#include <sqlite3ext.h>

#include "platform/time_collation.h"

SQLITE_EXTENSION_INIT1

namespace {

int CompareTimes(void*, int length1, const void* text1, int length2,
                 const void* text2) {
  return qlok_time_compare(length1, text1, length2, text2);
}

}  // namespace

// The entry point the shell finds from the file name qlok_time.so.
extern "C" __attribute__((visibility("default"))) int sqlite3_qloktime_init(
    sqlite3* db, char** error, const sqlite3_api_routines* api) {
  SQLITE_EXTENSION_INIT2(api);
  int rc =
      sqlite3_create_collation_v2(db, QLOK_TIME_COLLATION_NAME, SQLITE_UTF8,
                                  nullptr, CompareTimes, nullptr);
  if (rc != SQLITE_OK && error != nullptr) {
    *error = sqlite3_mprintf("cannot register the collation %s",
                             QLOK_TIME_COLLATION_NAME);
  }
  return rc;
}
