// The sync journeys' stand-in for the program's own saves: creates a memo
// store and saves days through the runtime's table store, as the program
// does, and lists what each day shows.
//   sync_memo_tool create FILE
//   sync_memo_tool put FILE YYYY-MM-DD TEXTFILE     (the text read from a file)
//   sync_memo_tool putmany FILE LISTFILE            (lines: YYYY-MM-DD TAB hex)
//   sync_memo_tool dump FILE                         (one line per day: date TAB hex)
//   sync_memo_tool calendars ADDRESS USER            (url TAB name TAB journals TAB ours)
//   sync_memo_tool test ADDRESS USER                 (the summary line)
// The last two take the password from TAMSIVO_TEST_PASSWORD and print the
// reason on standard error, ending with 1, when discovery fails.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/memo_db.h"
#include "base/datetime.h"
#include "runtime/table_store.h"
#include "sync/discovery.h"
#include "tests/support/store_test_util.h"

namespace {

double ParseDay(const std::string& iso) {
  int y = 0, m = 0, d = 0;
  if (std::sscanf(iso.c_str(), "%d-%d-%d", &y, &m, &d) != 3) return 0;
  return archive::FromCivil(y, m, d);
}

int Put(const std::string& file, double day, const std::string& text) {
  std::string error;
  auto store = TableStore::Open(file, &error);
  if (!store) {
    std::fprintf(stderr, "open: %s\n", error.c_str());
    return 1;
  }
  if (!store->Begin(&error)) {
    std::fprintf(stderr, "begin: %s\n", error.c_str());
    return 1;
  }
  const bool found = store->First() && store->Find(store_test::Day(day));
  const bool ok = found ? store->Write("事情", text, &error)
                        : (text.empty() || store->Append({day, text}, &error));
  if (!ok || !store->Commit(&error)) {
    std::fprintf(stderr, "save: %s\n", error.c_str());
    return 1;
  }
  return 0;
}

int Dump(const std::string& file) {
  std::string error;
  // Read-write, so that a journal a kill left is rolled back first.
  archive::Db db = archive::OpenDb(file, false, &error);
  if (!db) return 1;
  archive::Statement s = archive::Prepare(
      db.get(),
      "SELECT d, (SELECT \"事情\" FROM records r WHERE " + std::string(archive::kDayExpr) +
          " = d ORDER BY id LIMIT 1) FROM (SELECT DISTINCT " + std::string(archive::kDayExpr) +
          " AS d FROM records) ORDER BY d",
      &error);
  if (!s) return 1;
  while (sqlite3_step(s.get()) == SQLITE_ROW) {
    const std::string text = archive::Column(s.get(), 1);
    std::string hex;
    for (unsigned char c : text) {
      char b[3];
      std::snprintf(b, sizeof b, "%02x", c);
      hex += b;
    }
    std::printf("%s\t%s\n", archive::IsoDate(sqlite3_column_double(s.get(), 0)).c_str(),
                hex.c_str());
  }
  return 0;
}

int Discover(const std::string& command, const std::string& address, const std::string& user) {
  davsync::SyncConfig config;
  config.address = address;
  config.user = user;
  if (const char* password = std::getenv("TAMSIVO_TEST_PASSWORD")) config.password = password;
  config.timeoutMs = 20000;
  std::string error;
  if (command == "test") {
    std::string summary;
    if (!davsync::TestConnection(config, &summary, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    std::printf("%s\n", summary.c_str());
    return 0;
  }
  std::vector<davsync::CalendarInfo> calendars;
  if (!davsync::FindCalendars(config, &calendars, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  for (const davsync::CalendarInfo& c : calendars) {
    std::printf("%s\t%s\t%d\t%d\n", c.url.c_str(), c.displayName.c_str(), c.takesJournals ? 1 : 0,
                c.isOurs ? 1 : 0);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::string(argv[1]) == "create") {
    std::string error;
    if (!TableStore::Create(argv[2], store_test::kFields, &error)) {
      std::fprintf(stderr, "create: %s\n", error.c_str());
      return 1;
    }
    return 0;
  }
  if (argc >= 5 && std::string(argv[1]) == "put") {
    std::ifstream in(argv[4], std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return Put(argv[2], ParseDay(argv[3]), text);
  }
  if (argc >= 4 && std::string(argv[1]) == "putmany") {
    std::ifstream in(argv[3]);
    std::string line;
    while (std::getline(in, line)) {
      const std::size_t tab = line.find('\t');
      if (tab == std::string::npos) continue;
      std::string text;
      for (std::size_t i = tab + 1; i + 1 < line.size(); i += 2) {
        text += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
      }
      if (Put(argv[2], ParseDay(line.substr(0, tab)), text) != 0) return 1;
    }
    return 0;
  }
  if (argc >= 3 && std::string(argv[1]) == "dump") return Dump(argv[2]);
  if (argc >= 4 && (std::string(argv[1]) == "calendars" || std::string(argv[1]) == "test")) {
    return Discover(argv[1], argv[2], argv[3]);
  }
  std::fprintf(stderr, "usage: sync_memo_tool create|put|dump FILE ...\n");
  return 2;
}
