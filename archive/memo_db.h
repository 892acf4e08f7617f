// What the archive's parts share about the memo store: connections of their
// own, the day each record counts for, and the check that a file is a whole
// memo store.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>

namespace archive {

// Owners that call SQLite's own release function.
template <typename T, auto Release>
struct Releaser {
  void operator()(T* p) const { Release(p); }
};
using Db = std::unique_ptr<sqlite3, Releaser<sqlite3, sqlite3_close_v2>>;
using Statement = std::unique_ptr<sqlite3_stmt, Releaser<sqlite3_stmt, sqlite3_finalize>>;

// How long a connection waits for the program's own writes.
inline constexpr int kBusyTimeoutMs = 5000;

// The day a record counts for, written exactly as the store's index
// expression so that lookups by day are index seeks.
inline constexpr std::string_view kDayExpr = R"(min(max("日期", -657434.0), 2958465.0))";

// Opens `file` (never creating it) hardened (storeschema::Harden), with the
// busy timeout and extended codes.
Db OpenDb(const std::string& file, bool readOnly, std::string* error);
Statement Prepare(sqlite3* db, std::string_view sql, std::string* error);
bool Exec(sqlite3* db, const char* sql, std::string* error);
// Column `i` of the current row as bytes (empty for NULL).
std::string Column(sqlite3_stmt* s, int i);
// Binds `text` as UTF-8 text, copied.
void BindText(sqlite3_stmt* s, int i, std::string_view text);
// A reason fit for a message box; SQLite's own text goes to standard error.
std::string Reason(sqlite3* db, int rc);

// The file holds only objects the program makes (search objects of another
// make aside, which are rebuilt), with the records and fields tables, and
// the whole file passes SQLite's quick check.
bool CheckMemoStore(const std::string& file, std::string* reason);

// Calendar parts of a stored day (days since 1899-12-30; the fraction, a
// time of day, is ignored).
struct CivilDay {
  int year = 0, month = 0, day = 0;
};
CivilDay ToCivil(double day);
double FromCivil(int year, int month, int day);
// "2026年12月7日", the program's form of a day.
std::string ChineseDate(double day);
// "2026-12-07".
std::string IsoDate(double day);

}  // namespace archive
