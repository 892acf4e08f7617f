// Program entry, MainWindow's creation steps and the end-of-program clean-up.
#include "app/startup.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "archive/backup.h"
#include "base/program.h"
#include "find/find_window.h"
#include "find/sync_service.h"
#include "find/sync_window.h"
#include "mainwindow/main_window.h"
#include "memo/calendar.h"
#include "memo/drafts.h"
#include "memo/memo_editor.h"
#include "memo/memo_store.h"
#include "memo/memos_changed.h"
#include "memo/store_upkeep.h"
#include "memo/today_memo.h"
#include "net/holiday_fetch.h"
#include "settings/settings.h"
#include "system/registration.h"
#include "today/placement.h"
#include "util/file_io.h"
#include "windowstate/window_state.h"

namespace {

void RemoveIfOurs(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
    ::unlink(path.c_str());
  }
}

// Temporary files of writes a kill cut short. Only the one running copy of
// a directory gets here, so none of them is being written.
void RemoveLeftoverTemporaries() {
  const std::string storeName = kMemoStoreFileName;
  const std::string settingsName = kSettingsFileName;
  const std::string defaults = Rt().TextToGbkBytes(DefaultSettingsText);
  for (const std::string& dir : {SettingsDirectory(), DataDirectory()}) {
    for (const std::string& name : fileio::ListDirectory(dir)) {
      const std::string path = JoinPath(dir, name);
      bool ours = fileio::IsLeftoverTemporary(name, settingsName) ||
                  fileio::IsLeftoverTemporary(name, storeName) ||
                  name.starts_with("." + storeName + ".new-");
      // Earlier builds wrote the first Start.ini as "Start.ini.XXXXXX"; such
      // a name may be the user's own, so only a cut-off default file goes.
      std::string bytes;
      if (!ours && name.size() == settingsName.size() + 7 && name.starts_with(settingsName + ".") &&
          fileio::ReadWholeFile(path, &bytes, nullptr, 4096)) {
        ours = defaults.starts_with(bytes);
      }
      if (ours) RemoveIfOurs(path);
    }
  }
  // Folders of the store's own files: every temporary of theirs is ours.
  std::vector<std::pair<std::string, std::string>> folders = {
      {archive::BackupDirectory(DataFile(kMemoStoreFileName)), ".edb"}};
  for (const std::string& dir : LeftoverTextDirectories()) folders.emplace_back(dir, ".txt");
  for (const auto& [dir, extension] : folders) {
    for (const std::string& name : fileio::ListDirectory(dir)) {
      if (fileio::LeftoverTarget(name).ends_with(extension)) RemoveIfOurs(JoinPath(dir, name));
    }
  }
}

}  // namespace

void ProgramStart() {
  CollectionList.clear();
  PositionButtons.clear();
  RecordModeButtons.clear();
  Rt().SetEndOfProgramRoutine(EndOfProgramCleanup);

  std::string error;
  if (!DecideFileLocations(Rt().ProgramDirectory(), &error)) {
    Rt().MessageBox("Tamsivo 无法启动：" + error + "。", rt::MB_OK | rt::MB_ICONERROR,
                    std::string("Tamsivo"));
    Rt().EndProgram(1);
    return;
  }
  // Before the store is touched: a second copy on the same files would save
  // over the first one's memos.
  switch (Rt().ClaimSingleInstance(DataDirectory())) {
    case rt::InstanceClaim::kClaimed:
      break;
    case rt::InstanceClaim::kHandedOver:
      std::fprintf(stderr, "Tamsivo 已在运行（%s），已把它的窗口调到前面。\n",
                   DataDirectory().c_str());
      Rt().EndProgram(0);
      return;
    case rt::InstanceClaim::kNoAnswer:
      Rt().MessageBox("另一个 Tamsivo 正在使用“" + DataDirectory() +
                          "”中的备忘录，但它没有响应。\r\n\r\n为了不让两个程序互相覆盖备忘录，"
                          "这一个不会启动。请关闭另一个 Tamsivo 后再试。",
                      rt::MB_OK | rt::MB_ICONWARNING, std::string("Tamsivo"));
      Rt().EndProgram(1);
      return;
  }
  RemoveLeftoverTemporaries();
  Rt().LoadWindow(kMainWindow, {}, false);
}

int ProgramEntry(rt::Runtime& runtime) {
  SetRuntime(&runtime);
  ProgramStart();
  return Rt().MessageLoop();
}

void MainWindowCreated() {
  // First-run initialisation: the store and the settings file are created
  // independently of each other. A settings file that cannot be written
  // reads as empty items; the program goes on with their defaults.
  SetMemosChangedHandler([] {
    RefreshTodayMemo();
    MarkMemoDays();
    RefreshSearchResults();
  });
  SetMemoSavedHandler(NoteMemoSaved);
  SetSyncStatusHandler(SetTrayStatus);
  OpenMemoStore();
  (void)EnsureSettingsFile();

  ApplyCalendarLayout();
  Rt().LoadWindow(kTodayMemoWindow, kMainWindow, false);
  RefreshToday();
  RegisterCalendarControl(kCalendarControlFile);

  const bool embedded = ReadFlagSetting(item::kEmbedded);
  Rt().SetMenuChecked(kMainWindow, menu::kEmbed, embedded);

  Rt().Move(kTodayMemoWindow, ReadIntSetting(item::kMainLeft), ReadIntSetting(item::kMainTop));

  RecordMode = ReadIntSetting(item::kRecordMode);
  ReturnToToday = ReadFlagSetting(item::kReturnToToday) ? 1 : 0;
  Rt().SetMenuChecked(kMainWindow, menu::kStartAtBoot, ReadFlagSetting(item::kStartAtBoot));
  ApplyVisibility();
  // Last, so both windows exist and have their place and visibility.
  if (embedded) ApplyDesktopEmbedding();
}

void OnMainWindowCreated(image::EventArgs&) { MainWindowCreated(); }

void OnFirstActivation(image::EventArgs& args) {
  OnMainWindowFirstActivation(args);
  // A move to where the window already stands reports no change of place,
  // so the today window is placed here in any case.
  PlaceTodayWindow();
  OfferLeftoverTexts();
  // Only now may other questions come, and the network be used.
  HolidayOfferWindowsShown();
  SyncWindowsShown();
}

void EndOfProgramCleanup() {
  // A backup under way ends whole and an index build at its next short
  // transaction; the files stay sound either way, but no thread may outlive
  // the program's data.
  StopSyncTest();
  EndSync();
  EndSyncWindow();
  EndStoreUpkeep();
  CollectionList.clear();
  CollectionList.shrink_to_fit();
  PositionButtons.clear();
  RecordModeButtons.clear();
}
