// The collation "qlok_time" of the working-time columns of the job table.
//
// SQLite stores those date-times as texts and would compare them byte by
// byte, so "2000/01/01 8:30:00" would sort after "2000/01/01 17:30:00". The
// collation compares them in time order instead. It reads every form a stamp
// takes: "2000/01/01 8:30:00", "2000/1/1 8:30", the date alone for midnight
// ("2000/01/02"), ISO "2000-01-01 08:30:00", "2000-01-01T08:30:00" and ISO
// forms with fractional seconds (which are dropped), with blanks around the
// text ignored. Two texts naming the same moment are equal. Texts that are
// no valid date-time sort after all date-times and byte by byte among
// themselves, so the order is total.
//
// The functions are pure and have C linkage; they are shared by the program
// (which registers it on each SQLite connection) and the loadable extension for
// the sqlite3 shell.
#ifndef QLOK_PLATFORM_TIME_COLLATION_H_
#define QLOK_PLATFORM_TIME_COLLATION_H_

#ifdef __cplusplus
extern "C" {
#endif

// The collation's name in SQL ("COLLATE qlok_time").
#define QLOK_TIME_COLLATION_NAME "qlok_time"

// Compares two UTF-8 texts of the given byte lengths as SQLite's collation
// callbacks do: negative, zero or positive. Never fails.
int qlok_time_compare(int length1, const void* text1, int length2,
                      const void* text2);

// Reads a text as a moment: on success stores the seconds since
// 1970-01-01 00:00:00 (of the proleptic calendar, no time zone) and returns
// 1; returns 0 when the text is no valid date-time.
int qlok_time_parse(int length, const void* text, long long* seconds);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // QLOK_PLATFORM_TIME_COLLATION_H_
