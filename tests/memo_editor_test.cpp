// The memo editor on a bad day: a store that will not take the text, a kill
// while typing, the program ending with the editor open. Whatever happens
// the editor can be closed and the typed text is somewhere the user is told.
#include "memo/memo_editor.h"

#include <Qsci/qsciscintilla.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <QApplication>
#include <QTest>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

#include "base/datetime.h"
#include "base/program.h"
#include "memo/calendar.h"
#include "memo/drafts.h"
#include "memo/memo_store.h"
#include "runtime/table_store.h"
#include "tests/support/test_program.h"
#include "util/file_io.h"

namespace {

namespace fs = std::filesystem;

const double kDay = MakeDateTime(2026, 12, 15);
constexpr const char* kBox = "编辑框1";

std::string BoxText(rt::Runtime& r, const char* window) {
  return r.GetEditText(window, kBox, r.EditTextLength(window, kBox));
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// Answers message boxes in turn (IDOK once the list runs dry); `before`
// runs ahead of each answer.
void AnswerWith(TestProgram& p, std::deque<int> answers, std::function<void()> before = {}) {
  auto queue = std::make_shared<std::deque<int>>(std::move(answers));
  p.answer = [queue, before](const ShownMessage&) {
    if (before) before();
    if (queue->empty()) return rt::IDOK;
    const int a = queue->front();
    queue->pop_front();
    return a;
  };
}

std::vector<fs::path> FilesIn(const fs::path& dir) {
  std::vector<fs::path> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(dir, ec)) out.push_back(e.path());
  return out;
}

// Opens the editor on kDay; `whileOpen` runs with it up and should close it.
// One that fails half way leaves it open: the program is then ended, so the
// test fails instead of waiting for ever.
void EditWhile(TestProgram& p, std::function<void(rt::Runtime&)> whileOpen, double day = kDay) {
  p.onModal = [&p, whileOpen](const std::string& w) {
    whileOpen(p.runtime());
    if (p.runtime().IsLoaded(w)) {
      ADD_FAILURE() << "the editor was left open";
      p.runtime().EndProgram(0);
    }
  };
  p.runtime().SetCalendarValue(kMainWindow, "Calendar1", day);
  OpenMemoEditor();
  p.onModal = nullptr;
}

// Types into the editor the way the user does: the text changes, then the
// edit box reports it.
void Type(rt::Runtime& r, const std::string& text) {
  r.SetEditText(kMemoEditWindow, kBox, text);
  image::EventArgs a;
  OnMemoEditorTextChanged(a);
}

std::string StoredText(double day) { return FindDayMemo(day) ? ReadMemoText() : "<none>"; }

// Holds the store's write lock, as another program writing to it would.
class WriteLock {
 public:
  explicit WriteLock(const std::string& file) {
    sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr);
    ok = sqlite3_exec(db_, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK;
  }
  ~WriteLock() { Release(); }
  void Release() {
    if (!db_) return;
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close_v2(db_);
    db_ = nullptr;
  }
  bool ok = false;

 private:
  sqlite3* db_ = nullptr;
};

}  // namespace

TEST(EditorDeadEnds, DamagedStoreClosesEmptyAndKeepsTypedTextInARecoveryFile) {
  TestProgram p;
  p.WriteFile("事件数据.edb", "this is not a memo store\n");
  p.Start();
  ASSERT_EQ(p.messages.size(), 1u);  // the store did not open

  // Nothing typed: the store is not needed and the window closes.
  EditWhile(p, [](rt::Runtime& r) {
    r.CloseWindow(kMemoEditWindow);
    EXPECT_FALSE(r.IsLoaded(kMemoEditWindow));
  });
  EXPECT_EQ(p.messages.size(), 1u);

  // Typed text: a retry fails again, giving up keeps it in a recovery file.
  AnswerWith(p, {rt::IDRETRY, rt::IDCANCEL});
  EditWhile(p, [](rt::Runtime& r) {
    Type(r, "千万别丢");
    r.CloseWindow(kMemoEditWindow);
    EXPECT_FALSE(r.IsLoaded(kMemoEditWindow));
  });
  ASSERT_EQ(p.messages.size(), 4u);
  for (int i : {1, 2}) {
    EXPECT_EQ(p.messages[i].flags, rt::MB_RETRYCANCEL | rt::MB_ICONERROR);
    EXPECT_NE(p.messages[i].text.find("备忘录没有保存"), std::string::npos);
    EXPECT_NE(p.messages[i].text.find("不是本程序的数据文件"), std::string::npos)
        << p.messages[i].text;
  }
  const std::vector<fs::path> recovered = FilesIn(p.path("恢复"));
  ASSERT_EQ(recovered.size(), 1u);
  EXPECT_EQ(Slurp(recovered[0]), "千万别丢");
  EXPECT_TRUE(recovered[0].filename().string().starts_with("2026-12-15 "));
  EXPECT_NE(p.messages[3].text.find(recovered[0].string()), std::string::npos)
      << p.messages[3].text;
  EXPECT_EQ(p.ReadFile("事件数据.edb"), "this is not a memo store\n");
  EXPECT_TRUE(FilesIn(p.path("草稿")).empty());
}

TEST(EditorDeadEnds, ReadOnlyStoreSaysSoAndNeverTrapsTheEditor) {
  TestProgram p;
  p.Start();
  ASSERT_TRUE(SaveDayMemo(kDay, "已经存好的"));
  ObeyFilePermissions obey;
  ASSERT_EQ(::chmod(p.path("事件数据.edb").c_str(), 0444), 0);
  p.Restart();
  const size_t before = p.messages.size();

  // Unchanged text closes without a word.
  EditWhile(p, [](rt::Runtime& r) {
    EXPECT_EQ(BoxText(r, kMemoEditWindow), "已经存好的");
    r.CloseWindow(kMemoEditWindow);
    EXPECT_FALSE(r.IsLoaded(kMemoEditWindow));
  });
  EXPECT_EQ(p.messages.size(), before);

  AnswerWith(p, {rt::IDCANCEL});
  EditWhile(p, [](rt::Runtime& r) {
    Type(r, "改过的");
    r.CloseWindow(kMemoEditWindow);
  });
  ASSERT_EQ(p.messages.size(), before + 2);
  EXPECT_NE(p.messages[before].text.find("文件只读"), std::string::npos) << p.messages[before].text;
  EXPECT_EQ(StoredText(kDay), "已经存好的");
  ASSERT_EQ(FilesIn(p.path("恢复")).size(), 1u);
  EXPECT_EQ(Slurp(FilesIn(p.path("恢复"))[0]), "改过的");
  ::chmod(p.path("事件数据.edb").c_str(), 0644);
}

TEST(EditorDeadEnds, ReadOnlyDirectoryNamesTheDirectoryAndRecoversElsewhere) {
  TestProgram p;
  ScopedEnv data("XDG_DATA_HOME", p.path("xdg-data"));
  fs::create_directories(p.path("xdg-data"));
  p.Start();
  ObeyFilePermissions obey;
  ASSERT_EQ(::chmod(p.dir().c_str(), 0555), 0);
  AnswerWith(p, {rt::IDCANCEL});
  EditWhile(p, [](rt::Runtime& r) {
    Type(r, "目录不能写");
    r.CloseWindow(kMemoEditWindow);
    EXPECT_FALSE(r.IsLoaded(kMemoEditWindow));
  });
  ::chmod(p.dir().c_str(), 0755);
  ASSERT_EQ(p.messages.size(), 2u);
  EXPECT_NE(p.messages[0].text.find("目录"), std::string::npos) << p.messages[0].text;
  EXPECT_EQ(p.messages[0].text.find("文件不存在"), std::string::npos) << p.messages[0].text;
  // In the user's data directory, in a folder of this store's own: every
  // portable copy falls back there.
  const std::string own = p.path("xdg-data/tamsivo/恢复/" + fileio::PathKey(p.dir()));
  const std::vector<fs::path> recovered = FilesIn(own);
  ASSERT_EQ(recovered.size(), 1u);
  EXPECT_EQ(Slurp(recovered[0]), "目录不能写");
  // Another copy's texts, in its folder or loose from an earlier build,
  // are never offered to this store.
  fs::create_directories(p.path("xdg-data/tamsivo/恢复/0123456789abcdef"));
  std::ofstream(p.path("xdg-data/tamsivo/恢复/0123456789abcdef/2026-12-01 20261201-100000.txt"))
      << "别的副本";
  std::ofstream(p.path("xdg-data/tamsivo/恢复/2026-12-02 20261202-100000.txt")) << "别的副本";
  // Offered back at the next start, from where it was put.
  const std::vector<LeftoverText> left = FindLeftoverTexts();
  ASSERT_EQ(left.size(), 1u);
  EXPECT_TRUE(left[0].recovery);
  EXPECT_EQ(left[0].day, kDay);
}

TEST(EditorDeadEnds, RetryAfterTheLockIsGoneSaves) {
  TestProgram p;
  // Short waits for the lock, for the store and for its check alike.
  TableStore::SetBusyTimeoutMs(50);
  struct Restore {
    ~Restore() { TableStore::SetBusyTimeoutMs(5000); }
  } restore;
  p.Start();
  auto lock = std::make_shared<WriteLock>(p.path("事件数据.edb"));
  ASSERT_TRUE(lock->ok);
  int asked = 0;
  AnswerWith(p, {rt::IDRETRY}, [&] {
    ++asked;
    lock->Release();  // the other program is done
  });
  EditWhile(p, [](rt::Runtime& r) {
    Type(r, "等一下再存");
    r.CloseWindow(kMemoEditWindow);
    EXPECT_FALSE(r.IsLoaded(kMemoEditWindow));
  });
  EXPECT_EQ(asked, 1);
  EXPECT_NE(p.messages.at(0).text.find("锁定"), std::string::npos) << p.messages[0].text;
  EXPECT_EQ(StoredText(kDay), "等一下再存");
  EXPECT_TRUE(FilesIn(p.path("恢复")).empty());
}

TEST(EditorDeadEnds, FullDiskIsNamed) {
  TestProgram p;
  TableStore::SetPageLimitForTesting(8);
  p.Start();
  TableStore::SetPageLimitForTesting(0);
  AnswerWith(p, {rt::IDCANCEL});
  const std::string big(200 * 1024, 'x');
  EditWhile(p, [&big](rt::Runtime& r) {
    Type(r, big);
    r.CloseWindow(kMemoEditWindow);
  });
  ASSERT_GE(p.messages.size(), 1u);
  EXPECT_NE(p.messages[0].text.find("磁盘已满"), std::string::npos) << p.messages[0].text;
  ASSERT_EQ(FilesIn(p.path("恢复")).size(), 1u);
  EXPECT_EQ(Slurp(FilesIn(p.path("恢复"))[0]), big);
}

TEST(EditorDeadEnds, EndingWithAnUnsavableEditorAsksNothingAndKeepsTheText) {
  TestProgram p;
  p.WriteFile("事件数据.edb", "not a store");
  p.Start();
  EditWhile(p, [](rt::Runtime& r) {
    Type(r, "关机前写的");
    r.EndProgram(0);  // SIGTERM at log-out
  });
  EXPECT_EQ(p.messages.size(), 1u);  // only the one at start
  const std::vector<fs::path> recovered = FilesIn(p.path("恢复"));
  ASSERT_EQ(recovered.size(), 1u);
  EXPECT_EQ(Slurp(recovered[0]), "关机前写的");
}

TEST(Drafts, KeptWhileTypingAndGoneOnceSaved) {
  TestProgram p;
  p.Start();
  EditWhile(p, [&p](rt::Runtime& r) {
    Type(r, "第一稿");
    EXPECT_TRUE(FilesIn(p.path("草稿")).empty());  // not at every key
    p.Pump(1300);
    std::vector<fs::path> drafts = FilesIn(p.path("草稿"));
    ASSERT_EQ(drafts.size(), 1u);
    EXPECT_EQ(Slurp(drafts[0]), "第一稿");
    Type(r, "第二稿");
    p.Pump(1300);
    EXPECT_EQ(Slurp(drafts[0]), "第二稿");
    r.CloseWindow(kMemoEditWindow);
  });
  EXPECT_EQ(StoredText(kDay), "第二稿");
  EXPECT_TRUE(FilesIn(p.path("草稿")).empty());
}

TEST(Drafts, LeftoversAreOfferedBackAtTheNextStart) {
  TestProgram p;
  fs::create_directories(p.path("草稿"));
  p.WriteFile("草稿/2026-12-15 20261207-093000.txt", "被杀掉前打的字");
  p.WriteFile("草稿/2026-12-16 20261207-093100.txt", "不要了");
  p.WriteFile("草稿/2026-12-17 20261207-093200.txt", "以后再说");
  p.WriteFile("草稿/2026-12-18 20261207-093300.txt", "早已存好");
  p.WriteFile("草稿/notes.txt", "not ours");
  std::string shown;
  p.onModal = [&](const std::string& w) {
    shown = BoxText(p.runtime(), w.c_str());
    p.runtime().CloseWindow(w);
  };
  AnswerWith(p, {rt::IDYES, rt::IDNO, rt::IDCANCEL});
  // The store already holds the last one: nothing to offer for it.
  OpenMemoStore();
  ASSERT_TRUE(SaveDayMemo(MakeDateTime(2026, 12, 18), "早已存好"));
  p.Start();
  ASSERT_EQ(p.messages.size(), 3u);
  EXPECT_NE(p.messages[0].text.find("2026年12月15日"), std::string::npos);
  EXPECT_NE(p.messages[0].text.find("被杀掉前打的字"), std::string::npos);
  EXPECT_EQ(p.messages[0].flags, rt::MB_YESNOCANCEL | rt::MB_ICONQUESTION);
  EXPECT_EQ(shown, "被杀掉前打的字");
  EXPECT_EQ(StoredText(kDay), "被杀掉前打的字");
  EXPECT_EQ(StoredText(MakeDateTime(2026, 12, 16)), "<none>");
  std::vector<std::string> names;
  for (const fs::path& f : FilesIn(p.path("草稿"))) names.push_back(f.filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"2026-12-17 20261207-093200.txt", "notes.txt"}));
}

// A kill while a leftover's editor is open: what the next start would offer
// is read at every moment. The text is in exactly one file, never none.
TEST(Drafts, ALeftoverTakenUpLivesInOneFileAtEveryKillMoment) {
  for (const char* folder : {"草稿", "恢复"}) {
    SCOPED_TRACE(folder);
    TestProgram p;
    fs::create_directories(p.path(folder));
    p.WriteFile(std::string(folder) + "/2026-12-15 20261207-093000.txt", "被杀掉前打的字");
    auto offered = [] {
      std::vector<std::string> texts;
      for (const LeftoverText& l : FindLeftoverTexts()) texts.push_back(l.text);
      return texts;
    };
    using Texts = std::vector<std::string>;
    p.onModal = [&](const std::string& w) {
      EXPECT_EQ(offered(), Texts{"被杀掉前打的字"});  // before the first draft
      p.Pump(1300);
      EXPECT_EQ(offered(), Texts{"被杀掉前打的字"});  // the first draft is written
      Type(p.runtime(), "被杀掉前打的字，又添了几句");
      p.Pump(1300);
      EXPECT_EQ(offered(), Texts{"被杀掉前打的字，又添了几句"});
      p.runtime().CloseWindow(w);
    };
    AnswerWith(p, {rt::IDYES});
    p.Start();
    EXPECT_EQ(StoredText(kDay), "被杀掉前打的字，又添了几句");
    EXPECT_TRUE(offered().empty());
  }
}

// The edit box takes every key, Escape included; Escape must still reach
// the window's shortcut, which closes the editor the way its close box does.
TEST(EditorKeys, EscapeClosesTheEditorAndSaves) {
  TestProgram p;
  p.Start();
  EditWhile(p, [](rt::Runtime& r) {
    r.SetEditText(kMemoEditWindow, kBox, "按 Esc 保存");
    QWidget* window = ShownWindow(kMemoEditWindow);
    ASSERT_NE(window, nullptr);
    QApplication::setActiveWindow(window);
    QTest::keyClick(window->findChild<QsciScintilla*>(kBox), Qt::Key_Escape);
  });
  EXPECT_EQ(StoredText(kDay), "按 Esc 保存");
}

// An import (or another tool) writes the day while its editor is open: closing
// the editor keeps both the typed text and what arrived.
TEST(EditorKeepsArrivedText, TextStoredMeanwhileIsNeverSavedOver) {
  TestProgram p;
  p.Start();
  ASSERT_TRUE(SaveDayMemo(kDay, "原文"));
  EditWhile(p, [](rt::Runtime& r) {
    Type(r, "原文，改过");
    ASSERT_TRUE(SaveDayMemo(kDay, "原文\n\n—— 导入 ——\n导入的"));
    r.CloseWindow(kMemoEditWindow);
  });
  EXPECT_EQ(StoredText(kDay), "原文，改过\n\n—— 导入 ——\n导入的");

  const double other = MakeDateTime(2026, 12, 16);
  EditWhile(
      p,
      [other](rt::Runtime& r) {
        Type(r, "这里写的");
        ASSERT_TRUE(SaveDayMemo(other, "别处写的"));
        r.CloseWindow(kMemoEditWindow);
      },
      other);
  EXPECT_EQ(StoredText(other), std::string("这里写的\n") + kArrivedSeparator + "\n别处写的");
}

TEST(EditorKeepsArrivedText, UnchangedEmptiedOrHeldArrivalsAddNothing) {
  EXPECT_EQ(KeepArrivedText("新", "旧", "旧"), "新");
  EXPECT_EQ(KeepArrivedText("新", "旧", ""), "新");
  EXPECT_EQ(KeepArrivedText("新的，含别处写的", "旧", "别处写的"), "新的，含别处写的");
  EXPECT_EQ(KeepArrivedText("", "旧", "旧，别处改过"), "旧，别处改过");
}
