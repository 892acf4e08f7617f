#include "memo/memo_store.h"

#include <algorithm>

#include "app/datetime.h"
#include "app/program.h"

namespace {

constexpr const char* kDayField = "日期";
constexpr const char* kTextField = "事情";

rt::StoreId g_store = 0;

}  // namespace

double ClampDate(double value) { return std::min(std::max(value, kMinDate), kMaxDate); }

void OpenMemoStore() {
  const std::string file = ProgramFile(kMemoStoreFileName);
  const std::string base = ProgramFile(kMemoStoreBaseName);
  const std::vector<rt::FieldDesc> fields = {{kDayField, rt::kDateTimeField, 20},
                                             {kTextField, rt::kLongTextField, 20}};
  std::string error;
  if (!Rt().FileExists(file)) Rt().StoreCreate(base, fields, &error);
  g_store = Rt().StoreOpen(base, &error);
  if (g_store == 0) {
    // Creation refuses any file with content, so this only fills a file that
    // holds nothing (an earlier run cut off while making it).
    std::string ignored;
    if (Rt().StoreCreate(base, fields, &ignored)) g_store = Rt().StoreOpen(base, &error);
  }
  if (g_store == 0) {
    Rt().MessageBox("无法打开备忘录数据库文件：\n" + file + "\n原因：" + error +
                        "\n\n该文件未作任何改动。本次运行中备忘录无法保存。",
                    rt::MB_OK | rt::MB_ICONERROR, std::string("Tamsivo"));
  }
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
    if (error) *error = "备忘录数据库没有打开，无法保存";
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

std::vector<double> DaysWithMemo(double from, double to) {
  if (g_store == 0) return {};
  return Rt().StoreDaysWithText(g_store, kDayField, kTextField, from, to);
}
