#include "memo/memo_editor.h"

#include <cstdio>
#include <optional>

#include "base/datetime.h"
#include "base/program.h"
#include "memo/calendar.h"
#include "memo/drafts.h"
#include "memo/memo_store.h"
#include "memo/today_memo.h"
#include "util/text.h"

namespace {

constexpr const char* kBox = ctl::kMemoBox;
using ctl::kCalendar;
using ctl::kDraftTimer;
// A draft is written this long after the last change.
constexpr int kDraftDelayMs = 1000;
constexpr const char* kTitle = "Tamsivo";

// The editing session of the one (modal) editor.
struct Session {
  double day = 0;
  std::string stored;                  // the day's memo when the editor opened
  std::optional<std::string> restore;  // a leftover text put back instead
  std::string draftPath;               // this session's draft file
  bool draftWritten = false;
  bool draftFailureLogged = false;
};

Session g_session;

bool SameDay(double a, double b) { return ClampDate(a) == ClampDate(b); }

std::string EditorText() {
  return Rt().GetEditText(kMemoEditWindow, kBox, Rt().EditTextLength(kMemoEditWindow, kBox));
}

void RemoveDraft() {
  if (g_session.draftWritten) RemoveLeftover(g_session.draftPath);
  g_session.draftWritten = false;
}

// The text is safe (stored or in a recovery file): its drafts go.
void FinishSession() {
  RemoveDraft();
  g_session = Session{};
}

void WriteCurrentDraft(const std::string& text) {
  if (text == g_session.stored) {
    RemoveDraft();
    return;
  }
  std::string error;
  if (WriteDraft(g_session.draftPath, text, &error)) {
    g_session.draftWritten = true;
  } else if (!g_session.draftFailureLogged) {
    // The save at close says what is wrong; typing is not interrupted.
    g_session.draftFailureLogged = true;
    std::fprintf(stderr, "tamsivo: 无法写入草稿：%s\n", error.c_str());
  }
}

std::string SaveFailedText(const std::string& reason) {
  return "备忘录没有保存：无法写入“" + DataFile(kMemoStoreFileName) + "”。\r\n原因：" + reason +
         "\r\n\r\n选“重试”再保存一次；选“取消”则把文字存入一个恢复文件，然后关闭编辑窗口。";
}

std::string OfferText(const LeftoverText& l) {
  const std::string excerpt = text::Utf8Prefix(l.text, 200);
  return std::string("上次有一篇") + (l.recovery ? "没能保存" : "没有保存") + "的备忘录（" +
         DateTimeToText(l.day) + "）：\r\n\r\n" + excerpt +
         "\r\n\r\n是：打开这一天的编辑窗口，放回这些文字\r\n否：丢弃这些文字\r\n"
         "取消：先留着，下次启动时再问\r\n\r\n文件：" +
         l.path;
}

}  // namespace

void EditDay(double day, const LeftoverText* leftover) {
  SelectedDate = day;
  g_session = Session{};
  g_session.day = day;
  if (leftover) {
    g_session.restore = leftover->text;
    // The leftover's file becomes this session's draft, replaced in place:
    // a kill at any moment leaves the text in that one file, never in two.
    g_session.draftPath = leftover->path;
    g_session.draftWritten = true;
  } else {
    g_session.draftPath = NewDraftPath(day, Rt().Now());
  }
  Rt().LoadWindow(kMemoEditWindow, kMainWindow, true);
  if (ReturnToToday == 1) Rt().SetCalendarValue(kMainWindow, kCalendar, TodayDate);
}

std::string KeepArrivedText(const std::string& typed, const std::string& opened,
                            const std::string& current) {
  // Unchanged, emptied elsewhere, or already in what was typed: the typed
  // text holds everything.
  if (current == opened || current.empty() || typed.find(current) != std::string::npos) {
    return typed;
  }
  // Emptied here, changed there: the text stays.
  if (typed.empty()) return current;
  // Added to at the end (an import appends below its own separator line):
  // only the addition follows the typed text.
  if (!opened.empty() && current.starts_with(opened)) {
    return typed + current.substr(opened.size());
  }
  std::string out = typed;
  if (!out.empty() && !out.ends_with('\n')) out += '\n';
  out += kArrivedSeparator;
  out += '\n';
  out += current;
  return out;
}

void OpenMemoEditor() {
  const std::optional<double> day = ReadCalendarDay();
  if (day) EditDay(*day, nullptr);
}

void OnMemoEditorCreated(image::EventArgs&) {
  g_session.stored = FindDayMemo(SelectedDate) ? ReadMemoText() : std::string();
  const std::string& shown = g_session.restore ? *g_session.restore : g_session.stored;
  if (!shown.empty()) Rt().SetEditText(kMemoEditWindow, kBox, shown);
  Rt().EditSetupA(kMemoEditWindow, kBox, 0, 25);
  Rt().EditSetupB(kMemoEditWindow, kBox, 32, 12);
  Rt().SetCaption(kMemoEditWindow, DateTimeToText(SelectedDate) + " 备忘录");
  const rt::Geometry main = Rt().GetGeometry(kMainWindow);
  Rt().Move(kMemoEditWindow, main.left, main.top);
  // A text put back is kept as this session's draft at once.
  if (g_session.restore && *g_session.restore != g_session.stored) {
    Rt().SetTimerInterval(kMemoEditWindow, kDraftTimer, kDraftDelayMs);
  }
}

void OnMemoEditorTextChanged(image::EventArgs&) {
  // Restarted by every change: the draft follows about a second after the
  // typing stops, not at every key.
  Rt().SetTimerInterval(kMemoEditWindow, kDraftTimer, kDraftDelayMs);
}

void OnDraftTimer(image::EventArgs&) {
  Rt().SetTimerInterval(kMemoEditWindow, kDraftTimer, 0);
  WriteCurrentDraft(EditorText());
}

void OnCloseEditorKey(image::EventArgs&) { Rt().CloseWindow(kMemoEditWindow); }

void OnMemoEditorClose(image::EventArgs& args) {
  // Ending the program while this handler waits on a question asks the
  // editor to close once more: the waiting handler still has the text and
  // finishes the job.
  static bool closing = false;
  if (closing) return;
  struct Guard {
    Guard() { closing = true; }
    ~Guard() { closing = false; }
  } guard;
  Rt().SetTimerInterval(kMemoEditWindow, kDraftTimer, 0);
  std::string text = EditorText();
  const double day = g_session.day;
  // Nothing changed: nothing to store, so the store is not needed at all.
  if (text == g_session.stored) {
    FinishSession();
    return;
  }
  // What an import or another tool stored while the editor was open stays
  // beside the typed text, never saved over.
  if (MemoStoreOpen()) {
    const std::string current = FindDayMemo(day) ? ReadMemoText() : std::string();
    text = KeepArrivedText(text, g_session.stored, current);
  }
  std::string error;
  for (;;) {
    if (SaveDayMemo(day, text, &error)) {
      FinishSession();
      if (SameDay(day, TodayDate)) RefreshTodayMemo();
      MarkMemoDays();
      return;
    }
    if (Rt().Ending()) break;
    const int answer =
        Rt().MessageBox(SaveFailedText(error), rt::MB_RETRYCANCEL | rt::MB_ICONERROR, kTitle);
    if (answer != rt::IDRETRY) break;
    // The store may have become usable meanwhile (space freed, rights given).
    if (!MemoStoreOpen()) ReopenMemoStore();
  }

  // Given up. An emptied memo that could not be stored keeps its old text in
  // the store: there is no typed word to keep.
  if (text.empty()) {
    FinishSession();
    return;
  }
  const std::string recoveryPath = WriteRecoveryFile(day, text, Rt().Now(), &error);
  if (!recoveryPath.empty()) {
    FinishSession();
    if (!Rt().Ending()) {
      Rt().MessageBox("这篇备忘录的文字已存入恢复文件：\r\n" + recoveryPath +
                          "\r\n\r\n下次启动 Tamsivo 时会提示把它放回" + DateTimeToText(day) +
                          "的备忘录。",
                      rt::MB_OK | rt::MB_ICONINFORMATION, kTitle);
    }
    return;
  }
  if (Rt().Ending()) {
    // Nowhere on disk would take it: leave the draft as it is and put the
    // text where the user can still find it.
    WriteCurrentDraft(text);
    std::fprintf(stderr, "tamsivo: %s 的备忘录无法保存，文字如下：\n%s\n",
                 DateTimeToText(day).c_str(), text.c_str());
    return;
  }
  Rt().MessageBox("文字也无法存入恢复文件（" + error +
                      "）。\r\n\r\n编辑窗口保持打开：请把文字复制出来另行保存，"
                      "或者清空文字后再关闭窗口。",
                  rt::MB_OK | rt::MB_ICONERROR, kTitle);
  args.cancel = true;
}

void OfferLeftoverTexts() {
  for (const LeftoverText& l : FindLeftoverTexts()) {
    if (Rt().Ending()) return;
    // Already safe in the store, or nothing in it: nothing to offer.
    const std::string stored = FindDayMemo(l.day) ? ReadMemoText() : std::string();
    if (l.text.empty() || (MemoStoreOpen() && l.text == stored)) {
      RemoveLeftover(l.path);
      continue;
    }
    const int answer =
        Rt().MessageBox(OfferText(l), rt::MB_YESNOCANCEL | rt::MB_ICONQUESTION, kTitle);
    if (answer == rt::IDYES) {
      Rt().SetCalendarValue(kMainWindow, kCalendar, l.day);
      EditDay(l.day, &l);
    } else if (answer == rt::IDNO) {
      RemoveLeftover(l.path);
    }
  }
}
