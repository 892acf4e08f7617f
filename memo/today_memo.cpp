// The today-memo window's text.
#include "memo/today_memo.h"

#include "base/program.h"
#include "memo/anniversaries.h"
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
  // The day's recurring days come first, one line each.
  std::string head;
  for (const AnniversaryOnDay& a : AnniversariesBetween(Anniversaries(), TodayDate, TodayDate))
    head += "今天：" + a.text + "\n";
  if (!head.empty()) head += "\n";
  std::string text = found ? ReadMemoText() : notice;
  if (text.empty()) text = NoMemoText;
  Rt().SetEditText(kTodayMemoWindow, kBox, head + text);
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
