#include "runtime/sqlite_util.h"

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "util/file_io.h"

namespace sqlite {
namespace {

int g_busyTimeoutMs = 5000;
int g_pageLimit = 0;

}  // namespace

int BusyTimeoutMs() { return g_busyTimeoutMs; }
void SetBusyTimeoutMs(int ms) { g_busyTimeoutMs = ms; }
int PageLimit() { return g_pageLimit; }
void SetPageLimit(int pages) { g_pageLimit = pages; }

namespace {

// Waits for a lock in steps of a millisecond, up to the busy timeout:
// SQLite's own timeout sleeps ever longer (up to 100 ms a step), so a lock
// freed at once, as the index build frees it for a save, would still cost
// a save tens of milliseconds.
int WaitForLock(void* timeoutMs, int count) {
  const auto limit = std::chrono::milliseconds(reinterpret_cast<std::intptr_t>(timeoutMs));
  static thread_local std::chrono::steady_clock::time_point since;
  const auto now = std::chrono::steady_clock::now();
  if (count == 0) since = now;
  if (now - since >= limit) return 0;
  std::this_thread::sleep_for(std::chrono::milliseconds(1));
  return 1;
}

}  // namespace

Db Open(const std::string& file, int flags, int* rc) {
  sqlite3* db = nullptr;
  *rc = sqlite3_open_v2(file.c_str(), &db, flags, nullptr);
  Db owned(db);
  if (db) {
    storeschema::Harden(db);
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_handler(db, WaitForLock,
                         reinterpret_cast<void*>(static_cast<std::intptr_t>(g_busyTimeoutMs)));
  }
  return owned;
}

Statement Prepare(sqlite3* db, const std::string& sql, int* rc) {
  sqlite3_stmt* s = nullptr;
  *rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr);
  return Statement(s);
}

bool SupportedKind(int kind) { return kind == rt::kDateTimeField || kind == rt::kLongTextField; }

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

// The reason in words a user can act on. SQLite's own English text goes to
// standard error for whoever looks into it.
std::string Describe(sqlite3* db, int rc) {
  const int sysErrno = db ? sqlite3_system_errno(db) : 0;
  std::fprintf(stderr, "tamsivo: sqlite: %s (%d, errno %d)\n",
               db ? sqlite3_errmsg(db) : sqlite3_errstr(rc), rc, sysErrno);
  switch (rc) {
    case SQLITE_READONLY_DIRECTORY:
      return "文件所在的目录不能写入";
    case SQLITE_READONLY_DBMOVED:
      return "文件在使用中被移走或删除了";
    default:
      break;
  }
  switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: {
      const char* file = db ? sqlite3_db_filename(db, "main") : nullptr;
      return fileio::LockedReason(file ? file : "");
    }
    case SQLITE_FULL:
      return "磁盘已满";
    case SQLITE_READONLY:
      return "文件只读，无法写入";
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return "没有访问权限";
    case SQLITE_IOERR:
      return "读写文件出错（" + fileio::ErrorText(sysErrno ? sysErrno : EIO) + "）";
    case SQLITE_CANTOPEN:
      if (sysErrno == 0) return "无法打开文件";
      return "无法打开文件（" + fileio::ErrorText(sysErrno) + "）";
    case SQLITE_CORRUPT:
      return "数据库文件已损坏";
    case SQLITE_NOTADB:
      return "不是本程序的数据文件";
    case SQLITE_NOMEM:
      return "内存不足";
    case SQLITE_TOOBIG:
      return "内容太大";
    default:
      return "数据库操作失败（错误码 " + std::to_string(rc) + "）";
  }
}

bool Exec(sqlite3* db, const std::string& sql, std::string* error) {
  char* msg = nullptr;
  int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &msg);
  sqlite3_free(msg);
  if (rc != SQLITE_OK) {
    SetError(error, Describe(db, rc));
    return false;
  }
  return true;
}

bool ReservedName(const std::string& name) {
  for (const char* r : {"id", "rowid", "oid", "_rowid_"})
    if (sqlite3_stricmp(name.c_str(), r) == 0) return true;
  return false;
}

// Reads the field list and checks that the records table carries every field.
bool ReadLayout(sqlite3* db, std::vector<Field>* fields, std::string* error) {
  const std::string notOurs = "不是本程序的数据文件";
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v2(db, "SELECT name, kind, width FROM fields ORDER BY position", -1, &s,
                              nullptr);
  if (rc != SQLITE_OK) {
    bool missing = (rc & 0xff) == SQLITE_ERROR;
    SetError(error, missing ? notOurs + "（缺少字段表）" : Describe(db, rc));
    sqlite3_finalize(s);
    return false;
  }
  fields->clear();
  while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
    const unsigned char* name = sqlite3_column_text(s, 0);
    Field f{name ? reinterpret_cast<const char*>(name) : "", sqlite3_column_int(s, 1),
            sqlite3_column_int(s, 2)};
    if (f.name.empty() || !SupportedKind(f.kind)) {
      sqlite3_finalize(s);
      SetError(error, notOurs + "（字段表内容不符）");
      return false;
    }
    fields->push_back(std::move(f));
  }
  sqlite3_finalize(s);
  if (rc != SQLITE_DONE) {
    SetError(error, Describe(db, rc));
    return false;
  }
  if (fields->empty()) {
    SetError(error, notOurs + "（字段表为空）");
    return false;
  }

  std::vector<std::string> columns;
  rc = sqlite3_prepare_v2(db, "SELECT name FROM pragma_table_info('records')", -1, &s, nullptr);
  if (rc != SQLITE_OK) {
    SetError(error, Describe(db, rc));
    return false;
  }
  while ((rc = sqlite3_step(s)) == SQLITE_ROW)
    columns.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
  sqlite3_finalize(s);
  if (rc != SQLITE_DONE) {
    SetError(error, Describe(db, rc));
    return false;
  }
  if (columns.empty()) {
    SetError(error, notOurs + "（缺少记录表）");
    return false;
  }
  for (const Field& f : *fields) {
    bool found = false;
    for (const std::string& c : columns)
      found = found || sqlite3_stricmp(c.c_str(), f.name.c_str()) == 0;
    if (!found) {
      SetError(error, notOurs + "（记录表缺少字段“" + f.name + "”）");
      return false;
    }
  }
  return true;
}

}  // namespace sqlite
