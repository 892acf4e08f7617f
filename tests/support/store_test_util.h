// What the store tests share: a temporary directory, file bytes, the memo
// fields and a second connection that holds the write lock.
#pragma once

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "base/datetime.h"
#include "base/runtime.h"
#include "memo/memo_store.h"
#include "tests/support/test_program.h"

namespace store_test {

namespace fs = std::filesystem;

using TempDir = ScratchDir;

inline std::string ReadBytes(const std::string& path) { return SlurpFile(path); }
inline void WriteBytes(const std::string& path, const std::string& bytes) { PutFile(path, bytes); }

// Every byte value, NUL included, then pseudo-random bytes up to `size`.
inline std::string AllBytes(size_t size) {
  std::string s;
  for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
  std::mt19937 gen(42);
  while (s.size() < size) s += static_cast<char>(gen() & 0xff);
  return s;
}

inline const std::vector<rt::FieldDesc> kFields = {{"日期", rt::kDateTimeField, 20},
                                                   {"事情", rt::kLongTextField, 20}};

inline rt::ClampedEquals Day(double d) { return {"日期", kMinDate, kMaxDate, ClampDate(d)}; }

inline std::string Text(const rt::Value& v) {
  const std::string* s = std::get_if<std::string>(&v);
  return s ? *s : "<not text>";
}

// A second connection that holds the write lock while it lives.
class WriteLock {
 public:
  explicit WriteLock(const std::string& file) {
    sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
    ok = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~WriteLock() {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
  }
  bool ok = false;

 private:
  sqlite3* db_ = nullptr;
};

// Another process with `sql` run on the file and its transaction left open
// until this goes.
class OtherProcess {
 public:
  OtherProcess(const std::string& file, const char* sql) {
    int ready[2];
    EXPECT_EQ(::pipe(ready), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      // Nothing of the parent's comes along (its directory lock least of all).
      for (int fd = 3; fd < 1024; ++fd)
        if (fd != ready[1]) ::close(fd);
      sqlite3* db = nullptr;
      sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
      const char ok = sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK ? 'y' : 'n';
      (void)!::write(ready[1], &ok, 1);
      ::pause();
      ::_exit(0);
    }
    ::close(ready[1]);
    char ok = 0;
    EXPECT_EQ(::read(ready[0], &ok, 1), 1);
    EXPECT_EQ(ok, 'y');
    ::close(ready[0]);
  }
  ~OtherProcess() { End(); }
  void End() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

// Rows of a query on the file, each row's columns joined with '|'.
inline std::vector<std::string> Query(const std::string& file, const std::string& sql) {
  std::vector<std::string> rows;
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr);
  while (s && sqlite3_step(s) == SQLITE_ROW) {
    std::string row;
    for (int i = 0; i < sqlite3_column_count(s); ++i) {
      const unsigned char* t = sqlite3_column_text(s, i);
      row += (i ? "|" : "") + std::string(t ? reinterpret_cast<const char*>(t) : "NULL");
    }
    rows.push_back(row);
  }
  sqlite3_finalize(s);
  sqlite3_close_v2(db);
  return rows;
}

// Reasons reach message boxes: Chinese only, no English from the library.
inline bool HasLatinLetters(const std::string& text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); });
}

}  // namespace store_test
