// What the table store's two halves share: owners for SQLite handles, the
// SQL text helpers, the field list and the reasons of failures.
#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/runtime.h"
#include "util/store_schema.h"

namespace sqlite {

struct CloseDb {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Db = std::unique_ptr<sqlite3, CloseDb>;

struct FinalizeStatement {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

// Opens a hardened connection (storeschema::Harden) with extended result
// codes and the busy timeout; the SQLite return code in `rc`.
Db Open(const std::string& file, int flags, int* rc);
Statement Prepare(sqlite3* db, const std::string& sql, int* rc);

inline constexpr char kHeader[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                     'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};
// Bumped when the layout changes; a newer file is refused rather than misread.
inline constexpr int kFormatVersion = 1;

// How long a write waits for another connection's lock; the page limit
// (0: none) lets tests fill a "disk".
int BusyTimeoutMs();
void SetBusyTimeoutMs(int ms);
int PageLimit();
void SetPageLimit(int pages);

struct Field {
  std::string name;
  int kind;
  int width;
};

bool SupportedKind(int kind);
bool ReservedName(const std::string& name);
void SetError(std::string* error, std::string text);
std::string Describe(sqlite3* db, int rc);
bool Exec(sqlite3* db, const std::string& sql, std::string* error);
using storeschema::ClampExpr;
using storeschema::Quote;
// Reads the field list and checks that the records table carries every field.
bool ReadLayout(sqlite3* db, std::vector<Field>* fields, std::string* error);

}  // namespace sqlite
