/* The floor of a search on PostgreSQL: the least a program can do to answer
 * the same request. It connects with the program's connection string (the
 * client encoding UTF8 asked for in the start-up message, which costs no
 * round trip), sends the statement the program logged, takes the rows one at
 * a time as they arrive (as a reader must whose memory may not grow with
 * the table), counts every row, reads every field of the first 15 and
 * prints the count.
 *
 *   floor_pq URI STATEMENT [counted]
 *
 * A statement that is a bare table name (the whole table) is run as
 * "SELECT * FROM name", every row stepped, as the naive reader does; with
 * the word "counted" after the statement it is answered as the program
 * answers it instead: the server counts the rows ("SELECT count(*) FROM
 * name") and the first 15 are read ("SELECT * FROM name LIMIT 15"). Exit
 * status 0, or 1 with the server's message on standard error. */
#include <libpq-fe.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bench/floor_statements.h"

static int Fail(PGconn* conn, const char* doing) {
  fprintf(stderr, "floor_pq: %s: %s", doing, PQerrorMessage(conn));
  PQfinish(conn);
  return 1;
}

int main(int argc, char** argv) {
  const int counted_mode = argc == 4 && strcmp(argv[3], "counted") == 0;
  if (argc != 3 && !counted_mode) {
    fprintf(stderr, "usage: floor_pq URI STATEMENT [counted]\n");
    return 2;
  }
  char rows[kStatementSize];
  char count_table[kStatementSize];
  const char* statement =
      FloorStatement(argv[2], counted_mode, rows, count_table);

  const char* keys[] = {"dbname", "client_encoding", NULL};
  const char* values[] = {argv[1], "UTF8", NULL};
  PGconn* conn = PQconnectdbParams(keys, values, 1);
  if (conn == NULL) {
    fprintf(stderr, "floor_pq: out of memory\n");
    return 1;
  }
  if (PQstatus(conn) != CONNECTION_OK) return Fail(conn, "cannot connect");
  long long counted = -1;
  if (count_table[0] != '\0') {
    PGresult* result = PQexec(conn, count_table);
    if (PQresultStatus(result) != PGRES_TUPLES_OK || PQntuples(result) != 1) {
      fprintf(stderr, "floor_pq: cannot count the rows: %s",
              PQresultErrorMessage(result));
      PQclear(result);
      PQfinish(conn);
      return 1;
    }
    counted = atoll(PQgetvalue(result, 0, 0));
    PQclear(result);
  }
  if (PQsendQueryParams(conn, statement, 0, NULL, NULL, NULL, NULL, 0) != 1) {
    return Fail(conn, "cannot send the statement");
  }
  if (PQsetSingleRowMode(conn) != 1) {
    return Fail(conn, "cannot read the rows one at a time");
  }

  long long count = 0;
  size_t bytes = 0;
  int failed = 0;
  PGresult* result;
  while ((result = PQgetResult(conn)) != NULL) {
    switch (PQresultStatus(result)) {
      case PGRES_SINGLE_TUPLE:
        if (count < kRowsRead) {
          int columns = PQnfields(result);
          for (int i = 0; i < columns; ++i) {
            if (!PQgetisnull(result, 0, i)) {
              bytes += strlen(PQgetvalue(result, 0, i));
            }
          }
        }
        ++count;
        break;
      case PGRES_TUPLES_OK:
        break;
      default:
        fprintf(stderr, "floor_pq: cannot read the rows: %s",
                PQresultErrorMessage(result));
        failed = 1;
    }
    PQclear(result);
  }
  PQfinish(conn);
  if (failed) return 1;
  if (counted >= 0) count = counted;
  /* The bytes read are printed too, so that the reading is not left out. */
  printf("%lld %zu\n", count, bytes);
  return 0;
}
