#!/usr/bin/env python3
"""A mutation pass over the test suite: one realistic bug at a time is put
into the code, the tests that should notice are run, and the code is put
back. A mutant is killed when those tests fail; one that does not build is
left out of the count.

    python3 scripts/mutation_pass.py [--build DIR] [--only NAME ...] [--list]

It builds in its own directory (build-mutants by default) and always puts
every file back, whatever happens. Run by hand; it takes a while."""
import argparse
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# (name, file, what is there, what a careless change would make of it, the
#  ctest name pattern of the tests that should notice)
MUTANTS = [
    ("save without the look-up transaction", "memo/memo_store.cpp",
     "  bool ok = Rt().StoreBegin(g_store, &reason);",
     "  bool ok = true;", "memo_store"),
    ("time service given milliseconds", "runtime/clock.cpp",
     "static_cast<qlonglong>(unixSeconds) * 1000000LL", "static_cast<qlonglong>(unixSeconds) * 1000LL",
     "clock_fallback"),
    ("above: offset by the today window's height", "today/placement.cpp",
     "Rt().Move(kTodayMemoWindow, m.left, m.top - m.height);",
     "Rt().Move(kTodayMemoWindow, m.left, m.top - Rt().GetGeometry(kTodayMemoWindow).height);",
     "placement"),
    ("left: offset by the today window's width", "today/placement.cpp",
     "Rt().Move(kTodayMemoWindow, m.left - m.width, m.top);",
     "Rt().Move(kTodayMemoWindow, m.left - Rt().GetGeometry(kTodayMemoWindow).width, m.top);",
     "placement"),
    ("back to today before the editor opens", "memo/memo_editor.cpp",
     "  Rt().LoadWindow(kMemoEditWindow, kMainWindow, true);\n  if (ReturnToToday == 1)",
     "  if (ReturnToToday == 1) Rt().SetCalendarValue(kMainWindow, kCalendar, TodayDate);\n"
     "  Rt().LoadWindow(kMemoEditWindow, kMainWindow, true);\n  if (ReturnToToday == 1)",
     "calendar"),
    ("return-to-today read as an integer", "app/startup.cpp",
     "ReturnToToday = ReadFlagSetting(item::kReturnToToday) ? 1 : 0;",
     "ReturnToToday = ReadIntSetting(item::kReturnToToday) != 0 ? 1 : 0;", "startup"),
    ("files written in place", "util/staged_file.cpp",
     "  fd_.reset(::mkostemp(temp.data(), O_CLOEXEC));",
     "  fd_.reset(::open(target_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));\n"
     "  temp = target_;", "settings_test|system_test|util_test"),
    ("tag characters past U+E003F kept", "util/codepage.cpp",
     "(b(2) == 0x80 || b(2) == 0x81)", "b(2) == 0x80", "util_test|settings_test"),
    ("chunked trailers in the header block", "net/http.cpp",
     "  } else if (t->headerDone) {\n    return n;  // trailers after a chunked body\n  }",
     "  }", "net_test"),
    ("pinning without asking the window manager", "platform/desktop_host.cpp",
     "  SendToRoot(c, w, netState, action, static_cast<long>(pinned[0]), static_cast<long>(pinned[1]));",
     "  (void)action;", "pinning"),
    ("no draft while typing", "memo/memo_editor.cpp",
     "void OnMemoEditorTextChanged(image::EventArgs&) {\n  // Restarted",
     "void OnMemoEditorTextChanged(image::EventArgs&) {\n  return;\n  // Restarted",
     "memo_editor"),
    ("unchanged text saved anyway", "memo/memo_editor.cpp",
     "  if (text == g_session.stored) {\n    FinishSession();\n    return;\n  }\n  std::string error;",
     "  std::string error;", "memo_editor"),
    ("giving up closes without a recovery file", "memo/memo_editor.cpp",
     "  const std::string recoveryPath = WriteRecoveryFile(day, text, Rt().Now(), &error);",
     "  const std::string recoveryPath;", "memo_editor"),
    ("Escape answers no", "runtime/message_box.cpp",
     "for (const int id : {rt::IDCANCEL, rt::IDNO}) {", "for (const int id : {rt::IDNO, rt::IDCANCEL}) {",
     "runtime_contract"),
    ("write-ahead log again", "runtime/table_store.cpp",
     "PRAGMA journal_mode = DELETE;", "PRAGMA journal_mode = WAL;", "memo_store"),
    ("side files of a refused store kept", "runtime/table_file.cpp",
     "StoreFileCheck::~StoreFileCheck() {\n  if (keep_) return;",
     "StoreFileCheck::~StoreFileCheck() {\n  return;", "memo_store"),
    ("days marked by any record", "runtime/table_store.cpp",
     "GROUP BY d) WHERE length(t) > 0 ORDER BY d", "GROUP BY d, t) WHERE length(t) > 0 ORDER BY d",
     "memo_store"),
    ("a knock counts as answered", "util/instance_lock.cpp",
     "  return got == kAnswerBytes && std::memcmp(buf, kAnswerText, got) == 0;",
     "  return true;", "instance"),
    ("a second copy goes on", "app/startup.cpp",
     "    case rt::InstanceClaim::kNoAnswer:\n", "    case rt::InstanceClaim::kNoAnswer:\n      break;\n",
     "instance"),
    ("library segments not checked", "platform/module.cpp",
     "    ok = within(p.p_offset, p.p_filesz);", "    ok = true;", "loader"),
    ("a lone CR is no line break", "util/ini_file.cpp",
     'const size_t brk = bytes_.find_first_of("\\r\\n", pos_);',
     "const size_t brk = bytes_.find('\\n', pos_);", "settings"),
    ("new files ignore the umask", "util/staged_file.cpp",
     "    mode_ = 0666 & ~CurrentUmask();", "    mode_ = 0644;", "settings_test|util_test"),
    ("temporaries left behind", "app/startup.cpp",
     "  RemoveLeftoverTemporaries();\n  Rt().LoadWindow", "  Rt().LoadWindow", "startup"),
    ("date change after sleep missed", "memo/calendar.cpp",
     "  if (!SameDay(DatePart(Rt().Now()), TodayDate)) RefreshToday();", "", "calendar"),
    ("today window not placed at first activation", "app/startup.cpp",
     "  PlaceTodayWindow();\n  OfferLeftoverTexts();", "  OfferLeftoverTexts();", "placement"),
    ("calendar control from the system search", "system/registration.cpp",
     "  if (local.empty() || ::stat(local.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;\n"
     "  void* module = LoadModule(local);",
     "  void* module = LoadModule(file);", "system_test"),
    ("the page keeps loading after quit", "net/http.cpp",
     "    if (Rt().Ending()) {\n      t.cancelled = true;\n      break;\n    }", "", "net_test"),
    ("no overall deadline", "net/http.cpp",
     "  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, limits.totalTimeoutMs);", "", "net_test"),
    ("time page of any size", "net/time_correction.cpp",
     "constexpr size_t kMaxPageBytes = 64 * 1024;", "constexpr size_t kMaxPageBytes = size_t{1} << 30;",
     "net_test"),
    ("page times before 2000 accepted", "net/time_correction.cpp",
     "  const bool sane = result.seconds >= kMinSeconds && result.seconds <= kMaxSeconds;",
     "  const bool sane = result.seconds > 0 && result.seconds <= kMaxSeconds;", "net_test"),
    ("hidden for good without a tray", "windowstate/window_state.cpp",
     "    KeepMainWindowReachable();\n  }\n}", "  }\n}", "main_window"),
    ("killed save not rolled back", "runtime/table_file.cpp",
     "    if (attempt > 0 || code != SQLITE_READONLY_ROLLBACK || !RollBackHotJournal(file)) return false;",
     "    return false;", "memo_store"),
    ("clamp with the bounds swapped", "memo/memo_store.cpp",
     "double ClampDate(double value) { return std::min(std::max(value, kMinDate), kMaxDate); }",
     "double ClampDate(double value) { return std::max(std::min(value, kMinDate), kMaxDate); }",
     "memo_store|calendar"),
    ("midnight a second late", "memo/calendar.cpp",
     "((23 - p.hour) * 3600 + (59 - p.minute) * 60 + 60 - p.second) * 1000",
     "((23 - p.hour) * 3600 + (59 - p.minute) * 60 + 61 - p.second) * 1000", "calendar"),
    ("flags with a loose tolerance", "base/textnum.cpp",
     "1e-7", "1e-3", "settings"),
    ("custom place stored in every mode", "today/placement.cpp",
     "  if (PlacementMode() != 1) return;", "", "placement"),
    ("existing files lose their mode", "util/staged_file.cpp",
     "    mode_ = old.st_mode & 07777;", "    mode_ = 0644;", "settings_test|util_test"),
    ("cookies readable by everyone", "net/cookie_jar.cpp",
     "{fileio::NewFileMode::kOwnerOnly}", "{fileio::NewFileMode::kFromUmask}", "net_test"),
    ("routes of the image not applied", "runtime/runtime_core.cpp",
     "    if (window == r.window) ws.routes[r.from] = r.to;", "", "options|runtime_contract"),
    ("the same memo offered again and again", "memo/memo_editor.cpp",
     "    } else if (answer == rt::IDNO) {\n      RemoveLeftover(l.path);\n    }", "    }",
     "memo_editor"),
    ("a GBK trail byte folded like a letter", "util/ini_file.cpp",
     "      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;",
     "      if (text::AsciiLower(a[i + 1]) != text::AsciiLower(b[i + 1])) return false;",
     "settings"),
    ("a lone CR left unquoted in CSV", "archive/export_text.cpp",
     "quote = quote || c == ',' || c == '\"' || c == '\\r' || c == '\\n';",
     "quote = quote || c == ',' || c == '\"' || c == '\\n';", "archive_test"),
    ("sharp s folded as a capital", "archive/fold.cpp",
     "cp >= 0xC0 && cp <= 0xDE && cp != 0xD7", "cp >= 0xC0 && cp <= 0xDF && cp != 0xD7",
     "archive_test"),
    ("festivals in leap months too", "lunar/day_info.cpp",
     "  if (info.lunar && !info.lunar->leap) {", "  if (info.lunar) {", "lunar_test"),
    ("a festival missing in its first year", "lunar/day_info.cpp",
     "info.date.year >= f.since", "info.date.year > f.since", "lunar_test"),
    ("a 32-day holiday range accepted", "lunar/holidays.cpp",
     "if (to - from >= kLongestRange)", "if (to - from > kLongestRange)", "lunar_test"),
    ("backup failure told at every reopen", "memo/store_upkeep.cpp",
     "if (outcome.error.empty() || g_backupFailureReported) return;",
     "if (outcome.error.empty()) return;", "memo_store"),
    ("one base directory and no home goes on", "base/program.cpp",
     "if (config.empty() || data.empty()) {", "if (config.empty() && data.empty()) {", "startup"),
    ("search index built before the check", "find/find_window.cpp",
     "SearchIndexingRunning() || !MemoStoreOpen() || !MemoStoreChecked()) return;",
     "SearchIndexingRunning() || !MemoStoreOpen()) return;", "memo_store|find_window"),
    ("streamed files repeat earlier blocks", "util/staged_file.cpp",
     "  buffer_.clear();\n  return errno_ == 0;", "  return errno_ == 0;", "util_test|archive_test"),
    ("no fsync before the rename", "util/staged_file.cpp",
     "  if (errno_ == 0 && Sync(fd_.get()) != 0) errno_ = errno;\n", "", "util_test"),
    ("the final mode never set", "util/staged_file.cpp",
     "  if (Flush() && ::fchmod(fd_.get(), mode_) != 0) errno_ = errno;", "  (void)Flush();",
     "util_test|file_trust"),
    ("any user's knock raises the windows", "runtime/instance.cpp",
     "    bool ours = instance::PeerIsUs(fd);", "    bool ours = true;", "instance"),
    ("draft and recovery folders open to all", "memo/drafts.cpp",
     "  return fileio::MakeDirectories(dir, 0700, error);",
     "  return fileio::MakeDirectories(dir, 0755, error);", "file_trust|memo_editor"),
    ("the store made from the umask", "runtime/table_file.cpp",
     "  policy.newFileMode = fileio::NewFileMode::kOwnerOnly;\n", "", "file_trust"),
    ("another user's file written", "util/file_io.cpp",
     "  if (!Owned(lst)) {\n    SetError(error, \"“\" + path + \"”\" + OwnerText(lst) + \"，不会写入它\");",
     "  if (false) {\n    SetError(error, \"“\" + path + \"”\" + OwnerText(lst) + \"，不会写入它\");",
     "util_test"),
    ("a knock believes any answering user", "util/instance_lock.cpp",
     "      if (!fd.valid() || !PeerIsUs(fd.get())) continue;", "      if (!fd.valid()) continue;",
     "instance"),
    ("cut-off writes in the store's folders kept", "app/startup.cpp",
     "      if (fileio::LeftoverTarget(name).ends_with(extension)) RemoveIfOurs(JoinPath(dir, name));",
     "", "file_trust"),
]


def run(cmd, cwd, timeout):
    return subprocess.run(cmd, cwd=cwd, capture_output=True, text=True, timeout=timeout)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build-mutants"))
    parser.add_argument("--only", nargs="*")
    parser.add_argument("--list", action="store_true")
    args = parser.parse_args()
    mutants = [m for m in MUTANTS if not args.only or any(o in m[0] for o in args.only)]
    if args.list:
        for m in mutants:
            print("%-45s %s" % (m[0], m[1]))
        return 0
    for name, path, old, new, _ in mutants:
        text = open(os.path.join(ROOT, path), encoding="utf-8").read()
        if text.count(old) != 1:
            print("stale mutant (its code is not there once): %s in %s" % (name, path))
            return 2
    run(["cmake", "-S", ROOT, "-B", args.build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
         "-DTAMSIVO_BUILD_BENCH=OFF"], ROOT, 600)
    base = run(["cmake", "--build", args.build], ROOT, 3600)
    if base.returncode != 0:
        print(base.stdout[-3000:])
        return 2
    killed = survived = unbuilt = 0
    for name, path, old, new, tests in mutants:
        full = os.path.join(ROOT, path)
        original = open(full, encoding="utf-8").read()
        t0 = time.time()
        try:
            with open(full, "w", encoding="utf-8") as f:
                f.write(original.replace(old, new, 1))
            build = run(["cmake", "--build", args.build], ROOT, 3600)
            if build.returncode != 0:
                unbuilt += 1
                verdict = "does not build"
            else:
                env = dict(os.environ)
                result = subprocess.run(["ctest", "-R", tests, "--timeout", "300", "-j2"],
                                        cwd=args.build, capture_output=True, text=True, env=env,
                                        timeout=3600)
                if result.returncode != 0:
                    killed += 1
                    verdict = "killed"
                else:
                    survived += 1
                    verdict = "SURVIVED"
        finally:
            with open(full, "w", encoding="utf-8") as f:
                f.write(original)
        print("%-9s %-48s (%s, %.0f s)" % (verdict if verdict != "does not build" else "unbuilt",
                                           name, tests, time.time() - t0), flush=True)
    run(["cmake", "--build", args.build], ROOT, 3600)  # back to the code as it is
    counted = killed + survived
    print("\n%d mutants: %d killed, %d survived, %d did not build; kill rate %.0f %%"
          % (len(mutants), killed, survived, unbuilt, 100.0 * killed / max(counted, 1)))
    return 0 if survived == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
