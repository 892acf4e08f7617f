// Kills the program with SIGKILL at random moments while it saves settings
// and memos, and checks after every kill that Start.ini is a whole old or new
// file and that every memo whose save had returned is in the store.
//
// TAMSIVO_CRASH_SEED and TAMSIVO_CRASH_ROUNDS override the fixed seed and the
// number of rounds (to replay or to soak).
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "memo/memo_store.h"
#include "settings/settings.h"
#include "tests/crash/crash_journal.h"
#include "tests/support/test_program.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// What the driver recorded; a line cut by the kill (no newline) is ignored.
struct Journal {
  std::vector<long> settings;
  std::vector<long> memos;
  int starts = 0;
};

Journal ReadJournal(const std::string& path) {
  Journal j;
  std::string bytes = ReadBytes(path);
  const size_t end = bytes.rfind('\n');
  bytes.resize(end == std::string::npos ? 0 : end + 1);
  std::istringstream in(bytes);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    if (line[0] == crash::kReadyTag) {
      ++j.starts;
    } else if (line[0] == crash::kSettingTag) {
      j.settings.push_back(std::stol(line.substr(2)));
    } else if (line[0] == crash::kMemoTag) {
      j.memos.push_back(std::stol(line.substr(2)));
    } else {
      ADD_FAILURE() << "unexpected journal line: " << line;
    }
  }
  return j;
}

// The first-run file with the main window's 左边 set to `left`, in GBK: the
// only content Start.ini may ever have in this test.
std::string StartIniWith(const std::string& left) {
  std::string text = DefaultSettingsText;
  const std::string from = "[主窗口]\r\n左边=117\r\n";
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos);
  if (at != std::string::npos) text.replace(at, from.size(), "[主窗口]\r\n左边=" + left + "\r\n");
  return Gbk(text);
}

std::string Printable(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n\n";
    } else if (c < 0x20 || c >= 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// Opened for writing, as the program opens it: a kill in the middle of a
// save leaves a journal that the next writer rolls back.
std::string StoreCheck(const std::string& file, const char* pragma) {
  sqlite3* db = nullptr;
  std::string result;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    result = std::string("open: ") + sqlite3_errmsg(db);
  } else {
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db, pragma, -1, &s, nullptr) == SQLITE_OK &&
        sqlite3_step(s) == SQLITE_ROW) {
      const unsigned char* text = sqlite3_column_text(s, 0);
      result = text ? reinterpret_cast<const char*>(text) : "";
    } else {
      result = std::string("step: ") + sqlite3_errmsg(db);
    }
    sqlite3_finalize(s);
  }
  sqlite3_close_v2(db);
  return result;
}

long EnvOr(const char* name, long fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atol(v) : fallback;
}

TEST(CrashSafety, KillsAtRandomMomentsNeverTearSettingsNorLoseSavedMemos) {
  const unsigned seed = static_cast<unsigned>(EnvOr("TAMSIVO_CRASH_SEED", 20261207));
  const long rounds = EnvOr("TAMSIVO_CRASH_ROUNDS", 30);
  std::printf("crash test: seed %u, %ld rounds (TAMSIVO_CRASH_SEED / TAMSIVO_CRASH_ROUNDS)\n", seed,
              rounds);
  std::mt19937 rng(seed);

  char tmpl[] = "/tmp/tamsivo-crash-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  const std::string root = tmpl;
  const std::string dir = root + "/program";
  const std::string journal = root + "/journal";
  fs::create_directory(dir);
  const std::string ini = dir + "/" + kSettingsFileName;
  const std::string store = dir + "/" + kMemoStoreFileName;

  bool iniSeen = false;
  bool storeSeen = false;
  int killsInLoop = 0;
  std::set<std::string> leftovers;
  const auto began = std::chrono::steady_clock::now();

  long round = 0;
  for (; round < rounds && !HasFailure(); ++round) {
    SCOPED_TRACE("round " + std::to_string(round) + " (seed " + std::to_string(seed) + ")");
    const Journal before = ReadJournal(journal);
    std::error_code ec;
    const std::uintmax_t journalSize = fs::exists(journal) ? fs::file_size(journal, ec) : 0;
    // Resume after the last completed save; one in flight is simply redone.
    const long firstSetting =
        before.settings.empty() ? crash::kFirstSetting : before.settings.back() + 1;
    const long firstMemo = before.memos.empty() ? 1 : before.memos.back() + 1;

    const std::string s1 = std::to_string(firstSetting), m1 = std::to_string(firstMemo);
    const char* argv[] = {CRASH_DRIVER, dir.c_str(), journal.c_str(),
                          s1.c_str(),   m1.c_str(),  nullptr};
    pid_t pid = 0;
    ASSERT_EQ(
        ::posix_spawn(&pid, CRASH_DRIVER, nullptr, nullptr, const_cast<char**>(argv), environ), 0);
    // Start-up alone takes about as long as the delays, so most kills are
    // timed from the moment the driver reports the program started (to hit
    // the save loop) and the rest from the spawn (to hit the first-run
    // creation of the store and Start.ini, and the store's recovery).
    const bool fromSpawn = std::uniform_int_distribution<int>(0, 3)(rng) == 0;
    const int delayMs = std::uniform_int_distribution<int>(5, 200)(rng);
    if (!fromSpawn) {
      const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (fs::file_size(journal, ec) <= journalSize &&
             std::chrono::steady_clock::now() < giveUp) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
    ASSERT_EQ(::kill(pid, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL)
        << "the driver ended on its own (status " << status << ") before the kill";

    const Journal after = ReadJournal(journal);
    if (after.settings.size() > before.settings.size()) ++killsInLoop;
    std::printf("round %2ld: killed %3d ms after %s, %zu settings and %zu memos saved\n", round,
                delayMs, fromSpawn ? "spawn" : "start",
                after.settings.size() - before.settings.size(),
                after.memos.size() - before.memos.size());

    // Start.ini: the last value reported written, or the next one if its
    // rename had happened; before any write, the first-run file (or none if
    // the kill came before it was made). Never anything in between.
    std::set<long> allowed;
    if (after.settings.empty()) {
      allowed = {117, crash::kFirstSetting};
    } else {
      allowed = {after.settings.back(), after.settings.back() + 1};
    }
    long onDisk = -1;
    if (!fs::exists(ini)) {
      EXPECT_FALSE(iniSeen) << "Start.ini vanished";
      EXPECT_TRUE(after.settings.empty()) << "Start.ini missing after a reported write";
    } else {
      iniSeen = true;
      const std::string bytes = ReadBytes(ini);
      for (long v : allowed) {
        if (bytes == StartIniWith(std::to_string(v))) onDisk = v;
      }
      EXPECT_NE(onDisk, -1) << "Start.ini is neither the old nor the new file; allowed 左边 "
                            << *allowed.begin() << " or " << *allowed.rbegin() << ":\n"
                            << Printable(bytes);
    }
    // Temporary files of an interrupted write may stay behind, never under
    // a name the program reads.
    for (const auto& entry : fs::directory_iterator(dir)) {
      const std::string name = entry.path().filename().string();
      if (name == kSettingsFileName || name.find(kSettingsFileName) == std::string::npos) continue;
      EXPECT_TRUE(name.rfind(".Start.ini.", 0) == 0 || name.rfind("Start.ini.", 0) == 0)
          << "unexpected file " << name;
      leftovers.insert(name);
    }

    // The store as the program finds it on its next start: readable, whole,
    // and holding every memo whose save had returned.
    if (!fs::exists(store)) {
      EXPECT_FALSE(storeSeen) << "the store vanished";
      EXPECT_TRUE(after.memos.empty()) << "the store is missing after a reported save";
      continue;
    }
    storeSeen = true;
    EXPECT_EQ(StoreCheck(store, "PRAGMA integrity_check"), "ok");
    {
      TestProgram program(dir);
      if (onDisk != -1) {
        EXPECT_EQ(ReadSetting(kMainSection, "左边"), std::to_string(onDisk));
      }
      OpenMemoStore();
      ASSERT_TRUE(MemoStoreOpen()) << (program.messages.empty() ? "" : program.messages[0].text);
      EXPECT_TRUE(program.messages.empty());

      std::set<long> saved(after.memos.begin(), after.memos.end());
      int missing = 0, wrong = 0;
      for (long n : saved) {
        if (!FindDayMemo(crash::MemoDay(n))) {
          if (++missing <= 3) ADD_FAILURE() << "memo " << n << " is missing";
        } else if (ReadMemoText() != crash::MemoText(n)) {
          if (++wrong <= 3) ADD_FAILURE() << "memo " << n << " has other text";
        }
      }
      EXPECT_EQ(missing, 0);
      EXPECT_EQ(wrong, 0);
      // Only the save in flight may have landed without being reported, and
      // then whole.
      const long inFlight = after.memos.empty() ? 1 : after.memos.back() + 1;
      for (double day : DaysWithMemo(crash::MemoDay(0), crash::MemoDay(inFlight + 1000))) {
        const long n = std::lround(day - crash::MemoDay(0));
        if (saved.count(n)) continue;
        EXPECT_EQ(n, inFlight) << "memo " << n << " stored but never saved";
        ASSERT_TRUE(FindDayMemo(day));
        EXPECT_EQ(ReadMemoText(), crash::MemoText(n)) << "memo in flight stored torn";
      }
    }
  }

  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  const Journal total = ReadJournal(journal);
  std::printf(
      "crash test: %ld rounds in %.1f s, %d killed mid-loop, %d started, "
      "%zu settings and %zu memos saved, %zu temporary settings files left\n",
      round, seconds, killsInLoop, total.starts, total.settings.size(), total.memos.size(),
      leftovers.size());
  // Some kills must land in the save loop, not only during start-up (how
  // many depends on the disk's fsync speed, so only a floor).
  if (!HasFailure()) {
    EXPECT_GE(killsInLoop, 1);
  }

  if (!HasFailure()) {
    fs::remove_all(root);
  } else {
    std::printf("crash test: state kept in %s\n", root.c_str());
  }
}

}  // namespace
