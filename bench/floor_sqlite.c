/* The floor of a search on SQLite: the least a program can do to answer
 * the same request. It opens the job database as q_lok.cgi does, registers
 * the same time collation (the very code of the program, linked in), prepares
 * the statement the program logged, steps every row to count it, reads every
 * field of the first 15 rows, and prints the count.
 *
 *   floor_sqlite DATABASE STATEMENT [counted]
 *
 * A statement that is a bare table name (the whole table) is run as
 * "SELECT * FROM name", every row stepped, as the naive reader does; with
 * the word "counted" after the statement it is answered as the program
 * answers it instead: the engine counts the rows ("SELECT count(*) FROM
 * name") and the first 15 are read ("SELECT * FROM name LIMIT 15"). Exit
 * status 0, or 1 with the engine's message on standard error. */
#include <sqlite3.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bench/floor_statements.h"
#include "platform/time_collation.h"

static int CompareTimes(void* unused, int length1, const void* text1,
                        int length2, const void* text2) {
  (void)unused;
  return qlok_time_compare(length1, text1, length2, text2);
}

static int Fail(sqlite3* db, const char* doing) {
  fprintf(stderr, "floor_sqlite: %s: %s\n", doing, sqlite3_errmsg(db));
  sqlite3_close_v2(db);
  return 1;
}

int main(int argc, char** argv) {
  const int counted_mode = argc == 4 && strcmp(argv[3], "counted") == 0;
  if (argc != 3 && !counted_mode) {
    fprintf(stderr, "usage: floor_sqlite DATABASE STATEMENT [counted]\n");
    return 2;
  }
  char rows[kStatementSize];
  char count_table[kStatementSize];
  const char* statement =
      FloorStatement(argv[2], counted_mode, rows, count_table);

  sqlite3* db = NULL;
  if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, NULL) != SQLITE_OK) {
    return Fail(db, "cannot open the database");
  }
  if (sqlite3_create_collation_v2(db, QLOK_TIME_COLLATION_NAME, SQLITE_UTF8,
                                  NULL, CompareTimes, NULL) != SQLITE_OK) {
    return Fail(db, "cannot register the collation");
  }
  sqlite3_stmt* stmt = NULL;
  long long counted = -1;
  if (count_table[0] != '\0') {
    if (sqlite3_prepare_v2(db, count_table, -1, &stmt, NULL) != SQLITE_OK) {
      return Fail(db, "cannot prepare the count");
    }
    if (sqlite3_step(stmt) != SQLITE_ROW) {
      sqlite3_finalize(stmt);
      return Fail(db, "cannot count the rows");
    }
    counted = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    stmt = NULL;
  }
  if (sqlite3_prepare_v2(db, statement, -1, &stmt, NULL) != SQLITE_OK) {
    return Fail(db, "cannot prepare the statement");
  }

  /* Every field of the rows the page shows is read, so that the engine
   * decodes them as it does for the program. */
  long long count = 0;
  size_t bytes = 0;
  int rc;
  int columns = sqlite3_column_count(stmt);
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
    if (count < kRowsRead) {
      for (int i = 0; i < columns; ++i) {
        switch (sqlite3_column_type(stmt, i)) {
          case SQLITE_INTEGER:
            bytes += (size_t)sqlite3_column_int64(stmt, i) & 1;
            break;
          case SQLITE_FLOAT:
            bytes += sqlite3_column_double(stmt, i) > 0;
            break;
          case SQLITE_NULL:
            break;
          default:
            if (sqlite3_column_text(stmt, i) != NULL) {
              bytes += (size_t)sqlite3_column_bytes(stmt, i);
            }
        }
      }
    }
    ++count;
  }
  if (rc != SQLITE_DONE) {
    sqlite3_finalize(stmt);
    return Fail(db, "cannot read the rows");
  }
  sqlite3_finalize(stmt);
  sqlite3_close_v2(db);
  if (counted >= 0) count = counted;
  /* The bytes read are printed too, so that the reading is not left out. */
  printf("%lld %zu\n", count, bytes);
  return 0;
}
