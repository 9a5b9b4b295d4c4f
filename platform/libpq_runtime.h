// The PostgreSQL client library, loaded only when a connection string names
// PostgreSQL, so that a search on SQLite never maps libpq and the libraries
// it pulls in.
//
// libpq_runtime.cc defines the libpq functions that the platform layer
// calls (the usual ones of libpq-fe.h: connecting, running statements with
// and without parameters, prepared statements, sending and reading results
// one at a time, escaping, reading results, cancelling) as forwarding
// functions: the first call of each loads libpq.so.5 with dlopen and looks
// the function up; later calls go straight to it. The programs are therefore
// not linked with libpq; its header still declares the functions. A libpq
// function that is not forwarded yet gives an "undefined reference" at link
// time: add its one line to the list in libpq_runtime.cc.
#ifndef QLOK_PLATFORM_LIBPQ_RUNTIME_H_
#define QLOK_PLATFORM_LIBPQ_RUNTIME_H_

namespace qlok {

// The shared object loaded, by its name in the dynamic linker's search.
inline constexpr char kLibpqName[] = "libpq.so.5";

// Loads libpq now, if it is not loaded yet. Throws Failure "PostgreSQL
// client library libpq.so.5 cannot be loaded: <reason>" when it cannot be;
// a later call tries again. The forwarding functions throw the same Failure
// on their first call, and Failure naming the function when libpq lacks it.
void LoadLibpq();

}  // namespace qlok

#endif  // QLOK_PLATFORM_LIBPQ_RUNTIME_H_
