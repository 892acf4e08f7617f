// The today-memo window's text.
#include "memo/today_memo.h"

#include "base/program.h"
#include "memo/memo_store.h"

namespace {
constexpr const char* kBox = ctl::kMemoBox;
}

void RefreshTodayMemo() {
  const bool found = FindDayMemo(TodayDate);
  Rt().SetEditReadOnly(kTodayMemoWindow, kBox, false);
  Rt().SetEditText(kTodayMemoWindow, kBox, found ? ReadMemoText() : std::string());
  const int length = Rt().EditTextLength(kTodayMemoWindow, kBox);
  if (Rt().GetEditText(kTodayMemoWindow, kBox, length).empty())
    Rt().SetEditText(kTodayMemoWindow, kBox, NoMemoText);
  Rt().SetEditReadOnly(kTodayMemoWindow, kBox, true);
}

void OnTodayMemoWindowCreated(image::EventArgs&) {
  Rt().EditSetupA(kTodayMemoWindow, kBox, 0, 25);
  Rt().SetCaption(kTodayMemoWindow, "今天备忘录");
  RefreshTodayMemo();
  Rt().EditSetupB(kTodayMemoWindow, kBox, 32, 12);
}
