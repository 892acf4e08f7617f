// A memo store written through the runtime's own table store, the way the
// program saves a day, for the archive tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "runtime/table_store.h"
#include "tests/support/store_test_util.h"

namespace archive_test {

using store_test::Query;
namespace fs = std::filesystem;

inline double Date(int y, int m, int d) { return MakeDateTime(y, m, d); }

class MemoFile {
 public:
  explicit MemoFile(std::string file) : file_(std::move(file)) {
    std::string error;
    EXPECT_TRUE(TableStore::Create(file_, store_test::kFields, &error)) << error;
    Reopen();
  }
  const std::string& path() const { return file_; }
  void Close() { store_.reset(); }
  void Reopen() {
    std::string error;
    store_ = TableStore::Open(file_, &error);
    ASSERT_NE(store_, nullptr) << error;
  }
  // What saving a day's memo does: look-up and write in one transaction.
  void Put(double day, const std::string& text) {
    std::string error;
    ASSERT_TRUE(store_->Begin(&error)) << error;
    const bool found = store_->First() && store_->Find(store_test::Day(day));
    const bool ok =
        found ? store_->Write("事情", text, &error) : store_->Append({day, text}, &error);
    ASSERT_TRUE(ok && store_->Commit(&error)) << error;
  }
  // Every record, in id order, for comparing before and after.
  std::vector<std::string> Records() const {
    return Query(file_, R"(SELECT id, "日期", hex("事情") FROM records ORDER BY id)");
  }

 private:
  std::string file_;
  std::unique_ptr<TableStore> store_;
};

// Runs SQL on a connection of its own; fails the test on an error.
inline void Sql(const std::string& file, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  char* message = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK)
      << (message ? message : "") << "\n"
      << sql;
  sqlite3_free(message);
  sqlite3_close_v2(db);
}

// Overwrites the middle of a file so SQLite's check fails but the header
// still says SQLite.
inline void Damage(const std::string& file) {
  std::string bytes = store_test::ReadBytes(file);
  ASSERT_GT(bytes.size(), 4096u);
  for (size_t i = 100; i < bytes.size(); i += 7) bytes[i] = static_cast<char>(0xA5);
  store_test::WriteBytes(file, bytes);
}

inline std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace archive_test
