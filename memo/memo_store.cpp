#include "memo/memo_store.h"

#include <algorithm>
#include <string_view>

#include "archive/backup.h"
#include "archive/restore.h"
#include "base/datetime.h"
#include "base/program.h"
#include "memo/anniversaries.h"
#include "memo/drafts.h"
#include "memo/memos_changed.h"
#include "memo/reminders.h"
#include "memo/store_upkeep.h"
#include "util/file_io.h"
#include "util/store_schema.h"

namespace {

constexpr const char* kDayField = "日期";
constexpr const char* kTextField = "事情";

rt::StoreId g_store = 0;

}  // namespace

double ClampDate(double value) { return std::min(std::max(value, kMinDate), kMaxDate); }

namespace {

std::string g_openError;

// Backups, drafts or recovery files beside the store: it held memos once,
// so an empty file in its place is damage, not a first start cut short.
bool StoreWasInUse(const std::string& file) {
  if (!archive::ListBackups(file).empty()) return true;
  for (const char* folder : {kDraftFolder, kRecoveryFolder}) {
    if (!fileio::ListDirectory(DataFile(folder)).empty()) return true;
  }
  return false;
}

// Creates the store when the file is missing, then opens it; on failure the
// reason names the real cause (a failed creation, not "no such file").
bool OpenStore(std::string* error) {
  g_store = 0;
  // The recurring days are read again once this opening has passed its check.
  ForgetAnniversaries();
  const std::string file = DataFile(kMemoStoreFileName);
  const std::string base = DataFile(kMemoStoreBaseName);
  if (file.empty()) {
    *error = "没有确定存放备忘录的目录";
    return false;
  }
  const std::vector<rt::FieldDesc> fields = {{kDayField, rt::kDateTimeField, 20},
                                             {kTextField, rt::kLongTextField, 20}};
  std::string createError;
  const bool existed = Rt().FileExists(file);
  if (!existed && !Rt().StoreCreate(base, fields, &createError)) {
    *error = createError;
    return false;
  }
  g_store = Rt().StoreOpen(base, error);
  if (g_store == 0 && existed && !StoreWasInUse(file)) {
    // Creation refuses any file with content, so this only fills a file that
    // holds nothing (an earlier run cut off while making it).
    std::string ignored;
    if (Rt().StoreCreate(base, fields, &ignored)) g_store = Rt().StoreOpen(base, error);
  }
  return g_store != 0;
}

}  // namespace

namespace {

constexpr const char* kCannotSave = "本次运行中备忘录无法保存；编辑过的文字可以存入恢复文件。";

// A store that exists but cannot be used: offers the newest good backup in
// its place (the damaged file is kept under a new name). true when the
// store is open again.
bool OfferRestore(const std::string& headline, const std::string& reason) {
  const std::string file = DataFile(kMemoStoreFileName);
  const std::vector<archive::BackupFile> backups = archive::ListBackups(file);
  const std::string problem = headline + "\r\n" + file + "\r\n原因：" + reason;
  if (backups.empty()) {
    Rt().MessageBox(problem + "\r\n\r\n该文件未作任何改动，也没有可用的备份。" + kCannotSave,
                    rt::MB_OK | rt::MB_ICONERROR, std::string("Tamsivo"));
    return false;
  }
  const int answer = Rt().MessageBox(
      problem + "\r\n\r\n“备份”文件夹里有 " + std::to_string(backups.size()) +
          " 份自动备份，最新的是 " + DateTimeToText(DatePart(backups.front().day)) +
          " 的。\r\n要用其中通过检查的最新一份恢复吗？损坏的文件会改名留在原处，不会删除。"
          "\r\n\r\n选“否”则不作任何改动，" +
          kCannotSave,
      rt::MB_YESNO | rt::MB_ICONWARNING, std::string("Tamsivo"));
  if (answer != rt::IDYES) return false;
  const archive::Restored restored = archive::RestoreFromBackup(file, Rt().Now());
  if (!restored.ok) {
    Rt().MessageBox("没有恢复：" + restored.message + "\r\n\r\n" + kCannotSave,
                    rt::MB_OK | rt::MB_ICONERROR, std::string("Tamsivo"));
    return false;
  }
  const bool reopened = OpenStore(&g_openError);
  Rt().MessageBox(reopened ? restored.message + "\r\n\r\n这份备份之后写下的备忘录不在其中。"
                           : restored.message + "\r\n\r\n但恢复后的文件仍无法打开：" + g_openError +
                                 "\r\n" + kCannotSave,
                  rt::MB_OK | (reopened ? rt::MB_ICONINFORMATION : rt::MB_ICONERROR),
                  std::string("Tamsivo"));
  return reopened;
}

}  // namespace

namespace {

// Another program has it open in a transaction (a database browser, a sync
// tool): the file is fine and only waiting helps. Asked before anything
// else, so a locked store is never taken for a damaged one.
bool InUse(const std::string& file, const std::string& reason) {
  return reason.find(storeschema::kBusyReason) != std::string::npos ||
         storeschema::LockedByAnotherProcess(file);
}

// Retry or cancel while the store is in use; true once it opened.
bool WaitWhileInUse(const std::string& file) {
  while (InUse(file, g_openError)) {
    const int answer = Rt().MessageBox(
        "备忘录数据库文件正被另一个程序使用：\r\n" + file +
            "\r\n\r\n可能是数据库浏览器或同步程序正打开着它。文件没有损坏，也没有作任何改动。"
            "\r\n请关闭那个程序后选“重试”。\r\n\r\n选“取消”则不作任何改动，" +
            kCannotSave,
        rt::MB_RETRYCANCEL | rt::MB_ICONWARNING, std::string("Tamsivo"));
    if (answer != rt::IDRETRY) return false;
    if (OpenStore(&g_openError)) return true;
  }
  return false;
}

}  // namespace

void OpenMemoStore() {
  const std::string file = DataFile(kMemoStoreFileName);
  const bool existed = Rt().FileExists(file);
  if (OpenStore(&g_openError)) return;
  if (existed) {
    if (InUse(file, g_openError)) {
      (void)WaitWhileInUse(file);
      return;
    }
    if (g_openError.starts_with(storeschema::kForeignObjects)) {
      // Not damage: a backup would only lose the newer memos. What is there
      // would run on every save, so the file stays closed.
      Rt().MessageBox("备忘录数据库文件里有本程序没有建立的内容，为安全起见没有打开：\r\n" + file +
                          "\r\n原因：" + g_openError +
                          "\r\n\r\n这类内容（例如触发器）会在保存备忘录时自动运行，可能删除或"
                          "改写备忘录。文件未作任何改动。请用数据库工具删除它们，或用"
                          "“tamsivo --restore 备份文件”换回一份备份。\r\n\r\n" +
                          kCannotSave,
                      rt::MB_OK | rt::MB_ICONERROR, std::string("Tamsivo"));
      return;
    }
    (void)OfferRestore("无法打开备忘录数据库文件：", g_openError);
    return;
  }
  Rt().MessageBox("无法创建备忘录数据库文件：\r\n" + DataFile(kMemoStoreFileName) + "\r\n原因：" +
                      g_openError + "\r\n\r\n" + kCannotSave,
                  rt::MB_OK | rt::MB_ICONERROR, std::string("Tamsivo"));
}

void OnStoreChecked(image::EventArgs&) {
  if (g_store == 0) return;
  std::string reason;
  switch (Rt().StoreCheckState(g_store, &reason)) {
    case rt::StoreCheck::kPending:
      return;
    case rt::StoreCheck::kPassed:
      StartStoreUpkeep(DataFile(kMemoStoreFileName), DatePart(Rt().Now()));
      StartAnniversaries();
      return;
    case rt::StoreCheck::kFailed:
      break;
  }
  // Found damaged after it opened: from now on it is treated as one that did
  // not open, and nothing is ever written to it.
  Rt().StoreClose(g_store);
  g_store = 0;
  g_openError = reason;
  StopAnniversaries();
  (void)OfferRestore("备忘录数据库文件已损坏：", reason);
  // The windows show the damaged file's memos: show the restored ones, or
  // that there are none to show.
  MemosChanged();
}

bool ReopenMemoStore() {
  if (g_store != 0) return true;
  if (!OpenStore(&g_openError)) return false;
  // The windows said the store could not be read.
  MemosChanged();
  return true;
}

std::string MemoStoreClosedNotice() {
  if (g_store != 0) return {};
  std::string reason = g_openError;
  if (reason.ends_with("。")) reason.resize(reason.size() - std::string_view("。").size());
  return "备忘录数据库文件无法打开：" + reason + "。本次运行中备忘录无法保存。";
}

bool MemoStoreOpen() { return g_store != 0; }

bool MemoStoreChecked() {
  return g_store != 0 && Rt().StoreCheckState(g_store, nullptr) == rt::StoreCheck::kPassed;
}

bool FindDayMemo(double day) {
  if (g_store == 0 || !Rt().StoreFirst(g_store)) return false;
  return Rt().StoreFind(g_store, {kDayField, kMinDate, kMaxDate, ClampDate(day)});
}

std::string ReadMemoText() {
  if (g_store == 0) return {};
  rt::Value v = Rt().StoreRead(g_store, kTextField);
  if (const std::string* text = std::get_if<std::string>(&v)) return *text;
  return {};
}

bool SaveDayMemo(double day, const std::string& text, std::string* error) {
  std::string reason;
  if (g_store == 0) {
    if (error) *error = "备忘录数据库没有打开：" + g_openError;
    return false;
  }
  // The search index's build gives way before the save asks for the store.
  const SaveTurn turn;
  // Look-up and write in one transaction, so a second running copy cannot
  // slip in a record for the same day between them.
  bool ok = Rt().StoreBegin(g_store, &reason);
  if (ok) {
    if (FindDayMemo(day)) {
      ok = Rt().StoreWrite(g_store, kTextField, text, &reason);
    } else if (!text.empty()) {
      ok = Rt().StoreAppend(g_store, {day, text}, &reason);
    }
    if (ok) {
      ok = Rt().StoreCommit(g_store, &reason);
    } else {
      Rt().StoreRollback(g_store);
    }
  }
  if (!ok && error) *error = reason;
  if (ok) MemoSaved();
  return ok;
}

std::vector<rt::DayText> MemoStarts(double from, double to, int startBytes) {
  if (g_store == 0) return {};
  return Rt().StoreDayTexts(g_store, kDayField, kTextField, from, to, startBytes);
}

std::vector<rt::DayText> MemoStartsOn(const std::vector<double>& days, int startBytes) {
  if (g_store == 0) return {};
  return Rt().StoreDayTextsOn(g_store, kDayField, kTextField, days, startBytes);
}

std::vector<double> DaysWithMemo(double from, double to) {
  std::vector<double> days;
  for (const rt::DayText& d : MemoStarts(from, to, 0)) days.push_back(d.day);
  return days;
}
