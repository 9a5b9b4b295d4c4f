#include "platform/libpq_runtime.h"

#include <dlfcn.h>
#include <stdio.h>

#include <string>

#include "platform/failure.h"

// The forwarding functions below take the names of libpq's own. They stay
// out of the program's dynamic symbol table, so that libpq, once loaded,
// never binds its own calls to them.
#pragma GCC visibility push(hidden)
#include <libpq-fe.h>
#pragma GCC visibility pop

namespace qlok {
namespace {

void* Library() {
  // A failed load leaves the handle unset, so the next call tries again.
  static void* const library = [] {
    void* handle = dlopen(kLibpqName, RTLD_LAZY | RTLD_LOCAL);
    if (handle == nullptr) {
      const char* reason = dlerror();
      throw Failure(std::string("PostgreSQL client library ") + kLibpqName +
                    " cannot be loaded: " +
                    (reason != nullptr ? reason : "unknown reason"));
    }
    return handle;
  }();
  return library;
}

void* Symbol(const char* name) {
  void* library = Library();
  dlerror();
  void* symbol = dlsym(library, name);
  if (symbol == nullptr) {
    const char* reason = dlerror();
    throw Failure(std::string("PostgreSQL client library ") + kLibpqName +
                  " has no function " + name + ": " +
                  (reason != nullptr ? reason : "null symbol"));
  }
  return symbol;
}

template <typename Function>
Function* Resolve(const char* name) {
  return reinterpret_cast<Function*>(Symbol(name));
}

}  // namespace

void LoadLibpq() { Library(); }

}  // namespace qlok

// Defines the libpq function `name` (declared in libpq-fe.h) as a call of
// the same function in the loaded library, looked up once on first use.
#define QLOK_FORWARD(result, name, parameters, arguments) \
  result name parameters {                                \
    static decltype(::name)* const target =               \
        qlok::Resolve<decltype(::name)>(#name);           \
    return target arguments;                              \
  }

extern "C" {

// Connections.
QLOK_FORWARD(PGconn*, PQconnectdb, (const char* conninfo), (conninfo))
QLOK_FORWARD(PGconn*, PQconnectdbParams,
             (const char* const* keywords, const char* const* values,
              int expand_dbname),
             (keywords, values, expand_dbname))
QLOK_FORWARD(PGPing, PQping, (const char* conninfo), (conninfo))
QLOK_FORWARD(void, PQfinish, (PGconn * conn), (conn))
QLOK_FORWARD(void, PQreset, (PGconn * conn), (conn))
QLOK_FORWARD(ConnStatusType, PQstatus, (const PGconn* conn), (conn))
QLOK_FORWARD(PGTransactionStatusType, PQtransactionStatus, (const PGconn* conn),
             (conn))
QLOK_FORWARD(const char*, PQparameterStatus,
             (const PGconn* conn, const char* param_name), (conn, param_name))
QLOK_FORWARD(int, PQserverVersion, (const PGconn* conn), (conn))
QLOK_FORWARD(int, PQlibVersion, (void), ())
QLOK_FORWARD(char*, PQerrorMessage, (const PGconn* conn), (conn))
QLOK_FORWARD(int, PQsocket, (const PGconn* conn), (conn))
QLOK_FORWARD(int, PQbackendPID, (const PGconn* conn), (conn))
QLOK_FORWARD(int, PQclientEncoding, (const PGconn* conn), (conn))
QLOK_FORWARD(PQconninfoOption*, PQconninfo, (PGconn * conn), (conn))
QLOK_FORWARD(void, PQconninfoFree, (PQconninfoOption * options), (options))
QLOK_FORWARD(int, PQsetClientEncoding, (PGconn * conn, const char* encoding),
             (conn, encoding))
QLOK_FORWARD(PQnoticeProcessor, PQsetNoticeProcessor,
             (PGconn * conn, PQnoticeProcessor proc, void* arg),
             (conn, proc, arg))
QLOK_FORWARD(PQnoticeReceiver, PQsetNoticeReceiver,
             (PGconn * conn, PQnoticeReceiver proc, void* arg),
             (conn, proc, arg))

// Cancelling a running statement.
QLOK_FORWARD(PGcancel*, PQgetCancel, (PGconn * conn), (conn))
QLOK_FORWARD(void, PQfreeCancel, (PGcancel * cancel), (cancel))
QLOK_FORWARD(int, PQcancel, (PGcancel * cancel, char* errbuf, int errbufsize),
             (cancel, errbuf, errbufsize))

// Running statements and waiting for their results.
QLOK_FORWARD(PGresult*, PQexec, (PGconn * conn, const char* query),
             (conn, query))
QLOK_FORWARD(PGresult*, PQexecParams,
             (PGconn * conn, const char* command, int nParams,
              const Oid* paramTypes, const char* const* paramValues,
              const int* paramLengths, const int* paramFormats,
              int resultFormat),
             (conn, command, nParams, paramTypes, paramValues, paramLengths,
              paramFormats, resultFormat))
QLOK_FORWARD(PGresult*, PQprepare,
             (PGconn * conn, const char* stmtName, const char* query,
              int nParams, const Oid* paramTypes),
             (conn, stmtName, query, nParams, paramTypes))
QLOK_FORWARD(PGresult*, PQexecPrepared,
             (PGconn * conn, const char* stmtName, int nParams,
              const char* const* paramValues, const int* paramLengths,
              const int* paramFormats, int resultFormat),
             (conn, stmtName, nParams, paramValues, paramLengths, paramFormats,
              resultFormat))
QLOK_FORWARD(PGresult*, PQdescribePrepared, (PGconn * conn, const char* stmt),
             (conn, stmt))
QLOK_FORWARD(int, PQsendQuery, (PGconn * conn, const char* query),
             (conn, query))
QLOK_FORWARD(int, PQsendQueryParams,
             (PGconn * conn, const char* command, int nParams,
              const Oid* paramTypes, const char* const* paramValues,
              const int* paramLengths, const int* paramFormats,
              int resultFormat),
             (conn, command, nParams, paramTypes, paramValues, paramLengths,
              paramFormats, resultFormat))
QLOK_FORWARD(int, PQsendPrepare,
             (PGconn * conn, const char* stmtName, const char* query,
              int nParams, const Oid* paramTypes),
             (conn, stmtName, query, nParams, paramTypes))
QLOK_FORWARD(int, PQsendQueryPrepared,
             (PGconn * conn, const char* stmtName, int nParams,
              const char* const* paramValues, const int* paramLengths,
              const int* paramFormats, int resultFormat),
             (conn, stmtName, nParams, paramValues, paramLengths, paramFormats,
              resultFormat))
QLOK_FORWARD(int, PQsetSingleRowMode, (PGconn * conn), (conn))
QLOK_FORWARD(PGresult*, PQgetResult, (PGconn * conn), (conn))
QLOK_FORWARD(int, PQisBusy, (PGconn * conn), (conn))
QLOK_FORWARD(int, PQconsumeInput, (PGconn * conn), (conn))
QLOK_FORWARD(int, PQflush, (PGconn * conn), (conn))
QLOK_FORWARD(int, PQsetnonblocking, (PGconn * conn, int arg), (conn, arg))
QLOK_FORWARD(int, PQputCopyData,
             (PGconn * conn, const char* buffer, int nbytes),
             (conn, buffer, nbytes))
QLOK_FORWARD(int, PQputCopyEnd, (PGconn * conn, const char* errormsg),
             (conn, errormsg))
QLOK_FORWARD(int, PQgetCopyData, (PGconn * conn, char** buffer, int async),
             (conn, buffer, async))

// Reading results.
QLOK_FORWARD(ExecStatusType, PQresultStatus, (const PGresult* res), (res))
QLOK_FORWARD(char*, PQresStatus, (ExecStatusType status), (status))
QLOK_FORWARD(char*, PQresultErrorMessage, (const PGresult* res), (res))
QLOK_FORWARD(char*, PQresultErrorField, (const PGresult* res, int fieldcode),
             (res, fieldcode))
QLOK_FORWARD(int, PQntuples, (const PGresult* res), (res))
QLOK_FORWARD(int, PQnfields, (const PGresult* res), (res))
QLOK_FORWARD(char*, PQfname, (const PGresult* res, int field_num),
             (res, field_num))
QLOK_FORWARD(int, PQfnumber, (const PGresult* res, const char* field_name),
             (res, field_name))
QLOK_FORWARD(Oid, PQftype, (const PGresult* res, int field_num),
             (res, field_num))
QLOK_FORWARD(char*, PQcmdStatus, (PGresult * res), (res))
QLOK_FORWARD(char*, PQcmdTuples, (PGresult * res), (res))
QLOK_FORWARD(Oid, PQoidValue, (const PGresult* res), (res))
QLOK_FORWARD(char*, PQgetvalue,
             (const PGresult* res, int tup_num, int field_num),
             (res, tup_num, field_num))
QLOK_FORWARD(int, PQgetlength,
             (const PGresult* res, int tup_num, int field_num),
             (res, tup_num, field_num))
QLOK_FORWARD(int, PQgetisnull,
             (const PGresult* res, int tup_num, int field_num),
             (res, tup_num, field_num))
QLOK_FORWARD(int, PQnparams, (const PGresult* res), (res))
QLOK_FORWARD(Oid, PQparamtype, (const PGresult* res, int param_num),
             (res, param_num))
QLOK_FORWARD(void, PQclear, (PGresult * res), (res))

// Escaping, and freeing what libpq allocated.
QLOK_FORWARD(size_t, PQescapeStringConn,
             (PGconn * conn, char* to, const char* from, size_t length,
              int* error),
             (conn, to, from, length, error))
QLOK_FORWARD(char*, PQescapeLiteral,
             (PGconn * conn, const char* str, size_t len), (conn, str, len))
QLOK_FORWARD(char*, PQescapeIdentifier,
             (PGconn * conn, const char* str, size_t len), (conn, str, len))
QLOK_FORWARD(unsigned char*, PQescapeByteaConn,
             (PGconn * conn, const unsigned char* from, size_t from_length,
              size_t* to_length),
             (conn, from, from_length, to_length))
QLOK_FORWARD(unsigned char*, PQunescapeBytea,
             (const unsigned char* strtext, size_t* retbuflen),
             (strtext, retbuflen))
QLOK_FORWARD(void, PQfreemem, (void* ptr), (ptr))

}  // extern "C"
