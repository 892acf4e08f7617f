#include "archive/memo_db.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "util/file_io.h"
#include "util/store_schema.h"

namespace archive {

Db OpenDb(const std::string& file, bool readOnly, std::string* error) {
  sqlite3* raw = nullptr;
  const int rc = sqlite3_open_v2(file.c_str(), &raw,
                                 readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE, nullptr);
  Db db(raw);
  if (rc != SQLITE_OK) {
    if (error) *error = Reason(raw, rc);
    return nullptr;
  }
  storeschema::Harden(raw);
  sqlite3_extended_result_codes(raw, 1);
  sqlite3_busy_timeout(raw, kBusyTimeoutMs);
  return db;
}

Statement Prepare(sqlite3* db, std::string_view sql, std::string* error) {
  sqlite3_stmt* s = nullptr;
  const int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &s, nullptr);
  if (rc != SQLITE_OK && error) *error = Reason(db, rc);
  return Statement(s);
}

bool Exec(sqlite3* db, const char* sql, std::string* error) {
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK && error) *error = Reason(db, rc);
  return rc == SQLITE_OK;
}

std::string Column(sqlite3_stmt* s, int i) {
  const void* p = sqlite3_column_blob(s, i);
  return p ? std::string(static_cast<const char*>(p), sqlite3_column_bytes(s, i)) : std::string();
}

void BindText(sqlite3_stmt* s, int i, std::string_view text) {
  sqlite3_bind_text64(s, i, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
}

std::string Reason(sqlite3* db, int rc) {
  const int sysErrno = db ? sqlite3_system_errno(db) : 0;
  std::fprintf(stderr, "tamsivo: archive: %s (%d, errno %d)\n",
               db ? sqlite3_errmsg(db) : sqlite3_errstr(rc), rc, sysErrno);
  switch (rc & 0xff) {
    case SQLITE_CORRUPT:
      return "数据库文件已损坏";
    case SQLITE_NOTADB:
      return "不是本程序的数据文件";
    case SQLITE_BUSY:
    case SQLITE_LOCKED: {
      const char* file = db ? sqlite3_db_filename(db, "main") : nullptr;
      return fileio::LockedReason(file ? file : "");
    }
    case SQLITE_READONLY:
      return "文件只读，无法写入";
    default:
      break;
  }
  // The rest are the system's own failures, told the way file errors are.
  int err = sysErrno;
  if (err == 0) {
    const int primary = rc & 0xff;
    err = primary == SQLITE_FULL                                  ? ENOSPC
          : primary == SQLITE_PERM || primary == SQLITE_AUTH      ? EACCES
          : primary == SQLITE_NOMEM                               ? ENOMEM
          : primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN ? EIO
                                                                  : 0;
  }
  if (err != 0) return fileio::ErrorText(err);
  return "数据库操作失败（错误码 " + std::to_string(rc) + "）";
}

bool CheckMemoStore(const std::string& file, std::string* reason) {
  if (!fileio::IsRegularFile(file)) {
    *reason = "文件不存在或不是普通文件";
    return false;
  }
  std::string error;
  const Db db = OpenDb(file, true, &error);
  // Objects first: nothing of a file that is not ours is read further.
  bool staleSearch = false;
  if (db && !storeschema::AcceptSchema(db.get(), &staleSearch, &error)) {
    *reason = error;
    return false;
  }
  Statement check = db ? Prepare(db.get(), "PRAGMA quick_check", &error) : nullptr;
  if (!check) {
    *reason = error;
    return false;
  }
  const int rc = sqlite3_step(check.get());
  if (rc != SQLITE_ROW) {
    *reason = Reason(db.get(), rc);
    return false;
  }
  const char* verdict = reinterpret_cast<const char*>(sqlite3_column_text(check.get(), 0));
  if (!verdict || std::strcmp(verdict, "ok") != 0) {
    *reason = "数据库文件已损坏（完整性检查未通过）";
    return false;
  }
  check.reset();
  Statement tables = Prepare(db.get(),
                             "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                             "name IN ('records', 'fields')",
                             &error);
  if (!tables || sqlite3_step(tables.get()) != SQLITE_ROW) {
    *reason = error.empty() ? Reason(db.get(), sqlite3_errcode(db.get())) : error;
    return false;
  }
  if (sqlite3_column_int(tables.get(), 0) != 2) {
    *reason = "不是本程序的数据文件（缺少记录表或字段表）";
    return false;
  }
  return true;
}

namespace {

using std::chrono::days;
using std::chrono::sys_days;
using std::chrono::year_month_day;

constexpr sys_days kDayZero = sys_days(std::chrono::year(1899) / 12 / 30);

}  // namespace

CivilDay ToCivil(double day) {
  // Before day zero the fraction counts forward from midnight: cutting it
  // off toward zero leaves the day either way.
  const double whole = std::isfinite(day) ? std::trunc(day) : 0.0;
  const year_month_day ymd(kDayZero + days(static_cast<long long>(whole)));
  return {static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
          static_cast<int>(static_cast<unsigned>(ymd.day()))};
}

double FromCivil(int year, int month, int day) {
  const sys_days d(std::chrono::year(year) / month / day);
  return static_cast<double>((d - kDayZero).count());
}

std::string ChineseDate(double day) {
  const CivilDay c = ToCivil(day);
  return std::to_string(c.year) + "年" + std::to_string(c.month) + "月" + std::to_string(c.day) +
         "日";
}

std::string IsoDate(double day) {
  const CivilDay c = ToCivil(day);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", c.year, c.month, c.day);
  return buf;
}

}  // namespace archive
