// Running an import the way the program does it, and reading the store back.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "archive/memo_db.h"
#include "intake/collect.h"
#include "intake/merge.h"
#include "tests/archive/archive_test_util.h"
#include "util/file_io.h"

namespace intake_test {

using namespace archive_test;

// Reads `path`, plans against `store` and writes the plan; the plan comes back.
inline intake::Plan Import(const std::string& store, const std::string& path) {
  intake::Plan plan;
  std::string error;
  EXPECT_TRUE(intake::MakePlan(store, intake::ReadPath(path), &plan, &error)) << error;
  intake::Progress progress;
  intake::Written written;
  EXPECT_TRUE(intake::WritePlan(store, plan, &progress, &written, &error)) << error;
  EXPECT_EQ(written.newDays, plan.newDays);
  EXPECT_EQ(written.addedDays, plan.addedDays);
  return plan;
}

// Saves a day in an existing store as the program does.
inline void Put(const std::string& file, double day, const std::string& text) {
  std::string error;
  std::unique_ptr<TableStore> store = TableStore::Open(file, &error);
  ASSERT_NE(store, nullptr) << error;
  ASSERT_TRUE(store->Begin(&error)) << error;
  const bool found = store->First() && store->Find(store_test::Day(day));
  const bool ok = found ? store->Write("事情", text, &error) : store->Append({day, text}, &error);
  ASSERT_TRUE(ok && store->Commit(&error)) << error;
}

inline std::vector<std::string> Records(const std::string& file) {
  return Query(file, R"(SELECT id, "日期", hex("事情") FROM records ORDER BY id)");
}

// The memo each day shows (its first record), by "YYYY-MM-DD".
inline std::map<std::string, std::string> Memos(const std::string& store) {
  std::map<std::string, std::string> out;
  for (const std::string& row :
       Query(store, R"(SELECT "日期", hex("事情") FROM records r WHERE id = (SELECT min(id) FROM )"
                    R"(records s WHERE s."日期" = r."日期") AND length("事情") > 0)")) {
    const std::size_t bar = row.find('|');
    const double day = std::stod(row.substr(0, bar));
    const std::string hex = row.substr(bar + 1);
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
      bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    out[archive::IsoDate(day)] = bytes;
  }
  return out;
}

// The entries by day (those of one day in the order read).
inline std::string Entries(const intake::Reading& r) {
  std::vector<intake::Entry> entries = r.entries;
  std::stable_sort(entries.begin(), entries.end(),
                   [](const intake::Entry& a, const intake::Entry& b) { return a.date < b.date; });
  std::string out;
  for (const intake::Entry& e : entries) {
    char date[16];
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", e.date.year, e.date.month, e.date.day);
    out += std::string(date) + (e.time.empty() ? "" : " " + e.time) + " " + e.text + "|";
  }
  return out;
}

inline std::string Problems(const intake::Reading& r) {
  std::string out;
  for (const intake::Problem& p : r.problems)
    out += p.file + " " + p.where + "：" + p.message + "|";
  for (const std::string& s : r.skipped) out += s + "|";
  return out;
}

}  // namespace intake_test
