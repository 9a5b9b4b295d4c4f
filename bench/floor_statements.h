/* What the two floors share: the statements they run for the statement the
 * program logged. A statement that is a bare table name is the whole table:
 * every row stepped ("SELECT * FROM name"), or, counted, the engine's count
 * ("SELECT count(*) FROM name") and the first rows read. Any other
 * statement runs as it is. Header only: each floor is one C file built by
 * the benchmark. */
#ifndef QLOK_BENCH_FLOOR_STATEMENTS_H_
#define QLOK_BENCH_FLOOR_STATEMENTS_H_

#include <stdio.h>
#include <string.h>

enum { kRowsRead = 15, kStatementSize = 256 };

/* True when `text` holds no blank, quote or punctuation: a bare table name,
 * which the program opens as a whole table. */
static int IsBareName(const char* text) {
  for (const unsigned char* p = (const unsigned char*)text; *p; ++p) {
    if (*p < 0x80 && !(*p == '_' || (*p >= '0' && *p <= '9') ||
                       (*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z'))) {
      return 0;
    }
  }
  return *text != '\0';
}

/* The statement whose rows the floor reads: `logged` itself, or for a bare
 * table name the whole table written into `rows`. When `counted` and the
 * statement is a bare name, `count` receives the count's statement and the
 * rows are limited to kRowsRead; otherwise `count` is left empty. Both
 * buffers hold kStatementSize bytes; a name too long for them is run as it
 * is (and fails in the engine, as it should). */
static const char* FloorStatement(const char* logged, int counted,
                                  char rows[kStatementSize],
                                  char count[kStatementSize]) {
  count[0] = '\0';
  if (!IsBareName(logged) || strlen(logged) >= kStatementSize - 40) {
    return logged;
  }
  if (counted) {
    snprintf(rows, kStatementSize, "SELECT * FROM %s LIMIT %d", logged,
             kRowsRead);
    snprintf(count, kStatementSize, "SELECT count(*) FROM %s", logged);
  } else {
    snprintf(rows, kStatementSize, "SELECT * FROM %s", logged);
  }
  return rows;
}

#endif  // QLOK_BENCH_FLOOR_STATEMENTS_H_
