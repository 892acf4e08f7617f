#include "memo/memo_store.h"

#include <algorithm>

#include "base/datetime.h"
#include "base/program.h"

namespace {

constexpr const char* kDayField = "日期";
constexpr const char* kTextField = "事情";

rt::StoreId g_store = 0;

}  // namespace

double ClampDate(double value) { return std::min(std::max(value, kMinDate), kMaxDate); }

namespace {

std::string g_openError;

// Creates the store when the file is missing, then opens it; on failure the
// reason names the real cause (a failed creation, not "no such file").
bool OpenStore(std::string* error) {
  g_store = 0;
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
  if (g_store == 0 && existed) {
    // Creation refuses any file with content, so this only fills a file that
    // holds nothing (an earlier run cut off while making it).
    std::string ignored;
    if (Rt().StoreCreate(base, fields, &ignored)) g_store = Rt().StoreOpen(base, error);
  }
  return g_store != 0;
}

}  // namespace

void OpenMemoStore() {
  const bool existed = Rt().FileExists(DataFile(kMemoStoreFileName));
  if (OpenStore(&g_openError)) return;
  const std::string file = DataFile(kMemoStoreFileName);
  Rt().MessageBox(
      std::string(existed ? "无法打开备忘录数据库文件：\r\n" : "无法创建备忘录数据库文件：\r\n") +
          file + "\r\n原因：" + g_openError +
          (existed ? "\r\n\r\n该文件未作任何改动。" : "\r\n\r\n") +
          "本次运行中备忘录无法保存；编辑过的文字可以存入恢复文件。",
      rt::MB_OK | rt::MB_ICONERROR, std::string("Tamsivo"));
}

void OnStoreChecked(image::EventArgs&) {
  if (g_store == 0) return;
  std::string reason;
  if (Rt().StoreCheckState(g_store, &reason) != rt::StoreCheck::kFailed) return;
  // Found damaged after it opened: from now on it is treated as one that did
  // not open, and nothing is ever written to it.
  g_store = 0;
  g_openError = reason;
  Rt().MessageBox("备忘录数据库文件已损坏：\r\n" + DataFile(kMemoStoreFileName) + "\r\n原因：" +
                      reason +
                      "\r\n\r\n该文件未作任何改动。本次运行中备忘录无法保存；"
                      "编辑过的文字可以存入恢复文件。",
                  rt::MB_OK | rt::MB_ICONERROR, std::string("Tamsivo"));
}

bool ReopenMemoStore() {
  if (g_store != 0) return true;
  return OpenStore(&g_openError);
}

bool MemoStoreOpen() { return g_store != 0; }

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
  return ok;
}

std::vector<rt::DayText> MemoStarts(double from, double to, int startBytes) {
  if (g_store == 0) return {};
  return Rt().StoreDayTexts(g_store, kDayField, kTextField, from, to, startBytes);
}

std::vector<double> DaysWithMemo(double from, double to) {
  std::vector<double> days;
  for (const rt::DayText& d : MemoStarts(from, to, 0)) days.push_back(d.day);
  return days;
}
