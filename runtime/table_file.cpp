#include "runtime/table_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "base/datetime.h"
#include "runtime/sqlite_util.h"
#include "util/file_io.h"

using namespace sqlite;

namespace {

constexpr const char* kSideSuffixes[3] = {"-wal", "-shm", "-journal"};

// ---------------------------------------------------------------- creation

bool CheckFieldList(const std::vector<rt::FieldDesc>& fields, std::string* error) {
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
  return true;
}

std::string SchemaSql(const std::vector<rt::FieldDesc>& fields) {
  std::vector<storeschema::Column> columns;
  for (const rt::FieldDesc& f : fields) columns.push_back({f.name, f.kind == rt::kDateTimeField});
  return "PRAGMA user_version = " + std::to_string(kFormatVersion) + ";\n" +
         storeschema::RecordsSchemaSql(columns);
}

bool DescribeFields(sqlite3* db, const std::vector<rt::FieldDesc>& fields, std::string* error) {
  int rc = 0;
  Statement s = Prepare(db, "INSERT INTO fields(position, name, kind, width) VALUES(?,?,?,?)", &rc);
  for (size_t i = 0; rc == SQLITE_OK && i < fields.size(); ++i) {
    sqlite3_bind_int64(s.get(), 1, static_cast<sqlite3_int64>(i + 1));
    sqlite3_bind_text(s.get(), 2, fields[i].name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(s.get(), 3, fields[i].kind);
    sqlite3_bind_int(s.get(), 4, fields[i].width);
    rc = sqlite3_step(s.get()) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(db);
    sqlite3_reset(s.get());
  }
  if (rc != SQLITE_OK) SetError(error, Describe(db, rc));
  return rc == SQLITE_OK;
}

// The whole new file, built in memory: nothing half made ever has the real
// name, and the file layer writes it in one step.
bool BuildImage(const std::vector<rt::FieldDesc>& fields, std::string* bytes, std::string* error) {
  int rc = 0;
  const Db db = Open(":memory:", SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, &rc);
  if (rc != SQLITE_OK) {
    SetError(error, Describe(db.get(), rc));
    return false;
  }
  if (!Exec(db.get(), "BEGIN;\n" + SchemaSql(fields), error) ||
      !DescribeFields(db.get(), fields, error) || !Exec(db.get(), "COMMIT;", error)) {
    return false;
  }
  sqlite3_int64 size = 0;
  unsigned char* image = sqlite3_serialize(db.get(), "main", &size, 0);
  if (!image) {
    SetError(error, "内存不足");
    return false;
  }
  bytes->assign(reinterpret_cast<const char*>(image), static_cast<size_t>(size));
  sqlite3_free(image);
  return true;
}

// ------------------------------------------------------------------ checks

bool CheckHeader(const std::string& file, std::string* error) {
  struct stat st;
  if (::stat(file.c_str(), &st) != 0) {
    SetError(error,
             errno == ENOENT ? "文件不存在" : "无法读取文件（" + fileio::ErrorText(errno) + "）");
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    SetError(error, "不是普通文件");
    return false;
  }
  const fileio::FileDescriptor fd = fileio::OpenFile(file, O_RDONLY);
  if (!fd.valid()) {
    SetError(error, "无法读取文件（" + fileio::ErrorText(errno) + "）");
    return false;
  }
  char header[16];
  ssize_t got = 0;
  while (got < 16) {
    const ssize_t n = ::read(fd.get(), header + got, 16 - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      SetError(error, "无法读取文件（" + fileio::ErrorText(errno) + "）");
      return false;
    }
    if (n == 0) break;
    got += n;
  }
  if (got == 0) {
    SetError(error, "文件是空的（0 字节），不是本程序的数据文件");
    return false;
  }
  if (got < 16 || std::memcmp(header, kHeader, 16) != 0) {
    SetError(error, "不是本程序的数据文件（文件头不符）");
    return false;
  }
  return true;
}

// A save cut off by a crash or a kill leaves a hot journal that only a
// writer may roll back; rolling it back restores the last whole state.
bool RollBackHotJournal(const std::string& file) {
  int rc = 0;
  const Db db = Open(file, SQLITE_OPEN_READWRITE, &rc);
  return rc == SQLITE_OK &&
         sqlite3_exec(db.get(), "PRAGMA schema_version", nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The format version, the objects and the table layout: cheap, read from
// the first pages.
bool CheckStructure(sqlite3* db, bool* staleSearch, std::string* error, int* code) {
  int rc = 0;
  Statement version = Prepare(db, "PRAGMA user_version", &rc);
  if (rc == SQLITE_OK) rc = sqlite3_step(version.get());
  if (rc == SQLITE_ROW && sqlite3_column_int(version.get(), 0) > kFormatVersion) {
    SetError(error, "数据文件由较新的版本创建，无法使用");
    return false;
  }
  if (rc != SQLITE_ROW) {
    *code = rc;
    SetError(error, Describe(db, rc));
    return false;
  }
  version.reset();
  std::vector<Field> fields;
  if (!storeschema::AcceptSchema(db, staleSearch, error)) {
    *code = sqlite3_extended_errcode(db);
    return false;
  }
  return ReadLayout(db, &fields, error);
}

// Runs `check` on a read-only connection, rolling back an interrupted save
// first when there is one.
template <typename Check>
bool ReadOnly(const std::string& file, std::string* error, Check check) {
  for (int attempt = 0;; ++attempt) {
    int rc = 0;
    const Db owner = Open(file, SQLITE_OPEN_READONLY, &rc);
    if (rc != SQLITE_OK) {
      SetError(error, Describe(owner.get(), rc));
      return false;
    }
    int code = 0;
    if (check(owner.get(), &code)) return true;
    if (attempt > 0 || code != SQLITE_READONLY_ROLLBACK || !RollBackHotJournal(file)) return false;
  }
}

}  // namespace

bool CheckIntegrity(sqlite3* db, const std::string& file, std::string* error, int* code) {
  int rc = 0;
  Statement check = Prepare(db, "PRAGMA quick_check", &rc);
  sqlite3_stmt* s = check.get();
  if (rc == SQLITE_OK) rc = sqlite3_step(s);
  if (rc != SQLITE_ROW) {
    *code = rc;
    SetError(error, (rc & 0xff) == SQLITE_INTERRUPT ? "检查被中断" : Describe(db, rc));
    return false;
  }
  const unsigned char* first = sqlite3_column_text(s, 0);
  if (first && std::strcmp(reinterpret_cast<const char*>(first), "ok") == 0) return true;
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
  return false;
}

bool CreateStoreFile(const std::string& file, const std::vector<rt::FieldDesc>& fields,
                     std::string* error) {
  std::string bytes;
  if (!CheckFieldList(fields, error) || !BuildImage(fields, &bytes, error)) return false;
  fileio::ReplacePolicy policy;
  // The store holds every memo: for the user's eyes only, whatever the umask.
  policy.newFileMode = fileio::NewFileMode::kOwnerOnly;
  policy.onlyIfAbsentOrEmpty = true;
  return fileio::ReplaceFileAtomically(file, bytes, policy, error);
}

StoreFileCheck::StoreFileCheck(const std::string& file) : file_(file) {
  struct stat st;
  for (int i = 0; i < 3; ++i) had_[i] = ::lstat((file_ + kSideSuffixes[i]).c_str(), &st) == 0;
}

StoreFileCheck::~StoreFileCheck() {
  if (keep_) return;
  for (int i = 0; i < 3; ++i) {
    const std::string path = file_ + kSideSuffixes[i];
    struct stat st;
    // Ours and holding nothing (an index file only ever mirrors the log).
    if (!had_[i] && ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
        (st.st_size == 0 || i == 1)) {
      ::unlink(path.c_str());
    }
  }
}

bool StoreFileCheck::PassesStructure(std::string* error) {
  return CheckHeader(file_, error) && ReadOnly(file_, error, [&](sqlite3* db, int* code) {
           return CheckStructure(db, &staleSearch_, error, code);
         });
}

bool StoreFileCheck::Passes(std::string* error) {
  return CheckHeader(file_, error) && ReadOnly(file_, error, [&](sqlite3* db, int* code) {
           // The objects first: a file that is not ours is refused before
           // the whole of it is read.
           return CheckStructure(db, &staleSearch_, error, code) &&
                  CheckIntegrity(db, file_, error, code);
         });
}

bool StoreFileCheck::WriteAheadLog() const {
  // Byte 18 of the header is 2 in a file that uses a write-ahead log.
  const fileio::FileDescriptor fd = fileio::OpenFile(file_, O_RDONLY);
  unsigned char version = 0;
  return fd.valid() && ::pread(fd.get(), &version, 1, 18) == 1 && version == 2;
}
