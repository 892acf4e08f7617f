#include "runtime/table_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <random>
#include <unordered_map>

#include "base/datetime.h"
#include "util/file_io.h"

namespace {

constexpr char kSqliteHeader[16] = {'S', 'Q', 'L', 'i', 't', 'e', ' ', 'f',
                                    'o', 'r', 'm', 'a', 't', ' ', '3', '\0'};
// Bumped when the layout changes; a newer file is refused rather than misread.
constexpr int kFormatVersion = 1;
int g_busyTimeoutMs = 5000;
int g_pageLimit = 0;

struct Field {
  std::string name;
  int kind;
  int width;
};

bool SupportedKind(int kind) { return kind == rt::kDateTimeField || kind == rt::kLongTextField; }

void SetError(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

std::string Quote(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

// A REAL literal whose text is the same every time for the same value, so a
// query's clamp expression matches the index expression token for token.
std::string SqlReal(double v) {
  if (std::isinf(v)) return v > 0 ? "9e999" : "-9e999";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  std::string s = buf;
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

std::string ClampExpr(std::string_view column, double lo, double hi) {
  return "min(max(" + Quote(column) + ", " + SqlReal(lo) + "), " + SqlReal(hi) + ")";
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
    case SQLITE_LOCKED:
      return "数据库正被另一个程序使用（已锁定）";
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
      return "不是备忘录数据库文件";
    case SQLITE_NOMEM:
      return "内存不足";
    case SQLITE_TOOBIG:
      return "内容太大";
    default:
      return "数据库操作失败（错误码 " + std::to_string(rc) + "）";
  }
}

// Resets a statement when it goes out of use so no read transaction lingers.
struct StmtUse {
  sqlite3_stmt* s;
  ~StmtUse() {
    if (s) {
      sqlite3_reset(s);
      sqlite3_clear_bindings(s);
    }
  }
};

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

void BindValue(sqlite3_stmt* s, int index, const rt::Value& v) {
  if (const double* d = std::get_if<double>(&v)) {
    sqlite3_bind_double(s, index, *d);
  } else if (const std::string* t = std::get_if<std::string>(&v)) {
    // data() is never null, so an empty text stays an empty blob, not NULL.
    sqlite3_bind_blob64(s, index, t->data(), t->size(), SQLITE_STATIC);
  } else {
    sqlite3_bind_null(s, index);
  }
}

bool ValueFits(const Field& f, const rt::Value& v, std::string* error) {
  if (std::holds_alternative<std::monostate>(v)) return true;
  if (f.kind == rt::kDateTimeField && !std::holds_alternative<double>(v)) {
    SetError(error, "字段“" + f.name + "”只能存日期时间");
    return false;
  }
  if (f.kind == rt::kLongTextField && !std::holds_alternative<std::string>(v)) {
    SetError(error, "字段“" + f.name + "”只能存文本");
    return false;
  }
  return true;
}

bool ReservedName(const std::string& name) {
  for (const char* r : {"id", "rowid", "oid", "_rowid_"})
    if (sqlite3_stricmp(name.c_str(), r) == 0) return true;
  return false;
}

std::string ErrnoText(int err) { return fileio::ErrorText(err); }

bool FsyncPath(const std::string& path, bool directory) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (directory ? O_DIRECTORY : 0));
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

void RemoveDatabaseFiles(const std::string& path) {
  ::unlink(path.c_str());
  ::unlink((path + "-journal").c_str());
  ::unlink((path + "-wal").c_str());
  ::unlink((path + "-shm").c_str());
}

// Reads the field list and checks that the records table carries every field.
bool ReadLayout(sqlite3* db, std::vector<Field>* fields, std::string* error) {
  const std::string notOurs = "不是备忘录数据库文件";
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

// Everything Open checks before it dares to open the file for writing.
bool CheckReadOnlyOnce(const std::string& file, std::string* error, int* code);

// A save cut off by a crash or a kill leaves a hot journal that only a
// writer may roll back; rolling it back restores the last whole state.
bool RollBackHotJournal(const std::string& file) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
  if (ok) {
    sqlite3_busy_timeout(db, g_busyTimeoutMs);
    ok = sqlite3_exec(db, "PRAGMA schema_version", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  sqlite3_close_v2(db);
  return ok;
}

bool CheckReadOnly(const std::string& file, std::string* error) {
  int code = 0;
  if (CheckReadOnlyOnce(file, error, &code)) return true;
  if (code != SQLITE_READONLY_ROLLBACK || !RollBackHotJournal(file)) return false;
  return CheckReadOnlyOnce(file, error, &code);
}

bool CheckReadOnlyOnce(const std::string& file, std::string* error, int* code) {
  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  if (rc != SQLITE_OK) {
    SetError(error, Describe(db, rc));
    sqlite3_close_v2(db);
    return false;
  }
  sqlite3_extended_result_codes(db, 1);
  sqlite3_busy_timeout(db, g_busyTimeoutMs);
  bool ok = false;
  sqlite3_stmt* s = nullptr;
  rc = sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &s, nullptr);
  if (rc == SQLITE_OK) rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) {
    const unsigned char* first = sqlite3_column_text(s, 0);
    if (first && std::strcmp(reinterpret_cast<const char*>(first), "ok") == 0) {
      ok = true;
    } else {
      // The check lists the problems in English, one a row: counted for the
      // user, written out for whoever repairs the file.
      int problems = 0;
      do {
        const unsigned char* line = sqlite3_column_text(s, 0);
        std::fprintf(stderr, "tamsivo: %s: %s\n", file.c_str(),
                     line ? reinterpret_cast<const char*>(line) : "");
        ++problems;
      } while (sqlite3_step(s) == SQLITE_ROW);
      SetError(error, "数据库文件已损坏（完整性检查发现 " + std::to_string(problems) +
                          (problems >= 100 ? " 处以上" : " 处") + "问题）");
    }
  } else {
    *code = rc;
    SetError(error, Describe(db, rc));
  }
  sqlite3_finalize(s);

  if (ok) {
    rc = sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &s, nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_step(s);
    if (rc == SQLITE_ROW && sqlite3_column_int(s, 0) > kFormatVersion) {
      SetError(error, "数据库文件由较新的版本创建，无法使用");
      ok = false;
    } else if (rc != SQLITE_ROW) {
      SetError(error, Describe(db, rc));
      ok = false;
    }
    sqlite3_finalize(s);
  }
  if (ok) {
    std::vector<Field> fields;
    ok = ReadLayout(db, &fields, error);
  }
  sqlite3_close_v2(db);
  return ok;
}

}  // namespace

struct TableStore::Impl {
  sqlite3* db = nullptr;
  std::vector<Field> fields;
  std::optional<sqlite3_int64> current;
  std::unordered_map<std::string, sqlite3_stmt*> statements;

  ~Impl() {
    for (auto& [sql, s] : statements) sqlite3_finalize(s);
    if (db && !sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db);
  }

  sqlite3_stmt* Prepare(const std::string& sql, std::string* error = nullptr) {
    auto it = statements.find(sql);
    if (it != statements.end()) return it->second;
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
    if (rc != SQLITE_OK) {
      SetError(error, Describe(db, rc));
      sqlite3_finalize(s);
      return nullptr;
    }
    statements.emplace(sql, s);
    return s;
  }

  const Field* FindField(std::string_view name) const {
    for (const Field& f : fields)
      if (f.name == name) return &f;
    return nullptr;
  }

  bool InTransaction() const { return !sqlite3_get_autocommit(db); }

  // Runs one write, in its own transaction unless the caller opened one.
  template <typename Body>
  bool WriteTransaction(std::string* error, Body body) {
    if (InTransaction()) return body();
    if (!Exec(db, "BEGIN IMMEDIATE", error)) return false;
    if (!body()) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      return false;
    }
    if (!Exec(db, "COMMIT", error)) {
      if (InTransaction()) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      return false;
    }
    return true;
  }
};

void TableStore::SetBusyTimeoutMs(int ms) { g_busyTimeoutMs = ms; }

void TableStore::SetPageLimitForTesting(int pages) { g_pageLimit = pages; }

bool TableStore::Create(const std::string& file, const std::vector<rt::FieldDesc>& fields,
                        std::string* error) {
  if (fields.empty()) {
    SetError(error, "没有字段");
    return false;
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    const rt::FieldDesc& f = fields[i];
    if (f.name.empty() || f.name.find('\0') != std::string::npos || ReservedName(f.name)) {
      SetError(error, "字段名“" + f.name + "”不可用");
      return false;
    }
    if (!SupportedKind(f.kind)) {
      SetError(error, "字段“" + f.name + "”的类型 " + std::to_string(f.kind) + " 不受支持");
      return false;
    }
    for (size_t j = 0; j < i; ++j) {
      if (sqlite3_stricmp(fields[j].name.c_str(), f.name.c_str()) == 0) {
        SetError(error, "字段名“" + f.name + "”重复");
        return false;
      }
    }
  }

  struct stat st;
  if (::stat(file.c_str(), &st) == 0 && (!S_ISREG(st.st_mode) || st.st_size > 0)) {
    SetError(error, "文件已存在");
    return false;
  }

  // Build the store under a temporary name and move it into place, so a
  // crash never leaves a half-made store behind under the real name.
  std::filesystem::path target(file);
  std::string dir = target.has_parent_path() ? target.parent_path().string() : ".";
  // Not mkstemp: the store should get the usual permissions (0666 less umask).
  std::random_device rd;
  std::string temp;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 20; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "%08x", rd());
    temp = dir + "/." + target.filename().string() + ".new-" + suffix;
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    SetError(error, "无法在目录中创建文件（" + ErrnoText(errno) + "）");
    return false;
  }
  ::close(fd);

  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(temp.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  bool ok = rc == SQLITE_OK;
  if (!ok) SetError(error, Describe(db, rc));

  std::string schema =
      "PRAGMA user_version = " + std::to_string(kFormatVersion) +
      ";\n"
      "BEGIN;\n"
      "CREATE TABLE fields(position INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE,"
      " kind INTEGER NOT NULL, width INTEGER NOT NULL);\n"
      "CREATE TABLE records(id INTEGER PRIMARY KEY";
  for (const rt::FieldDesc& f : fields)
    schema += ", " + Quote(f.name) + (f.kind == rt::kDateTimeField ? " REAL" : " BLOB");
  schema += ");\n";
  for (size_t i = 0; i < fields.size(); ++i) {
    const rt::FieldDesc& f = fields[i];
    if (f.kind == rt::kDateTimeField) {
      schema += "CREATE INDEX records_clamped_" + std::to_string(i + 1) + " ON records(" +
                ClampExpr(f.name, kMinDate, kMaxDate) + ", id);\n";
    }
  }
  if (ok) ok = Exec(db, schema, error);
  if (ok) {
    sqlite3_stmt* s = nullptr;
    rc = sqlite3_prepare_v2(db, "INSERT INTO fields(position, name, kind, width) VALUES(?,?,?,?)",
                            -1, &s, nullptr);
    for (size_t i = 0; ok && i < fields.size(); ++i) {
      sqlite3_bind_int64(s, 1, static_cast<sqlite3_int64>(i + 1));
      sqlite3_bind_text(s, 2, fields[i].name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int(s, 3, fields[i].kind);
      sqlite3_bind_int(s, 4, fields[i].width);
      rc = sqlite3_step(s);
      sqlite3_reset(s);
      if (rc != SQLITE_DONE) {
        SetError(error, Describe(db, rc));
        ok = false;
      }
    }
    sqlite3_finalize(s);
  }
  if (ok) ok = Exec(db, "COMMIT;", error);
  if (db && sqlite3_close(db) != SQLITE_OK) {
    if (ok) SetError(error, Describe(db, SQLITE_BUSY));
    ok = false;
    sqlite3_close_v2(db);
  }
  if (ok && !FsyncPath(temp, false)) {
    SetError(error, "无法写入磁盘（" + ErrnoText(errno) + "）");
    ok = false;
  }
  if (ok) {
    int r = ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, file.c_str(), RENAME_NOREPLACE);
    if (r != 0 && (errno == EEXIST || errno == EINVAL || errno == ENOSYS)) {
      // Replace only a file that holds nothing.
      bool emptyOrMissing =
          ::stat(file.c_str(), &st) != 0 ? errno == ENOENT : S_ISREG(st.st_mode) && st.st_size == 0;
      if (emptyOrMissing) {
        r = ::rename(temp.c_str(), file.c_str());
      } else {
        errno = EEXIST;
      }
    }
    if (r != 0) {
      SetError(error, errno == EEXIST ? "文件已存在" : "无法创建文件（" + ErrnoText(errno) + "）");
      ok = false;
    }
  }
  if (!ok) {
    RemoveDatabaseFiles(temp);
    return false;
  }
  ::unlink((temp + "-wal").c_str());
  ::unlink((temp + "-shm").c_str());
  FsyncPath(dir, true);
  return true;
}

std::unique_ptr<TableStore> TableStore::Open(const std::string& file, std::string* error) {
  struct stat st;
  if (::stat(file.c_str(), &st) != 0) {
    SetError(error, errno == ENOENT ? "文件不存在" : "无法读取文件（" + ErrnoText(errno) + "）");
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    SetError(error, "不是普通文件");
    return nullptr;
  }
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SetError(error, "无法读取文件（" + ErrnoText(errno) + "）");
    return nullptr;
  }
  char header[16];
  ssize_t got = 0;
  int readErrno = 0;
  while (got < 16) {
    ssize_t n = ::read(fd, header + got, 16 - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) readErrno = errno;
    if (n <= 0) break;
    got += n;
  }
  ::close(fd);
  if (readErrno != 0) {
    SetError(error, "无法读取文件（" + ErrnoText(readErrno) + "）");
    return nullptr;
  }
  if (got == 0) {
    SetError(error, "文件是空的（0 字节），不是备忘录数据库文件");
    return nullptr;
  }
  if (got < 16 || std::memcmp(header, kSqliteHeader, 16) != 0) {
    SetError(error, "不是备忘录数据库文件（文件头不符）");
    return nullptr;
  }
  // Opening may make SQLite's side files (a WAL-mode file gets -wal and
  // -shm even read-only): a refused store must be left as it was found.
  struct SideFiles {
    std::string base;
    bool had[3] = {};
    bool keep = false;
    const char* suffix[3] = {"-wal", "-shm", "-journal"};
    explicit SideFiles(const std::string& f) : base(f) {
      struct stat st;
      for (int i = 0; i < 3; ++i) had[i] = ::lstat((base + suffix[i]).c_str(), &st) == 0;
    }
    ~SideFiles() {
      if (keep) return;
      for (int i = 0; i < 3; ++i) {
        const std::string path = base + suffix[i];
        struct stat st;
        // Ours and holding nothing (an index file only ever mirrors the log).
        if (!had[i] && ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
            (st.st_size == 0 || i == 1)) {
          ::unlink(path.c_str());
        }
      }
    }
  } sideFiles(file);
  if (!CheckReadOnly(file, error)) return nullptr;

  std::unique_ptr<TableStore> store(new TableStore);
  store->impl_ = std::make_unique<Impl>();
  Impl& im = *store->impl_;
  int rc = sqlite3_open_v2(file.c_str(), &im.db, SQLITE_OPEN_READWRITE, nullptr);
  if (rc != SQLITE_OK) {
    SetError(error, Describe(im.db, rc));
    return nullptr;
  }
  sqlite3_extended_result_codes(im.db, 1);
  sqlite3_busy_timeout(im.db, g_busyTimeoutMs);
  // A rollback journal, not a write-ahead log: once a save has returned the
  // .edb file alone holds it, so a copy of that file is a whole backup.
  // Stores written by earlier builds in WAL mode are converted here.
  if (!Exec(im.db, "PRAGMA journal_mode = DELETE; PRAGMA synchronous = FULL;", error)) {
    return nullptr;
  }
  if (g_pageLimit > 0) {
    Exec(im.db, "PRAGMA max_page_count = " + std::to_string(g_pageLimit), nullptr);
  }
  if (!ReadLayout(im.db, &im.fields, error)) return nullptr;
  store->First();
  sideFiles.keep = true;
  return store;
}

TableStore::~TableStore() = default;

bool TableStore::First() {
  Impl& im = *impl_;
  im.current.reset();
  sqlite3_stmt* s = im.Prepare("SELECT id FROM records ORDER BY id LIMIT 1");
  if (!s) return false;
  StmtUse use{s};
  if (sqlite3_step(s) != SQLITE_ROW) return false;
  im.current = sqlite3_column_int64(s, 0);
  return true;
}

bool TableStore::Find(const rt::ClampedEquals& cond) {
  Impl& im = *impl_;
  if (!im.current) return false;
  const Field* f = im.FindField(cond.field);
  if (!f || std::isnan(cond.lo) || std::isnan(cond.hi) || std::isnan(cond.value)) {
    im.current.reset();
    return false;
  }
  // With the bounds the index was built with this is an index seek; other
  // bounds still give the right answer by walking the records.
  sqlite3_stmt* s = im.Prepare("SELECT id FROM records WHERE id >= ?1 AND " +
                               ClampExpr(f->name, cond.lo, cond.hi) + " = ?2 ORDER BY id LIMIT 1");
  if (!s) {
    im.current.reset();
    return false;
  }
  StmtUse use{s};
  sqlite3_bind_int64(s, 1, *im.current);
  sqlite3_bind_double(s, 2, cond.value);
  if (sqlite3_step(s) != SQLITE_ROW) {
    im.current.reset();
    return false;
  }
  im.current = sqlite3_column_int64(s, 0);
  return true;
}

rt::Value TableStore::Read(std::string_view field) {
  Impl& im = *impl_;
  const Field* f = im.FindField(field);
  if (!im.current || !f) return std::monostate{};
  sqlite3_stmt* s = im.Prepare("SELECT " + Quote(f->name) + " FROM records WHERE id = ?1");
  if (!s) return std::monostate{};
  StmtUse use{s};
  sqlite3_bind_int64(s, 1, *im.current);
  if (sqlite3_step(s) != SQLITE_ROW) return std::monostate{};
  switch (sqlite3_column_type(s, 0)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      return sqlite3_column_double(s, 0);
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
      const void* p = sqlite3_column_blob(s, 0);
      int n = sqlite3_column_bytes(s, 0);
      return p ? std::string(static_cast<const char*>(p), n) : std::string();
    }
    default:
      return std::monostate{};
  }
}

bool TableStore::Write(std::string_view field, const rt::Value& value, std::string* error) {
  Impl& im = *impl_;
  const Field* f = im.FindField(field);
  if (!f) {
    SetError(error, "没有字段“" + std::string(field) + "”");
    return false;
  }
  if (!im.current) {
    SetError(error, "没有当前记录");
    return false;
  }
  if (!ValueFits(*f, value, error)) return false;
  return im.WriteTransaction(error, [&] {
    sqlite3_stmt* s =
        im.Prepare("UPDATE records SET " + Quote(f->name) + " = ?1 WHERE id = ?2", error);
    if (!s) return false;
    StmtUse use{s};
    BindValue(s, 1, value);
    sqlite3_bind_int64(s, 2, *im.current);
    int rc = sqlite3_step(s);
    if (rc != SQLITE_DONE) {
      SetError(error, Describe(im.db, rc));
      return false;
    }
    if (sqlite3_changes(im.db) != 1) {
      SetError(error, "当前记录已不存在");
      return false;
    }
    return true;
  });
}

bool TableStore::Append(const std::vector<rt::Value>& values, std::string* error) {
  Impl& im = *impl_;
  if (values.size() != im.fields.size()) {
    SetError(error, "字段数目不符");
    return false;
  }
  for (size_t i = 0; i < values.size(); ++i)
    if (!ValueFits(im.fields[i], values[i], error)) return false;
  std::string sql = "INSERT INTO records(", params;
  for (size_t i = 0; i < im.fields.size(); ++i) {
    sql += (i ? ", " : "") + Quote(im.fields[i].name);
    params += (i ? ", ?" : "?");
  }
  sql += ") VALUES(" + params + ")";
  sqlite3_int64 id = 0;
  bool ok = im.WriteTransaction(error, [&] {
    sqlite3_stmt* s = im.Prepare(sql, error);
    if (!s) return false;
    StmtUse use{s};
    for (size_t i = 0; i < values.size(); ++i) BindValue(s, static_cast<int>(i + 1), values[i]);
    int rc = sqlite3_step(s);
    if (rc != SQLITE_DONE) {
      SetError(error, Describe(im.db, rc));
      return false;
    }
    id = sqlite3_last_insert_rowid(im.db);
    return true;
  });
  if (ok) im.current = id;
  return ok;
}

bool TableStore::Begin(std::string* error) {
  Impl& im = *impl_;
  if (im.InTransaction()) {
    SetError(error, "事务已经开始");
    return false;
  }
  return Exec(im.db, "BEGIN IMMEDIATE", error);
}

bool TableStore::Commit(std::string* error) {
  Impl& im = *impl_;
  if (!im.InTransaction()) {
    SetError(error, "没有进行中的事务");
    return false;
  }
  if (Exec(im.db, "COMMIT", error)) return true;
  if (im.InTransaction()) sqlite3_exec(im.db, "ROLLBACK", nullptr, nullptr, nullptr);
  return false;
}

void TableStore::Rollback() {
  Impl& im = *impl_;
  if (im.InTransaction()) sqlite3_exec(im.db, "ROLLBACK", nullptr, nullptr, nullptr);
}

std::vector<double> TableStore::DaysWithText(std::string_view dayField, std::string_view textField,
                                             double from, double to) {
  Impl& im = *impl_;
  std::vector<double> days;
  const Field* day = im.FindField(dayField);
  const Field* text = im.FindField(textField);
  if (!day || !text || day->kind != rt::kDateTimeField) return days;
  std::string clamp = ClampExpr(day->name, kMinDate, kMaxDate);
  // A day counts by its first record, the one a lookup finds, so a day is
  // marked exactly when opening it shows a memo (SQLite takes the bare
  // column of the min(id) row).
  sqlite3_stmt* s = im.Prepare("SELECT d FROM (SELECT " + clamp + " AS d, " + Quote(text->name) +
                               " AS t, min(id) FROM records WHERE " + clamp +
                               " BETWEEN ?1 AND ?2 GROUP BY d) WHERE length(t) > 0 ORDER BY d");
  if (!s) return days;
  StmtUse use{s};
  sqlite3_bind_double(s, 1, from);
  sqlite3_bind_double(s, 2, to);
  while (sqlite3_step(s) == SQLITE_ROW) days.push_back(sqlite3_column_double(s, 0));
  return days;
}
