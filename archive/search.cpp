#include "archive/search.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <set>
#include <thread>
#include <unordered_set>

#include "archive/fold.h"
#include "archive/memo_db.h"
#include "archive/search_text.h"
#include "util/store_schema.h"
#include "util/text.h"

namespace archive {
namespace {

// The store's own objects (util/store_schema.cpp), every record pending.
const std::string kSchema = std::string(storeschema::kSearchSchemaSql) +
                            "INSERT INTO search_pending(id) SELECT id FROM records;";

// Objects a whole index has; one missing (a trigger dropped by hand, a
// half-copied file) means changes may have gone unseen.
constexpr const char* kObjects[] = {
    "search_state", "search_pending",        "search_folded",         "search_folded_days",
    "search_index", "search_records_insert", "search_records_update", "search_records_delete"};

// A write transaction of the index gives other connections' saves a turn
// after about this long (the program's own announced saves get it at once).
constexpr auto kBatchTime = std::chrono::milliseconds(50);
// Memos folded between two looks at the program's waiting saves.
constexpr int kChunk = 32;

}  // namespace

struct MemoSearch::Impl {
  Db owner;
  sqlite3* db = nullptr;
  bool checked = false;  // structure and counts looked at on this connection
  // Search objects the program did not make were found when it opened.
  bool stale = false;
  // The store takes no writes (a read-only file or folder, a full disk): the
  // folded text is kept in a temporary table of this connection and every
  // query scans it.
  bool scanOnly = false;

  bool InTransaction() const { return !sqlite3_get_autocommit(db); }
  void Rollback() {
    if (InTransaction()) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }

  // Whether every object is there and folded the way this build folds.
  bool IndexUsable(bool* usable, std::string* error) {
    if (stale) {
      *usable = false;
      return true;
    }
    Statement s = Prepare(
        db, "SELECT name FROM sqlite_master WHERE name LIKE 'search\\_%' ESCAPE '\\'", error);
    if (!s) return false;
    std::set<std::string> names;
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) names.insert(Column(s.get(), 0));
    if (rc != SQLITE_DONE) {
      *error = Reason(db, rc);
      return false;
    }
    *usable = true;
    for (const char* name : kObjects) *usable = *usable && names.count(name) > 0;
    if (!*usable) return true;
    Statement state = Prepare(db, "SELECT value FROM search_state WHERE key = 'fold'", error);
    if (!state) return false;
    rc = sqlite3_step(state.get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
      *error = Reason(db, rc);
      return false;
    }
    *usable = rc == SQLITE_ROW && Column(state.get(), 0) == FoldSignature();
    return true;
  }

  // Drops whatever index there is and starts a new one: every record is
  // pending, and Drain folds them in batches.
  bool Rebuild(std::string* error) {
    std::fprintf(stderr, "tamsivo: building the search index\n");
    if (!Exec(db, "BEGIN IMMEDIATE", error)) return false;
    bool ok = storeschema::DropSearchObjects(db, error) && Exec(db, kSchema.c_str(), error);
    if (ok) {
      Statement s = Prepare(db, "INSERT INTO search_state(key, value) VALUES('fold', ?1)", error);
      ok = s != nullptr;
      if (ok) {
        BindText(s.get(), 1, FoldSignature());
        const int rc = sqlite3_step(s.get());
        if (rc != SQLITE_DONE) {
          *error = Reason(db, rc);
          ok = false;
        }
      }
    }
    if (ok) ok = Exec(db, "COMMIT", error);
    if (!ok) Rollback();
    if (ok) stale = false;
    return ok;
  }

  // Runs a query that gives one row and hands the row to `read`.
  template <typename Read>
  bool OneRow(std::string_view sql, std::string* error, Read read) {
    Statement s = Prepare(db, sql, error);
    if (!s) return false;
    const int rc = sqlite3_step(s.get());
    if (rc != SQLITE_ROW) {
      *error = Reason(db, rc);
      return false;
    }
    read(s.get());
    return true;
  }

  // Whether the triggers noted changes the index has not taken in yet.
  bool Pending(bool* any, std::string* error) {
    return OneRow("SELECT EXISTS(SELECT 1 FROM search_pending)", error,
                  [&](sqlite3_stmt* s) { *any = sqlite3_column_int(s, 0) != 0; });
  }

  // Folds pending records into the index, one short transaction at a time;
  // takes no write lock when there is nothing to do, and none while one of
  // the program's saves waits.
  bool Drain(std::string* error, const std::atomic<bool>* stop = nullptr,
             const std::atomic<int>* savesWaiting = nullptr) {
    for (bool more = true; more;) {
      while (savesWaiting && savesWaiting->load() > 0 && !(stop && stop->load())) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      if (stop && stop->load()) {
        *error = "stopped";
        return false;
      }
      bool any = false;
      if (!Pending(&any, error)) return false;
      if (!any) return true;
      if (!Exec(db, "BEGIN IMMEDIATE", error)) return false;
      if (!DrainBatch(&more, savesWaiting, error) || !Exec(db, "COMMIT", error)) {
        Rollback();
        return false;
      }
    }
    return true;
  }

  bool Step(sqlite3_stmt* s, std::string* error) {
    const int rc = sqlite3_step(s);
    sqlite3_reset(s);
    if (rc == SQLITE_DONE || rc == SQLITE_ROW) return true;
    *error = Reason(db, rc);
    return false;
  }

  bool DrainBatch(bool* more, const std::atomic<int>* savesWaiting, std::string* error) {
    const auto until = std::chrono::steady_clock::now() + kBatchTime;
    const auto saveWaits = [savesWaiting] { return savesWaiting && savesWaiting->load() > 0; };
    Statement pending = Prepare(
        db, "SELECT id FROM search_pending ORDER BY id LIMIT " + std::to_string(kChunk), error);
    Statement oldDay = Prepare(db, "SELECT day FROM search_folded WHERE id = ?1", error);
    Statement newDay =
        Prepare(db, "SELECT " + std::string(kDayExpr) + " FROM records WHERE id = ?1", error);
    Statement sameDay = Prepare(
        db, "SELECT id FROM records WHERE " + std::string(kDayExpr) + " = ?1 ORDER BY id", error);
    Statement indexed = Prepare(db, "SELECT folded FROM search_folded WHERE id = ?1", error);
    Statement unindex = Prepare(
        db, "INSERT INTO search_index(search_index, rowid, folded) VALUES('delete', ?1, ?2)",
        error);
    Statement forget = Prepare(db, "DELETE FROM search_folded WHERE id = ?1", error);
    Statement add =
        Prepare(db, "INSERT INTO search_folded(id, day, folded) VALUES(?1, ?2, ?3)", error);
    Statement addIndex =
        Prepare(db, "INSERT INTO search_index(rowid, folded) VALUES(?1, ?2)", error);
    Statement text = Prepare(db, R"(SELECT "事情" FROM records WHERE id = ?1)", error);
    Statement done = Prepare(db, "DELETE FROM search_pending WHERE id = ?1", error);
    if (!pending || !oldDay || !newDay || !sameDay || !indexed || !unindex || !forget || !add ||
        !addIndex || !text || !done) {
      return false;
    }
    *more = true;
    while (*more && std::chrono::steady_clock::now() < until && !saveWaits()) {
      std::vector<sqlite3_int64> ids;
      int rc;
      while ((rc = sqlite3_step(pending.get())) == SQLITE_ROW) {
        ids.push_back(sqlite3_column_int64(pending.get(), 0));
      }
      sqlite3_reset(pending.get());
      if (rc != SQLITE_DONE) {
        *error = Reason(db, rc);
        return false;
      }
      *more = !ids.empty();
      // A change can move which record a day shows: every day an id was
      // indexed under or now belongs to is worked out again whole.
      std::set<double> days;
      for (sqlite3_int64 id : ids) {
        for (sqlite3_stmt* s : {oldDay.get(), newDay.get()}) {
          sqlite3_bind_int64(s, 1, id);
          if (sqlite3_step(s) == SQLITE_ROW && sqlite3_column_type(s, 0) != SQLITE_NULL) {
            days.insert(sqlite3_column_double(s, 0));
          }
          sqlite3_reset(s);
        }
      }
      std::unordered_set<sqlite3_int64> stale(ids.begin(), ids.end());
      std::vector<std::pair<double, sqlite3_int64>> shown;
      for (double day : days) {
        sqlite3_bind_double(sameDay.get(), 1, day);
        bool first = true;
        while ((rc = sqlite3_step(sameDay.get())) == SQLITE_ROW) {
          const sqlite3_int64 id = sqlite3_column_int64(sameDay.get(), 0);
          stale.insert(id);
          // The first record of a day is the one a day lookup finds.
          if (first) shown.emplace_back(day, id);
          first = false;
        }
        sqlite3_reset(sameDay.get());
        if (rc != SQLITE_DONE) {
          *error = Reason(db, rc);
          return false;
        }
      }
      for (sqlite3_int64 id : stale) {
        sqlite3_bind_int64(indexed.get(), 1, id);
        if (sqlite3_step(indexed.get()) == SQLITE_ROW) {
          const std::string old = Column(indexed.get(), 0);
          sqlite3_reset(indexed.get());
          sqlite3_bind_int64(unindex.get(), 1, id);
          BindText(unindex.get(), 2, old);
          sqlite3_bind_int64(forget.get(), 1, id);
          if (!Step(unindex.get(), error) || !Step(forget.get(), error)) return false;
        }
        sqlite3_reset(indexed.get());
      }
      for (const auto& [day, id] : shown) {
        sqlite3_bind_int64(text.get(), 1, id);
        std::string memo;
        if (sqlite3_step(text.get()) == SQLITE_ROW) memo = Column(text.get(), 0);
        sqlite3_reset(text.get());
        if (memo.empty()) continue;
        const std::string folded = FoldForSearch(memo);
        sqlite3_bind_int64(add.get(), 1, id);
        sqlite3_bind_double(add.get(), 2, day);
        BindText(add.get(), 3, folded);
        sqlite3_bind_int64(addIndex.get(), 1, id);
        BindText(addIndex.get(), 2, folded);
        if (!Step(add.get(), error) || !Step(addIndex.get(), error)) return false;
      }
      for (sqlite3_int64 id : ids) {
        sqlite3_bind_int64(done.get(), 1, id);
        if (!Step(done.get(), error)) return false;
      }
    }
    return true;
  }

  // The index holds one row per day that shows a memo with text, no more,
  // no fewer (cheap: the store's day index and the index's own table).
  bool CountsAgree(bool* agree, std::string* error) {
    return OneRow("SELECT (SELECT count(*) FROM search_folded), (SELECT count(*) FROM (SELECT " +
                      std::string(kDayExpr) +
                      R"( AS d, "事情" AS t, min(id) FROM records WHERE d IS NOT NULL GROUP BY d) )"
                      "WHERE length(t) > 0)",
                  error, [&](sqlite3_stmt* s) {
                    *agree = sqlite3_column_int64(s, 0) == sqlite3_column_int64(s, 1);
                  });
  }

  bool RefusesWrites() const {
    const int code = sqlite3_extended_errcode(db) & 0xff;
    return sqlite3_db_readonly(db, "main") == 1 || code == SQLITE_READONLY ||
           code == SQLITE_CANTOPEN || code == SQLITE_FULL;
  }

  // The first memo of each day, folded, in temp.search_folded (which hides
  // the store's own table from the queries of this connection).
  bool FoldIntoTemporaryTable(std::string* error) {
    if (!Exec(db,
              "PRAGMA temp_store = MEMORY; CREATE TEMP TABLE search_folded(id INTEGER PRIMARY "
              "KEY, day REAL NOT NULL, folded TEXT NOT NULL)",
              error)) {
      return false;
    }
    Statement read = Prepare(db,
                             "SELECT min(id), " + std::string(kDayExpr) +
                                 R"( AS d, "事情" FROM records WHERE d IS NOT NULL GROUP BY d)",
                             error);
    Statement add =
        Prepare(db, "INSERT INTO temp.search_folded(id, day, folded) VALUES(?1, ?2, ?3)", error);
    if (!read || !add) return false;
    int rc;
    while ((rc = sqlite3_step(read.get())) == SQLITE_ROW) {
      const std::string memo = Column(read.get(), 2);
      if (memo.empty()) continue;
      sqlite3_bind_int64(add.get(), 1, sqlite3_column_int64(read.get(), 0));
      sqlite3_bind_double(add.get(), 2, sqlite3_column_double(read.get(), 1));
      BindText(add.get(), 3, FoldForSearch(memo));
      if (!Step(add.get(), error)) return false;
    }
    if (rc != SQLITE_DONE) {
      *error = Reason(db, rc);
      return false;
    }
    return true;
  }

  bool Update(std::string* error, const std::atomic<bool>* stop = nullptr,
              const std::atomic<int>* savesWaiting = nullptr) {
    if (scanOnly) return true;
    if (UpdateIndex(error, stop, savesWaiting)) return true;
    if (!RefusesWrites() || (stop && stop->load())) return false;
    std::fprintf(stderr, "tamsivo: search index cannot be written (%s); scanning instead\n",
                 error->c_str());
    if (!FoldIntoTemporaryTable(error)) return false;
    scanOnly = true;
    error->clear();
    return true;
  }

  bool UpdateIndex(std::string* error, const std::atomic<bool>* stop,
                   const std::atomic<int>* savesWaiting) {
    if (!checked) {
      bool usable = false;
      if (!IndexUsable(&usable, error) || (!usable && !Rebuild(error))) return false;
    }
    if (!Drain(error, stop, savesWaiting)) return false;
    if (!checked) {
      bool agree = false;
      if (!CountsAgree(&agree, error)) return false;
      if (!agree) {
        std::fprintf(stderr, "tamsivo: search index does not match the store\n");
        if (!Rebuild(error) || !Drain(error, stop, savesWaiting)) return false;
      }
      checked = true;
    }
    return true;
  }

  // Matching (day, id) pairs, in the read transaction the caller holds.
  bool Match(const std::string& folded, std::vector<std::pair<double, sqlite3_int64>>* found,
             std::string* error) {
    const std::size_t chars = scanOnly ? 0 : CountCharacters(folded);
    // One trigram is the whole query: the index alone decides.
    const char* sql =
        chars < 3    ? "SELECT day, id FROM search_folded WHERE search_contains(folded, ?2)"
        : chars == 3 ? "SELECT f.day, f.id FROM search_index JOIN search_folded f INDEXED BY "
                       "search_folded_days ON f.id = search_index.rowid WHERE search_index MATCH ?1"
                     : "SELECT f.day, f.id FROM search_index JOIN search_folded f ON f.id = "
                       "search_index.rowid WHERE search_index MATCH ?1 AND "
                       "search_contains(f.folded, ?2)";
    Statement s = Prepare(db, sql, error);
    if (!s) return false;
    if (chars >= 3) BindText(s.get(), 1, TrigramQuery(folded));
    if (chars != 3) BindText(s.get(), 2, folded);
    int rc;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
      found->emplace_back(sqlite3_column_double(s.get(), 0), sqlite3_column_int64(s.get(), 1));
    }
    if (rc != SQLITE_DONE) {
      *error = Reason(db, rc);
      return false;
    }
    return true;
  }

  bool Excerpts(const std::string& folded, const std::vector<std::pair<double, sqlite3_int64>>& top,
                std::vector<SearchHit>* hits, std::string* error) {
    Statement s =
        Prepare(db,
                R"(SELECT f.folded, r."事情" FROM search_folded f JOIN records r ON r.id = f.id )"
                "WHERE f.id = ?1",
                error);
    if (!s) return false;
    for (const auto& [day, id] : top) {
      sqlite3_bind_int64(s.get(), 1, id);
      const int rc = sqlite3_step(s.get());
      if (rc != SQLITE_ROW) {
        *error = Reason(db, rc == SQLITE_DONE ? SQLITE_CORRUPT : rc);
        return false;
      }
      const std::string indexedText = Column(s.get(), 0);
      const std::string original = Column(s.get(), 1);
      sqlite3_reset(s.get());
      hits->push_back(MakeHit(day, indexedText, original, folded));
    }
    return true;
  }

  bool Search(std::string_view query, SearchResult* result, std::string* error, int limit) {
    *result = SearchResult{};
    // Blanks around the query are taken as typing, not as part of it.
    const std::string folded(text::Trim(FoldForSearch(query)));
    if (folded.empty()) return true;
    bool rebuilt = false;
    for (int attempt = 0;; ++attempt) {
      if (!Update(error)) return false;
      if (!Exec(db, "BEGIN", error)) return false;
      // Saves that came in since the update are folded in first, so the
      // answer is the store as it is now.
      bool behind = false;
      if (!scanOnly && !Pending(&behind, error)) {
        Rollback();
        return false;
      }
      if (behind && attempt < 3) {
        Rollback();
        continue;
      }
      std::vector<std::pair<double, sqlite3_int64>> found;
      const bool ok = Match(folded, &found, error);
      if (ok) {
        const auto newer = [](const auto& a, const auto& b) {
          return a.first != b.first ? a.first > b.first : a.second < b.second;
        };
        result->total = static_cast<int>(found.size());
        const std::size_t keep =
            std::min(found.size(), static_cast<std::size_t>(std::max(limit, 0)));
        std::partial_sort(found.begin(), found.begin() + keep, found.end(), newer);
        found.resize(keep);
      }
      const bool excerpts = ok && Excerpts(folded, found, &result->hits, error);
      const int code = sqlite3_extended_errcode(db);
      Rollback();
      if (excerpts) return true;
      // A damaged index is rebuilt from the records once; anything else is
      // reported.
      if (rebuilt || (code & 0xff) != SQLITE_CORRUPT) return false;
      *result = SearchResult{};
      rebuilt = true;
      if (!Rebuild(error)) return false;
      error->clear();
    }
  }
};

bool DropSearchIndex(sqlite3* db, std::string* error) {
  return storeschema::DropSearchObjects(db, error);
}

MemoSearch::MemoSearch(sqlite3* db) : impl_(std::make_unique<Impl>()) {
  impl_->owner.reset(db);
  impl_->db = db;
}

MemoSearch::~MemoSearch() {
  if (impl_) impl_->Rollback();
}

std::unique_ptr<MemoSearch> MemoSearch::Open(const std::string& storeFile, std::string* error) {
  Db db = OpenDb(storeFile, false, error);
  if (!db) return nullptr;
  bool stale = false;
  if (!storeschema::AcceptSchema(db.get(), &stale, error)) return nullptr;
  // Full syncs, as the program's own connection; reads straight from the
  // page cache.
  (void)Exec(db.get(), "PRAGMA synchronous = FULL; PRAGMA mmap_size = 268435456", nullptr);
  sqlite3_create_function(db.get(), "search_contains", 2,
                          SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                          ContainsFunction, nullptr, nullptr);
  Statement s = Prepare(db.get(),
                        "SELECT count(*) FROM pragma_table_info('records') WHERE name IN "
                        "('id', '日期', '事情')",
                        error);
  if (!s) return nullptr;
  const int rc = sqlite3_step(s.get());
  if (rc != SQLITE_ROW) {
    *error = Reason(db.get(), rc);
    return nullptr;
  }
  if (sqlite3_column_int(s.get(), 0) != 3) {
    *error = "不是本程序的数据文件（记录表不符）";
    return nullptr;
  }
  s.reset();
  auto search = std::unique_ptr<MemoSearch>(new MemoSearch(db.release()));
  search->impl_->stale = stale;
  return search;
}

bool MemoSearch::Search(std::string_view query, SearchResult* result, std::string* error,
                        int limit) {
  std::string ignored;
  return impl_->Search(query, result, error ? error : &ignored, limit);
}

bool MemoSearch::Update(std::string* error, const std::atomic<bool>* stop,
                        const std::atomic<int>* savesWaiting) {
  std::string ignored;
  return impl_->Update(error ? error : &ignored, stop, savesWaiting);
}

}  // namespace archive
