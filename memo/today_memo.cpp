// The today-memo window's text.
#include "memo/today_memo.h"

#include "base/program.h"
#include "memo/memo_store.h"
#include "memo/past_years.h"

namespace {
constexpr const char* kBox = ctl::kMemoBox;
}

void RefreshTodayMemo() {
  // A store that did not open is said, not shown as an empty day. The box is
  // read-only and never saved, so the notice cannot become a memo.
  const std::string notice = MemoStoreClosedNotice();
  const bool found = notice.empty() && FindDayMemo(TodayDate);
  Rt().SetEditReadOnly(kTodayMemoWindow, kBox, false);
  Rt().SetEditText(kTodayMemoWindow, kBox, found ? ReadMemoText() : notice);
  // Read back as its length alone: an empty box is a length of 0, and a big
  // memo is not copied once more to find that out.
  if (Rt().EditTextLength(kTodayMemoWindow, kBox) == 0)
    Rt().SetEditText(kTodayMemoWindow, kBox, NoMemoText);
  Rt().SetEditReadOnly(kTodayMemoWindow, kBox, true);
  RefreshPastYears();
}

void OnTodayMemoWindowCreated(image::EventArgs&) {
  Rt().EditSetupA(kTodayMemoWindow, kBox, 0, 25);
  Rt().SetCaption(kTodayMemoWindow, "今天备忘录");
  ForgetPastYearsSize();
  RefreshTodayMemo();
  Rt().EditSetupB(kTodayMemoWindow, kBox, 32, 12);
}
