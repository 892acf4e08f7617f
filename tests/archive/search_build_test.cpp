// The first index build on a large store beside the program's saves: each
// save the program announces gets the store at once, however long the build.
#include <atomic>
#include <thread>

#include "archive/search.h"
#include "tests/archive/archive_test_util.h"
#include "tests/support/test_program.h"

using namespace archive_test;

namespace {

TEST(SearchIndexBuild, AnnouncedSavesGetTheStoreWhileItBuilds) {
  ScratchDir dir;
  MemoFile store(dir / "事件数据.edb");
  store.Close();
  // Enough memos for a build of many transactions.
  Sql(store.path(),
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 60000) "
      R"(INSERT INTO records("日期", "事情") SELECT 20000 + i, CAST('第' || i || )"
      "'天：上午开会讨论预算' || (i * 7919 % 10007) || '，下午去银行办事' || hex(i * i) || "
      "'，晚上和朋友聚会吃饭，回家读书写报告。' AS BLOB) "
      "FROM n");
  // A save that waited for the build's transactions in turn would run out
  // of this long before the build ends; one that has the store at once
  // does not come near it.
  TableStore::SetBusyTimeoutMs(1000);
  store.Reopen();
  TableStore::SetBusyTimeoutMs(5000);

  std::atomic<int> waiting{0};
  std::atomic<bool> done{false};
  std::string buildError;
  std::thread build([&] {
    auto search = archive::MemoSearch::Open(store.path(), &buildError);
    if (search && search->Update(&buildError, nullptr, &waiting)) buildError.clear();
    done = true;
  });
  int saves = 0;
  for (; saves < 6 && !done; ++saves) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ++waiting;
    store.Put(20000 + 1 + saves, "改过的第 " + std::to_string(saves) + " 篇");
    --waiting;
  }
  const bool duringBuild = !done;
  build.join();
  EXPECT_TRUE(buildError.empty()) << buildError;
  EXPECT_TRUE(duringBuild) << "the build ended before the saves did; the store is too small";

  // What was saved meanwhile is found, and the index is whole.
  std::string error;
  auto search = archive::MemoSearch::Open(store.path(), &error);
  ASSERT_NE(search, nullptr) << error;
  archive::SearchResult result;
  ASSERT_TRUE(search->Search("改过的", &result, &error)) << error;
  EXPECT_EQ(result.total, saves);
  ASSERT_TRUE(search->Search("银行办事", &result, &error)) << error;
  EXPECT_EQ(result.total, 60000 - saves);
}

}  // namespace
