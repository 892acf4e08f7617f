// The memo text of the .md, .txt and .csv exports: formula cells made plain,
// heading-like memo lines escaped, and a .md or .txt export read back to the
// very bytes of each memo.
#include "archive/export_text.h"

#include "archive/export.h"
#include "tests/archive/archive_test_util.h"

using namespace archive_test;

namespace {

// Texts that look like the file's own structure, or break naive readers.
const std::vector<std::string> kAwkward = {
    "## 2026年10月1日",
    "第一行\n## 2026年10月1日\n\n## 2026年10月2日\n正文",
    "2026年10月1日\n纯文本里像日期的一行",
    "\\## 已经有反斜杠\n\\\\# 两个\n\\ 普通反斜杠\n末尾反斜杠\\",
    "  # 缩进的标题\n\t---\n***\n= = =\n___\n--\n-- 两条不算",
    "Windows 行\r\n## 2026年1月1日\r\n尾\r\n",
    "=1+1\n+2\n-3\n@SUM(A1)\n\t制表符开头",
    "带\"引号\", 逗号, 和 'single'",
    "\n\n前后空行\n\n",
    "😀 emoji 👨‍👩‍👧 末尾\n",
    "\\",
    "#",
    "\r",
};

}  // namespace

TEST(ExportText, EscapingIsExactlyReversed) {
  EXPECT_EQ(archive::EscapeMemoLines("## 2026年10月1日"), "\\## 2026年10月1日");
  EXPECT_EQ(archive::EscapeMemoLines("a\n  ---\n\\#x\n2026年1月1日上班"),
            "a\n  \\---\n\\\\#x\n\\2026年1月1日上班");
  // Lines nothing could mistake are left as they are.
  EXPECT_EQ(archive::EscapeMemoLines("a\\b\n\\c\n- 列表\n2026年"), "a\\b\n\\c\n- 列表\n2026年");
  for (const std::string& memo : kAwkward) {
    EXPECT_EQ(archive::UnescapeMemoLines(archive::EscapeMemoLines(memo)), memo) << memo;
  }
}

TEST(ExportText, TextExportsReadBackByteForByte) {
  ScratchDir dir;
  const std::string store = dir / "事件数据.edb";
  std::vector<archive::ExportedMemo> expected;
  {
    MemoFile memos(store);
    for (size_t i = 0; i < kAwkward.size(); ++i) {
      memos.Put(Date(2026, 10, static_cast<int>(i) + 1), kAwkward[i]);
      expected.push_back({"2026年10月" + std::to_string(i + 1) + "日", kAwkward[i]});
    }
  }
  for (const bool markdown : {true, false}) {
    const std::string name = markdown ? "备忘录.md" : "备忘录.txt";
    int count = 0;
    std::string error;
    ASSERT_TRUE(archive::ExportMemos(store, dir / name, &count, &error)) << error;
    std::vector<archive::ExportedMemo> read;
    ASSERT_TRUE(archive::ReadTextExport(SlurpFile(dir / name), markdown, &read)) << name;
    EXPECT_EQ(read, expected) << name;
  }
  std::vector<archive::ExportedMemo> read;
  EXPECT_FALSE(archive::ReadTextExport("no heading\n", true, &read));
  EXPECT_FALSE(archive::ReadTextExport("## 2026年1月1日\nno blank line\n", true, &read));
  EXPECT_TRUE(archive::ReadTextExport("", true, &read) && read.empty());
}

TEST(ExportText, CsvCellsAreNeverFormulas) {
  const std::pair<std::string, std::string> cells[] = {
      {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
      {"+1", "'+1"},
      {"-1+2", "'-1+2"},
      {"@SUM(A1:A9)", "'@SUM(A1:A9)"},
      {"\t=1", "'\t=1"},
      {"\r=1", "\"'\r=1\""},
      // Only the start of a cell makes a formula.
      {"a=1, b=2", "\"a=1, b=2\""},
      {"价格 -5", "价格 -5"},
      // Control bytes dropped, tab and line ends kept.
      {std::string("a\0b\x01\x1b[2J\x7f"
                   "c\td",
                   12),
       "ab[2Jc\td"},
      // What is left once they are gone counts, and a ' of the memo's own
      // gets one more so that reading back drops exactly one.
      {std::string("\0=1", 3), "'=1"},
      {"'quoted", "''quoted"},
  };
  for (const auto& [memo, cell] : cells) EXPECT_EQ(archive::CsvCell(memo), cell) << memo;
}

TEST(ExportText, CsvExportHasNoFormulaCells) {
  ScratchDir dir;
  const std::string store = dir / "事件数据.edb";
  {
    MemoFile memos(store);
    memos.Put(Date(2026, 1, 1), "=1+1");
    memos.Put(Date(2026, 1, 2), std::string("@x\0y", 4));
  }
  int count = 0;
  std::string error;
  ASSERT_TRUE(archive::ExportMemos(store, dir / "a.csv", &count, &error)) << error;
  EXPECT_EQ(SlurpFile(dir / "a.csv"),
            "\xEF\xBB\xBF日期,备忘录\r\n2026-01-01,'=1+1\r\n2026-01-02,'@xy\r\n");
}
