// Search: the index a store gets on first use, changes made by the
// program's own connection, folding, literal queries and excerpts.
#include "archive/search.h"

#include "archive/fold.h"
#include "tests/archive/archive_test_util.h"
#include "tests/support/test_program.h"
#include "util/chinese_variants.h"

using namespace archive_test;

namespace {

struct Found {
  std::vector<std::string> days;  // "2026-12-7" per hit, in order
  int total = 0;
};

Found Find(archive::MemoSearch& search, const std::string& query, int limit = 500) {
  archive::SearchResult result;
  std::string error;
  EXPECT_TRUE(search.Search(query, &result, &error, limit)) << query << ": " << error;
  Found found{{}, result.total};
  for (const archive::SearchHit& hit : result.hits) {
    found.days.push_back(std::to_string(hit.year) + "-" + std::to_string(hit.month) + "-" +
                         std::to_string(hit.dayOfMonth));
  }
  return found;
}

std::vector<std::string> Days(archive::MemoSearch& search, const std::string& query) {
  return Find(search, query).days;
}

// Each query with the days it must find, newest first.
void ExpectDays(archive::MemoSearch& search,
                const std::vector<std::pair<std::string, std::vector<std::string>>>& cases) {
  for (const auto& [query, days] : cases) EXPECT_EQ(Days(search, query), days) << query;
}

std::unique_ptr<archive::MemoSearch> OpenSearch(const std::string& file) {
  std::string error;
  auto search = archive::MemoSearch::Open(file, &error);
  EXPECT_NE(search, nullptr) << error;
  return search;
}

using V = std::vector<std::string>;

TEST(MemoSearch, OldStoreGetsItsIndexAndRecordsStayAsTheyWere) {
  ScratchDir dir;
  MemoFile store(dir / "事件数据.edb");
  store.Put(Date(2026, 12, 7), "下午开会，讨论预算");
  store.Put(Date(2026, 12, 8), "买菜；给妈妈打电话");
  store.Put(Date(2025, 1, 2), "年初的预算会议");
  store.Put(Date(2026, 12, 9), "");
  const V records = store.Records();

  auto search = OpenSearch(store.path());
  EXPECT_EQ(Days(*search, "预算"), (V{"2026-12-7", "2025-1-2"}));
  EXPECT_EQ(Days(*search, "打电话"), (V{"2026-12-8"}));
  EXPECT_EQ(Days(*search, "不存在的话"), V{});

  // Only tables and triggers were added; the program still opens the store.
  EXPECT_EQ(store.Records(), records);
  EXPECT_EQ(Query(store.path(), "SELECT count(*) FROM search_folded"), V{"3"});
  EXPECT_EQ(Query(store.path(), "SELECT count(*) FROM sqlite_master WHERE type = 'trigger'"),
            V{"3"});
  store.Close();
  store.Reopen();
}

// The program stops a build at its end; the next one goes on from there.
TEST(MemoSearch, StoppedUpdateResumesAndFindsEverything) {
  ScratchDir dir;
  MemoFile store(dir / "事件数据.edb");
  for (int d = 1; d <= 28; ++d) store.Put(Date(2026, 2, d), "第" + std::to_string(d) + "天的预算");
  std::atomic<bool> stop{true};
  std::string error;
  {
    auto stopped = OpenSearch(store.path());
    EXPECT_FALSE(stopped->Update(&error, &stop));
    EXPECT_EQ(error, "stopped");
  }
  auto search = OpenSearch(store.path());
  EXPECT_TRUE(search->Update(&error)) << error;
  EXPECT_EQ(Find(*search, "预算").total, 28);
  EXPECT_EQ(Days(*search, "第7天"), V{"2026-2-7"});
}

// A store that takes no writes cannot hold the index; it is searched by a
// scan instead, and left as it was.
TEST(MemoSearch, ReadOnlyStoreIsScanned) {
  ScratchDir dir;
  MemoFile store(dir / "事件数据.edb");
  store.Put(Date(2026, 12, 7), "下午開會，討論預算");
  store.Put(Date(2026, 12, 8), "");
  store.Put(Date(2025, 1, 2), "年初的预算会议");
  store.Close();
  std::filesystem::permissions(store.path(), std::filesystem::perms::owner_read);
  const std::string before = SlurpFile(store.path());
  ObeyFilePermissions obey;
  auto search = OpenSearch(store.path());
  std::string error;
  EXPECT_TRUE(search->Update(&error)) << error;
  ExpectDays(*search, {{"预算", {"2026-12-7", "2025-1-2"}},
                       {"讨论预算", {"2026-12-7"}},
                       {"会", {"2026-12-7", "2025-1-2"}},
                       {"没有", {}}});
  search.reset();
  EXPECT_EQ(SlurpFile(store.path()), before);
}

TEST(MemoSearch, SeesWhatTheProgramsConnectionChanged) {
  ScratchDir dir;
  MemoFile store(dir / "事件数据.edb");
  store.Put(Date(2026, 1, 1), "旧的文字");
  store.Put(Date(2026, 1, 2), "要删掉的文字");
  auto search = OpenSearch(store.path());
  EXPECT_EQ(Days(*search, "文字"), (V{"2026-1-2", "2026-1-1"}));

  store.Put(Date(2026, 1, 1), "新的内容");
  store.Put(Date(2026, 1, 3), "又一条文字");
  Sql(store.path(), R"(DELETE FROM records WHERE "事情" = CAST('要删掉的文字' AS BLOB))");
  EXPECT_EQ(Days(*search, "文字"), (V{"2026-1-3"}));
  EXPECT_EQ(Days(*search, "新的"), (V{"2026-1-1"}));

  // A second record for a day is hidden behind the first, as in the
  // program, until the first goes; emptied memos are not found.
  Sql(store.path(), R"(INSERT INTO records("日期", "事情") VALUES()" +
                        std::to_string(Date(2026, 1, 1)) + ", CAST('影子文字' AS BLOB))");
  EXPECT_EQ(Days(*search, "影子"), V{});
  Sql(store.path(), R"(DELETE FROM records WHERE "事情" = CAST('新的内容' AS BLOB))");
  EXPECT_EQ(Days(*search, "影子"), (V{"2026-1-1"}));
  store.Put(Date(2026, 1, 3), "");
  EXPECT_EQ(Days(*search, "文字"), (V{"2026-1-1"}));

  // A day moved by hand is found under its new day.
  Sql(store.path(), R"(UPDATE records SET "日期" = )" + std::to_string(Date(2027, 5, 6)) +
                        R"( WHERE "事情" = CAST('影子文字' AS BLOB))");
  EXPECT_EQ(Days(*search, "影子"), (V{"2027-5-6"}));
}

TEST(MemoSearch, ShortQueriesScanTheFoldedText) {
  ScratchDir dir;
  MemoFile store(dir / "事件数据.edb");
  store.Put(Date(2026, 3, 1), "会");
  store.Put(Date(2026, 3, 2), "开会");
  store.Put(Date(2026, 3, 3), "Go to the GYM");
  store.Put(Date(2026, 3, 4), "晴");
  auto search = OpenSearch(store.path());
  EXPECT_EQ(Days(*search, "会"), (V{"2026-3-2", "2026-3-1"}));
  EXPECT_EQ(Days(*search, "开会"), (V{"2026-3-2"}));
  EXPECT_EQ(Days(*search, "gy"), (V{"2026-3-3"}));
  EXPECT_EQ(Days(*search, "M"), (V{"2026-3-3"}));
  EXPECT_EQ(Days(*search, " 开会\n"), (V{"2026-3-2"}));
  EXPECT_EQ(Days(*search, ""), V{});
  EXPECT_EQ(Days(*search, " \t "), V{});
  EXPECT_EQ(Find(*search, "  ").total, 0);
}

TEST(MemoSearch, TraditionalSimplifiedAndLatinCaseAreIgnored) {
  ASSERT_TRUE(chinese::ConverterAvailable())
      << "OpenCC (libopencc1.1 and opencc-data's TSCharacters.ocd2) must be installed";
  ScratchDir dir;
  MemoFile store(dir / "事件数据.edb");
  store.Put(Date(2026, 5, 1), "今天開會討論預算");
  store.Put(Date(2026, 5, 2), "学习汉语的计划");
  store.Put(Date(2026, 5, 3), "Meeting with BOB at the CAFÉ");
  // ß has no capital in Latin-1: the byte after Þ is a letter of its own.
  store.Put(Date(2026, 5, 4), "Grüße aus der Straße, ÞING");
  auto search = OpenSearch(store.path());
  ExpectDays(*search, {
                          {"开会讨论", {"2026-5-1"}},
                          {"会", {"2026-5-1"}},
                          {"學習漢語", {"2026-5-2"}},
                          {"習", {"2026-5-2"}},
                          {"bob AT", {"2026-5-3"}},
                          {"café", {"2026-5-3"}},
                          {"Bo", {"2026-5-3"}},
                          {"STRAßE", {"2026-5-4"}},
                          {"þing", {"2026-5-4"}},
                          {"ÿ", {}},
                          {"Ÿ", {}},
                      });
}

TEST(MemoSearch, QueriesAreLiteralText) {
  ScratchDir dir;
  MemoFile store(dir / "事件数据.edb");
  const V memos = {"说\"你好\"了", "a*b 乘法",     "折扣 100% 了",
                   "file_name 里", "x AND y OR z", "NEAR(a b) col:x ^start",
                   "普通的一天"};
  for (size_t i = 0; i < memos.size(); ++i) store.Put(Date(2026, 6, 1 + i), memos[i]);
  auto search = OpenSearch(store.path());
  ExpectDays(*search, {
                          {"\"你好\"", {"2026-6-1"}},
                          {"\"", {"2026-6-1"}},
                          {"a*b", {"2026-6-2"}},
                          {"*", {"2026-6-2"}},
                          {"100%", {"2026-6-3"}},
                          {"%", {"2026-6-3"}},
                          {"_", {"2026-6-4"}},
                          {"e_n", {"2026-6-4"}},
                          {"AND y OR", {"2026-6-5"}},
                          {"x OR y", {}},
                          {"NEAR(a", {"2026-6-6"}},
                          {"col:x", {"2026-6-6"}},
                          {"^st", {"2026-6-6"}},
                          {"一天\"", {}},
                      });
}

TEST(MemoSearch, ExcerptShowsTheOriginalAroundTheMatch) {
  ScratchDir dir;
  MemoFile store(dir / "事件数据.edb");
  store.Put(Date(2026, 7, 1),
            "第一行😀\r\n第二行有很多很多很多的字，然後在這裏開會討論預算的事情，"
            "還有更多更多更多更多更多的字在後面");
  store.Put(Date(2026, 7, 2), "開會");
  auto search = OpenSearch(store.path());
  archive::SearchResult result;
  std::string error;
  ASSERT_TRUE(search->Search("开会讨论", &result, &error)) << error;
  ASSERT_EQ(result.total, 1);
  const archive::SearchHit& hit = result.hits[0];
  EXPECT_EQ(hit.day, Date(2026, 7, 1));
  // Near the end it is shorter, the match as near its start as elsewhere.
  EXPECT_EQ(hit.excerpt, "…的字，然後在這裏開會討論預算的事情，還有更多更多更多更多更多的字在後面");
  EXPECT_EQ(hit.matchStart, 9);
  EXPECT_EQ(hit.matchLength, 4);

  // Near the start: no cut before, line breaks as spaces, the emoji one
  // character.
  ASSERT_TRUE(search->Search("二行", &result, &error)) << error;
  EXPECT_EQ(result.hits[0].excerpt,
            "第一行😀  第二行有很多很多很多的字，然後在這裏開會討論預算的事情，還有更多更多…");
  EXPECT_EQ(result.hits[0].matchStart, 7);
  EXPECT_EQ(result.hits[0].matchLength, 2);

  ASSERT_TRUE(search->Search("会", &result, &error)) << error;
  ASSERT_EQ(result.total, 2);
  EXPECT_EQ(result.hits[0].excerpt, "開會");
  EXPECT_EQ(result.hits[0].matchStart, 1);
}

TEST(MemoSearch, NewestFirstWithALimitAndTheTotal) {
  ScratchDir dir;
  MemoFile store(dir / "事件数据.edb");
  std::string error;
  const double first = Date(2020, 1, 1);
  Sql(store.path(), [&] {
    std::string sql = "BEGIN;";
    for (int i = 0; i < 600; ++i) {
      sql += R"(INSERT INTO records("日期", "事情") VALUES()" + std::to_string(first + i) +
             ", CAST('第 " + std::to_string(i) + " 天：跑步' AS BLOB));";
    }
    return sql + "COMMIT;";
  }());
  auto search = OpenSearch(store.path());
  archive::SearchResult result;
  ASSERT_TRUE(search->Search("跑步", &result, &error, 500)) << error;
  EXPECT_EQ(result.total, 600);
  ASSERT_EQ(result.hits.size(), 500u);
  EXPECT_EQ(result.hits.front().day, first + 599);
  EXPECT_EQ(result.hits.back().day, first + 100);
  EXPECT_EQ(result.hits.front().excerpt, "第 599 天：跑步");
  EXPECT_EQ(Find(*search, "第 12 天", 10).total, 1);
}

TEST(MemoSearch, DamagedOrForeignIndexIsRebuilt) {
  ScratchDir dir;
  MemoFile store(dir / "事件数据.edb");
  store.Put(Date(2026, 8, 1), "游泳馆见");
  store.Put(Date(2026, 8, 2), "游泳课");
  OpenSearch(store.path())->Update(nullptr);
  const V all = {"2026-8-2", "2026-8-1"};

  // Rows lost, a trigger gone (a change unseen), another folding, the FTS
  // data itself broken.
  Sql(store.path(), "DELETE FROM search_folded WHERE id = 1");
  EXPECT_EQ(Days(*OpenSearch(store.path()), "游泳"), all);
  Sql(store.path(), "DROP TRIGGER search_records_insert");
  store.Put(Date(2026, 8, 3), "游泳比赛");
  EXPECT_EQ(Days(*OpenSearch(store.path()), "游泳"), (V{"2026-8-3", "2026-8-2", "2026-8-1"}));
  Sql(store.path(), "UPDATE search_state SET value = 'other' WHERE key = 'fold'");
  EXPECT_EQ(Days(*OpenSearch(store.path()), "游泳比"), (V{"2026-8-3"}));
  Sql(store.path(), "DELETE FROM search_index_data WHERE id > 10");
  EXPECT_EQ(Days(*OpenSearch(store.path()), "游泳比"), (V{"2026-8-3"}));
}

TEST(MemoSearch, StoreOfAnEarlierBuildInWalMode) {
  ScratchDir dir;
  MemoFile store(dir / "事件数据.edb");
  store.Close();
  Sql(store.path(), "PRAGMA journal_mode = WAL");
  sqlite3* writer = nullptr;
  sqlite3_open(store.path().c_str(), &writer);
  sqlite3_exec(writer,
               R"(INSERT INTO records("日期", "事情") VALUES(46000, CAST('日志模式' AS BLOB)))",
               nullptr, nullptr, nullptr);
  auto search = OpenSearch(store.path());
  EXPECT_EQ(Find(*search, "日志模式").total, 1);
  sqlite3_exec(writer,
               R"(INSERT INTO records("日期", "事情") VALUES(46001, CAST('日志模式二' AS BLOB)))",
               nullptr, nullptr, nullptr);
  EXPECT_EQ(Find(*search, "日志模式").total, 2);
  sqlite3_close_v2(writer);
}

TEST(MemoSearch, FoldingKeepsEveryCharacterInItsPlace) {
  const std::string text = std::string("A\xff") + "開會\r\n😀É" + std::string(1, '\0') + "Z";
  const std::string folded = archive::FoldForSearch(text);
  EXPECT_EQ(archive::CountCharacters(folded), archive::CountCharacters(text));
  EXPECT_EQ(archive::CountCharacters(text), 10u);
  EXPECT_EQ(folded, "a\xEF\xBF\xBD开会  😀é z");
}

// Every script's letters in either case, full-width forms as the ordinary
// ones, the marks on the original characters.
TEST(MemoSearch, CaseOfEveryScriptAndWidthAreIgnored) {
  ScratchDir dir;
  MemoFile store(dir / "事件数据.edb");
  store.Put(Date(2026, 9, 1), "去ＢＡＮＫ转账");
  store.Put(Date(2026, 9, 2), "下周去Łódź出差");
  store.Put(Date(2026, 9, 3), "ΣΟΦΊΑ и ДМИТРИЙ");
  auto search = OpenSearch(store.path());
  ExpectDays(*search, {
                          {"bank", {"2026-9-1"}},
                          {"BANK", {"2026-9-1"}},
                          {"ｂａｎｋ转", {"2026-9-1"}},
                          {"łódź", {"2026-9-2"}},
                          {"ŁÓDŹ", {"2026-9-2"}},
                          {"lodz", {}},
                          {"σοφία", {"2026-9-3"}},
                          {"дмитрий", {"2026-9-3"}},
                      });
  archive::SearchResult result;
  std::string error;
  ASSERT_TRUE(search->Search("bank", &result, &error)) << error;
  ASSERT_EQ(result.hits.size(), 1u);
  EXPECT_EQ(result.hits[0].excerpt, "去ＢＡＮＫ转账");
  EXPECT_EQ(result.hits[0].matchStart, 1);
  EXPECT_EQ(result.hits[0].matchLength, 4);
  ASSERT_TRUE(search->Search("ÓDŹ出", &result, &error)) << error;
  EXPECT_EQ(result.hits[0].matchStart, 4);
  EXPECT_EQ(result.hits[0].matchLength, 4);

  // An index an earlier build folded (ＢＡＮＫ as ｂａｎｋ) is built again.
  search.reset();
  Sql(store.path(),
      "UPDATE search_state SET value = 'fold1:plain' WHERE key = 'fold';"
      "UPDATE search_folded SET folded = '去ｂａｎｋ转账' WHERE id = 1");
  EXPECT_EQ(Days(*OpenSearch(store.path()), "bank"), V{"2026-9-1"});
}

// Each character folds to one character, and outside the Chinese blocks
// (where OpenCC's table has chains such as 薴 -> 苧 -> 苎) folding folded text
// changes nothing.
TEST(MemoSearch, FoldingIsOneForOneAndSettled) {
  std::vector<std::string> unsettled;
  for (char32_t cp = 0x80; cp <= 0x10FFFF && unsettled.size() < 10; ++cp) {
    if (cp >= 0xD800 && cp <= 0xDFFF) continue;
    std::string one;
    archive::AppendUtf8(&one, cp);
    const std::string folded = archive::FoldForSearch(one);
    const bool chinese = (cp >= 0x3400 && cp <= 0x9FFF) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                         (cp >= 0x20000 && cp <= 0x2FFFF);
    if (archive::CountCharacters(folded) != 1 ||
        (!chinese && archive::FoldForSearch(folded) != folded)) {
      unsettled.push_back(one + " -> " + folded);
    }
  }
  EXPECT_EQ(unsettled, std::vector<std::string>{});
  EXPECT_EQ(archive::FoldForSearch("ẞßİKＺ　ｶΣς"), "ßßİkz カσσ");
}

TEST(MemoSearch, RefusesWhatIsNotAMemoStore) {
  ScratchDir dir;
  std::string error;
  EXPECT_EQ(archive::MemoSearch::Open(dir / "missing.edb", &error), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(fs::exists(dir / "missing.edb"));
  Sql(dir / "other.db", "CREATE TABLE records(id INTEGER PRIMARY KEY, x)");
  EXPECT_EQ(archive::MemoSearch::Open(dir / "other.db", &error), nullptr);
  EXPECT_NE(error.find("不是本程序的数据文件"), std::string::npos) << error;
}

}  // namespace
