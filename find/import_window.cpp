#include "find/import_window.h"

#include <memory>

#include "base/program.h"
#include "intake/merge.h"
#include "memo/memo_store.h"
#include "memo/memos_changed.h"
#include "memo/store_upkeep.h"

namespace {

using ctl::kImportCancelButton;
using ctl::kImportFileButton;
using ctl::kImportFolderButton;
using ctl::kImportGoButton;
using ctl::kImportPlanBox;
using ctl::kImportStatus;
using ctl::kImportTimer;

constexpr int kProgressMs = 200;
constexpr std::size_t kProblemsShown = 30;
constexpr const char* kFormats =
    "可以导入：\n"
    "· 本程序导出的 .md、.txt、.csv、.ics 文件\n"
    "· 一天一个文件的 Markdown 日记文件夹（文件名如 2026-12-07.md、20261207.md、"
    "2026年12月7日.md，可按年、月分子文件夹）\n"
    "· Day One 导出的 .zip 或 .json\n"
    "· jrnl 的纯文本或 JSON 导出\n"
    "· RedNotebook 的月份文件（2026-12.txt）\n"
    "· iCalendar（.ics）里的日记和全天日程\n\n"
    "已有备忘录的日子，导入的文字接在原文后面的分隔线下，不会覆盖；已有的相同文字不会重复导入。"
    "写入前先计算并列出结果，确认后先备份再写入。";

enum class Stage { kChoosing, kReading, kPlanned, kWriting, kDone };

Stage g_stage = Stage::kChoosing;
std::shared_ptr<intake::Plan> g_plan;
std::shared_ptr<intake::Progress> g_progress;

std::string StoreFile() { return DataFile(kMemoStoreFileName); }

void ShowStatus(const std::string& text) { Rt().SetCaption(kImportWindow, text, kImportStatus); }

void ShowPlanText(const std::string& text) {
  Rt().SetEditReadOnly(kImportWindow, kImportPlanBox, false);
  Rt().SetEditText(kImportWindow, kImportPlanBox, text);
  Rt().SetEditReadOnly(kImportWindow, kImportPlanBox, true);
}

// Which buttons take a click at each stage.
void Enable() {
  const bool choosing = g_stage != Stage::kReading && g_stage != Stage::kWriting;
  Rt().SetEnabled(kImportWindow, kImportFileButton, choosing);
  Rt().SetEnabled(kImportWindow, kImportFolderButton, choosing);
  Rt().SetEnabled(kImportWindow, kImportGoButton,
                  g_stage == Stage::kPlanned && g_plan && !g_plan->days.empty());
  Rt().SetCaption(kImportWindow, g_stage == Stage::kDone ? "关闭" : "取消", kImportCancelButton);
}

void OnPlanned(std::shared_ptr<intake::Plan> plan, const std::string& error) {
  if (!Rt().IsLoaded(kImportWindow)) return;
  if (!error.empty()) {
    g_stage = Stage::kChoosing;
    ShowPlanText(kFormats);
    ShowStatus("无法导入：" + error);
    Enable();
    return;
  }
  g_plan = std::move(plan);
  g_stage = Stage::kPlanned;
  ShowPlanText(intake::PlanDetails(*g_plan, kProblemsShown));
  ShowStatus(g_plan->days.empty() ? "没有要导入的内容。"
                                  : "按“导入”写入；写入前会先备份备忘录数据库。");
  Enable();
}

void Plan(const std::string& path) {
  if (path.empty()) return;
  if (ImportRunning()) return;
  g_stage = Stage::kReading;
  g_plan.reset();
  ShowPlanText("");
  ShowStatus("正在读取“" + path + "”……");
  Enable();
  StartImportPlan(StoreFile(), path, OnPlanned);
}

void OnWritten(const intake::Written& written, const std::string& error) {
  Rt().SetTimerInterval(kImportWindow, kImportTimer, 0);
  const int days = written.newDays + written.addedDays;
  // Whatever was written, the windows show it.
  if (days > 0) {
    MemosChanged();
    MemoSaved();
  }
  g_progress.reset();
  g_stage = Stage::kDone;
  if (!Rt().IsLoaded(kImportWindow)) return;
  std::string line;
  if (!error.empty()) {
    line = "导入没有完成：" + error + "（已写入 " + std::to_string(days) + " 天）";
  } else if (written.stopped) {
    line = "已停止：写入了 " + std::to_string(days) + " 天，其余没有写入。";
  } else {
    line = "已导入：新增 " + std::to_string(written.newDays) + " 天，追加到已有备忘录 " +
           std::to_string(written.addedDays) + " 天。";
  }
  ShowStatus(line);
  Enable();
}

}  // namespace

void OnImportMenu(image::EventArgs&) {
  if (Rt().IsLoaded(kImportWindow)) {
    Rt().BringToFront(kImportWindow);
    return;
  }
  Rt().LoadWindow(kImportWindow, kMainWindow, false);
}

void OnImportWindowCreated(image::EventArgs&) {
  // A writing the window's closing stopped may still be finishing.
  g_stage = ImportRunning() ? Stage::kWriting : Stage::kChoosing;
  g_plan.reset();
  ShowPlanText(kFormats);
  ShowStatus(g_stage == Stage::kWriting ? "上一次导入正在结束，请稍候。" : "");
  Enable();
}

void OnImportWindowClose(image::EventArgs& args) {
  if (g_stage == Stage::kWriting) {
    // Whole days only: the writing stops after its transaction, then the
    // window can go.
    if (g_progress) g_progress->stop = true;
    ShowStatus("正在停止，已写入的整天会保留……");
    args.cancel = true;
    return;
  }
  g_plan.reset();
}

void OnImportFileButton(image::EventArgs&) {
  Plan(Rt().AskOpenPath(kImportWindow, "选择要导入的文件",
                        "日记和备忘录 (*.md *.markdown *.txt *.csv *.ics *.json *.zip);;"
                        "所有文件 (*)",
                        false));
}

void OnImportFolderButton(image::EventArgs&) {
  Plan(Rt().AskOpenPath(kImportWindow, "选择要导入的文件夹", "", true));
}

void OnImportGoButton(image::EventArgs&) {
  if (g_stage != Stage::kPlanned || !g_plan || g_plan->days.empty() || ImportRunning()) return;
  if (!MemoStoreChecked()) {
    Rt().MessageBox(MemoStoreOpen() ? "备忘录数据库还在检查中，请稍候再导入。"
                                    : "备忘录数据库没有打开，无法导入。",
                    rt::MB_OK | rt::MB_ICONWARNING, std::string("Tamsivo"));
    return;
  }
  g_stage = Stage::kWriting;
  g_progress = std::make_shared<intake::Progress>();
  ShowStatus("正在备份备忘录数据库……");
  Enable();
  Rt().SetTimerInterval(kImportWindow, kImportTimer, kProgressMs);
  StartImportWrite(StoreFile(), g_plan, g_progress, OnWritten);
}

void OnImportCancelButton(image::EventArgs&) {
  if (g_stage == Stage::kWriting) {
    if (g_progress) g_progress->stop = true;
    ShowStatus("正在停止，已写入的整天会保留……");
    return;
  }
  Rt().CloseWindow(kImportWindow);
}

void OnImportTimer(image::EventArgs&) {
  if (g_stage != Stage::kWriting || !g_progress || !g_plan) return;
  if (g_progress->stop) return;
  const std::size_t done = g_progress->daysDone;
  if (done == 0) return;
  ShowStatus("正在写入：" + std::to_string(done) + " / " + std::to_string(g_plan->days.size()) +
             " 天……");
}
