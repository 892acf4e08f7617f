// A table of records in an SQLite file: append order kept, one cursor,
// forward find with an indexed clamped-equality condition.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/runtime.h"

struct sqlite3;

class TableStore {
 public:
  // Creates the file with the fields; fails (and touches nothing) when a
  // non-empty file is already there.
  static bool Create(const std::string& file, const std::vector<rt::FieldDesc>& fields,
                     std::string* error);
  // Opens an existing store after checking the header, the format version
  // and the table layout, and the whole file's integrity either first or
  // (kInBackground) on a thread of its own, whose verdict `onVerdict` (run
  // on that thread) announces and every write waits for. Never writes to a
  // file that fails a check, and leaves no journal or WAL files of its own
  // beside one it refused.
  enum class Checking { kFirst, kInBackground };
  static std::unique_ptr<TableStore> Open(const std::string& file, std::string* error,
                                          Checking checking = Checking::kFirst,
                                          std::function<void()> onVerdict = {});
  rt::StoreCheck Check(std::string* reason);
  ~TableStore();

  bool First();
  bool Find(const rt::ClampedEquals& cond);
  rt::Value Read(std::string_view field);
  bool Write(std::string_view field, const rt::Value& value, std::string* error);
  bool Append(const std::vector<rt::Value>& values, std::string* error);
  bool Begin(std::string* error);
  bool Commit(std::string* error);
  void Rollback();
  std::vector<rt::DayText> DayTexts(std::string_view dayField, std::string_view textField,
                                    double from, double to, int startBytes);
  // The same for the given days only (at most kMostDaysAtOnce).
  std::vector<rt::DayText> DayTextsOn(std::string_view dayField, std::string_view textField,
                                      const std::vector<double>& days, int startBytes);
  static constexpr size_t kMostDaysAtOnce = 1000;

  // How long a write waits for another connection's write lock (5000 ms by
  // default); applies to stores opened afterwards. Tests shorten it.
  static void SetBusyTimeoutMs(int ms);
  // Stores opened afterwards may grow to this many pages (0: no limit), so
  // tests can fill a "disk".
  static void SetPageLimitForTesting(int pages);

 private:
  TableStore() = default;
  // Day texts of the records whose clamped day meets `condition` (its
  // parameters from ?2 on take `values`).
  std::vector<rt::DayText> DayTextsWhere(std::string_view dayField, std::string_view textField,
                                         const std::string& condition,
                                         const std::vector<double>& values, int startBytes);
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
