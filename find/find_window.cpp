#include "find/find_window.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "archive/search.h"
#include "base/datetime.h"
#include "base/program.h"
#include "memo/memo_editor.h"
#include "memo/memo_store.h"
#include "memo/store_upkeep.h"
#include "util/file_io.h"
#include "util/text.h"

namespace {

using ctl::kResultList;
using ctl::kSearchBox;
using ctl::kSearchStatus;

constexpr const char* kHint = "输入要找的文字：不分大小写，繁体简体都能找到。";

std::unique_ptr<archive::MemoSearch> g_search;
std::vector<double> g_resultDays;
// The index has been brought up to date on the worker in this run; searches
// keep it so themselves from then on, in a few milliseconds.
bool g_indexReady = false;
std::string g_indexError;

std::string StoreFile() { return DataFile(kMemoStoreFileName); }

size_t CharacterCount(std::string_view utf8) {
  size_t n = 0;
  for (unsigned char c : utf8) n += (c & 0xC0) != 0x80;
  return n;
}

void ShowStatus(const std::string& text) { Rt().SetCaption(kSearchWindow, text, kSearchStatus); }

void ShowResults(const std::vector<rt::ListItem>& items) {
  Rt().SetListItems(kSearchWindow, kResultList, items);
}

void RunSearch();

void OnIndexReady(const std::string& error) {
  g_indexReady = error.empty();
  g_indexError = error;
  if (Rt().IsLoaded(kSearchWindow)) {
    if (g_indexReady) {
      RunSearch();
    } else if (!text::Trim(Rt().Caption(kSearchWindow, kSearchBox)).empty()) {
      ShowStatus("无法建立查找索引：" + error);
    }
  }
}

// The first search of a run brings the index up to date on a worker, so a
// large store's first build never freezes the windows.
void PrepareSearchIndex() {
  if (g_indexReady || SearchIndexingRunning() || !MemoStoreOpen() || !MemoStoreChecked()) return;
  StartSearchIndexing(StoreFile(), OnIndexReady);
}

void RunSearch() {
  const std::string query = Rt().Caption(kSearchWindow, kSearchBox);
  g_resultDays.clear();
  if (text::Trim(query).empty()) {
    ShowResults({});
    ShowStatus(kHint);
    return;
  }
  // The index is written only to a store that has passed its check.
  if (!MemoStoreOpen() || !MemoStoreChecked()) {
    ShowResults({});
    ShowStatus(MemoStoreOpen() ? "正在检查备忘录数据文件，请稍后再找。"
                               : "备忘录数据文件没有打开，无法查找。");
    return;
  }
  if (!g_indexReady) {
    ShowResults({});
    ShowStatus(g_indexError.empty() ? "正在建立查找索引（只在第一次查找时需要），请稍候……"
                                    : "无法建立查找索引：" + g_indexError);
    PrepareSearchIndex();
    return;
  }
  // A backup under way holds the store for a moment; the search's own short
  // write waits for it as any save does.
  std::string error;
  if (!g_search) g_search = archive::MemoSearch::Open(StoreFile(), &error);
  archive::SearchResult result;
  if (!g_search || !g_search->Search(query, &result, &error)) {
    ShowResults({});
    ShowStatus("无法查找：" + error);
    return;
  }
  std::vector<rt::ListItem> items;
  items.reserve(result.hits.size());
  for (const archive::SearchHit& hit : result.hits) {
    const std::string date = DateTimeToText(DatePart(hit.day));
    rt::ListItem& item = items.emplace_back();
    item.text = date + "　" + hit.excerpt;
    item.markStart = static_cast<int>(CharacterCount(date)) + 1 + hit.matchStart;
    item.markLength = hit.matchLength;
    g_resultDays.push_back(hit.day);
  }
  ShowResults(items);
  if (result.total == 0) {
    ShowStatus("没有找到“" + query + "”。");
  } else if (result.total > static_cast<int>(result.hits.size())) {
    ShowStatus("找到 " + std::to_string(result.total) + " 天，列出最近的 " +
               std::to_string(result.hits.size()) + " 天。按回车或双击打开。");
  } else {
    ShowStatus("找到 " + std::to_string(result.total) + " 天。按回车或双击打开。");
  }
}

}  // namespace

void OnFindMenu(image::EventArgs&) {
  if (Rt().IsLoaded(kSearchWindow)) {
    Rt().SetVisible(kSearchWindow, true);
    Rt().BringToFront(kSearchWindow);
  } else {
    Rt().LoadWindow(kSearchWindow, kMainWindow, false);
  }
  Rt().FocusControl(kSearchWindow, kSearchBox);
  PrepareSearchIndex();
}

void OnSearchWindowCreated(image::EventArgs&) {
  const rt::Geometry main = Rt().GetGeometry(kMainWindow);
  Rt().Move(kSearchWindow, main.left + 24, main.top + 24);
  ShowStatus(kHint);
}

void OnSearchTextChanged(image::EventArgs&) { RunSearch(); }

void OnSearchResultChosen(image::EventArgs& args) {
  const int index = args.code >= 0 ? args.code : Rt().ListCurrentIndex(kSearchWindow, kResultList);
  if (index < 0 || index >= static_cast<int>(g_resultDays.size())) return;
  Rt().SetCalendarValue(kMainWindow, ctl::kCalendar, g_resultDays[static_cast<size_t>(index)]);
  OpenMemoEditor();
  // What was just written is found from now on.
  if (Rt().IsLoaded(kSearchWindow)) RunSearch();
}

void RefreshSearchResults() {
  g_search.reset();
  g_indexReady = false;
  if (Rt().IsLoaded(kSearchWindow)) RunSearch();
}

void OnSearchWindowClose(image::EventArgs&) {
  g_search.reset();
  g_resultDays.clear();
}

void OnCloseSearchWindow(image::EventArgs&) { Rt().CloseWindow(kSearchWindow); }

namespace {

// Chosen in the save dialog: the name given becomes a folder of one file a day.
constexpr const char* kFolderFilter = "每天一个 Markdown 文件，存入文件夹 (*)";

void FolderExported(const std::string& folder, const archive::FolderExport& result,
                    const std::string& error);

void ExportToFolder(const std::string& folder, archive::ExistingFiles existing) {
  StartFolderExport(StoreFile(), folder, existing,
                    [folder](const archive::FolderExport& result, const std::string& error) {
                      FolderExported(folder, result, error);
                    });
}

void FolderExported(const std::string& folder, const archive::FolderExport& result,
                    const std::string& error) {
  if (!error.empty()) {
    Rt().MessageBox("导出没有成功：\r\n" + error + "\r\n\r\n已写入 " +
                        std::to_string(result.written) + " 个文件。",
                    rt::MB_OK | rt::MB_ICONERROR, std::string("Tamsivo"));
    return;
  }
  if (result.written == 0 && result.unchanged == 0 && result.kept == 0 &&
      !result.differing.empty()) {
    // Asked first: nothing was written yet.
    const int answer = Rt().MessageBox(
        std::to_string(result.differing.size()) + " 个文件已经存在，内容与备忘录不同，例如：\r\n" +
            result.differing.front() +
            "\r\n\r\n是：用备忘录替换它们\r\n否：保留它们，只写其余的日子\r\n取消：不导出",
        rt::MB_YESNOCANCEL | rt::MB_ICONQUESTION, std::string("Tamsivo"));
    if (answer == rt::IDYES) ExportToFolder(folder, archive::ExistingFiles::kOverwrite);
    if (answer == rt::IDNO) ExportToFolder(folder, archive::ExistingFiles::kKeep);
    return;
  }
  std::string text = "已把备忘录按天写入文件夹：\r\n" + folder + "\r\n\r\n新写入 " +
                     std::to_string(result.written) + " 个文件，" +
                     std::to_string(result.unchanged) + " 个已经相同";
  if (result.kept > 0) text += "，保留了 " + std::to_string(result.kept) + " 个内容不同的文件";
  Rt().MessageBox(text + "。", rt::MB_OK | rt::MB_ICONINFORMATION, std::string("Tamsivo"));
}

}  // namespace

void OnExportMenu(image::EventArgs&) {
  if (ExportRunning()) {
    Rt().MessageBox("上一次导出还没有完成，请稍候。", rt::MB_OK | rt::MB_ICONINFORMATION,
                    std::string("Tamsivo"));
    return;
  }
  const char* home = std::getenv("HOME");
  const std::string suggested = std::string(home && home[0] == '/' ? home : "") +
                                "/Tamsivo 备忘录 " + DateTimeToText(TodayDate) + ".md";
  std::string path = Rt().AskSaveFileName(
      kMainWindow, "导出备忘录", suggested,
      std::string("Markdown (*.md);;纯文本 (*.txt);;CSV 表格 (*.csv);;iCalendar 日历 (*.ics);;") +
          kFolderFilter);
  if (path.empty()) return;
  if (Rt().LastSaveFilter() == kFolderFilter) {
    // The suggested name's extension means nothing for a folder.
    if (path.ends_with(".md") && !fileio::IsDirectory(path)) path.resize(path.size() - 3);
    ExportToFolder(path, archive::ExistingFiles::kAsk);
    return;
  }
  // The dialog gives a name typed without an extension the chosen file
  // type's; one that still has none gets the first format's.
  const size_t slash = path.rfind('/');
  if (path.find('.', slash == std::string::npos ? 0 : slash + 1) == std::string::npos)
    path += ".md";
  // On a worker: a large store takes a second, and the windows stay usable.
  StartExport(StoreFile(), path, [path](int count, const std::string& error) {
    if (error.empty()) {
      Rt().MessageBox("已把 " + std::to_string(count) + " 条备忘录按日期先后导出到：\r\n" + path,
                      rt::MB_OK | rt::MB_ICONINFORMATION, std::string("Tamsivo"));
    } else {
      Rt().MessageBox("导出没有成功：\r\n" + error, rt::MB_OK | rt::MB_ICONERROR,
                      std::string("Tamsivo"));
    }
  });
}
