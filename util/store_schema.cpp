#include "util/store_schema.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <set>
#include <tuple>

namespace storeschema {
namespace {

// The fields table's kind of a day column (the runtime's date-time field).
constexpr int kDateKind = 8;
// More fields than any store of the program has: the file is not ours.
constexpr int kMaxFields = 64;

constexpr const char* kFieldsTableSql =
    "CREATE TABLE fields(position INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE,"
    " kind INTEGER NOT NULL, width INTEGER NOT NULL)";

// type, name, table, SQL ("\0" for none: autoindexes have none).
using Row = std::tuple<std::string, std::string, std::string, std::string>;

std::string Text(sqlite3_stmt* s, int i) {
  const void* p = sqlite3_column_blob(s, i);
  if (sqlite3_column_type(s, i) == SQLITE_NULL) return std::string(1, '\0');
  return p ? std::string(static_cast<const char*>(p), sqlite3_column_bytes(s, i)) : std::string();
}

void Fail(std::string* error, std::string text) {
  if (error) *error = std::move(text);
}

// SQLite's words for whoever looks into it; the user gets `reason`.
bool SqlFailed(sqlite3* db, int rc, std::string* error, std::string_view reason) {
  std::fprintf(stderr, "tamsivo: schema check: %s (%d)\n", db ? sqlite3_errmsg(db) : "", rc);
  const int primary = rc & 0xff;
  if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) {
    Fail(error, std::string(kBusyReason));
  } else if (primary == SQLITE_NOTADB) {
    Fail(error, std::string(kNotOurs));
  } else if (primary == SQLITE_INTERRUPT) {
    Fail(error, std::string(kNotOurs) + "（检查文件结构超时）");
  } else {
    Fail(error, std::string(reason));
  }
  return false;
}

bool ReadRows(sqlite3* db, std::vector<Row>* rows, std::string* error) {
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v2(db, "SELECT type, name, tbl_name, sql FROM sqlite_master", -1, &s,
                              nullptr);
  while (rc == SQLITE_OK && (rc = sqlite3_step(s)) == SQLITE_ROW) {
    rc = SQLITE_OK;
    rows->emplace_back(Text(s, 0), Text(s, 1), Text(s, 2), Text(s, 3));
  }
  sqlite3_finalize(s);
  if (rc == SQLITE_DONE) return true;
  return SqlFailed(db, rc, error, "数据库文件已损坏（无法读取文件结构）");
}

bool ReadColumns(sqlite3* db, std::vector<Column>* columns, std::string* error) {
  sqlite3_stmt* s = nullptr;
  int rc = sqlite3_prepare_v2(db, "SELECT name, kind FROM fields ORDER BY position LIMIT ?1", -1,
                              &s, nullptr);
  if (rc == SQLITE_OK) sqlite3_bind_int(s, 1, kMaxFields + 1);
  while (rc == SQLITE_OK && (rc = sqlite3_step(s)) == SQLITE_ROW) {
    rc = SQLITE_OK;
    columns->push_back({Text(s, 0), sqlite3_column_int(s, 1) == kDateKind});
  }
  sqlite3_finalize(s);
  if (rc != SQLITE_DONE) return SqlFailed(db, rc, error, "数据库文件已损坏（无法读取字段表）");
  if (columns->empty() || columns->size() > static_cast<std::size_t>(kMaxFields)) {
    Fail(error, std::string(kNotOurs) + "（字段表内容不符）");
    return false;
  }
  return true;
}

// The rows SQLite writes for `sql`, run in `db` after what it already holds.
bool Build(sqlite3* db, const std::string& sql, std::set<Row>* rows) {
  std::vector<Row> before, after;
  if (!ReadRows(db, &before, nullptr) ||
      sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK ||
      !ReadRows(db, &after, nullptr)) {
    return false;
  }
  const std::set<Row> old(before.begin(), before.end());
  for (Row& r : after)
    if (!old.count(r)) rows->insert(std::move(r));
  return true;
}

bool SearchName(const std::string& name) {
  return name.size() > 7 && sqlite3_strnicmp(name.c_str(), "search_", 7) == 0;
}

std::string Kind(const std::string& type) {
  if (type == "table") return "表";
  if (type == "index") return "索引";
  if (type == "view") return "视图";
  if (type == "trigger") return "触发器";
  return type;
}

}  // namespace

std::string Quote(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

std::string SqlReal(double v) {
  if (std::isinf(v)) return v > 0 ? "9e999" : "-9e999";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  std::string s = buf;
  if (s.find_first_of(".e") == std::string::npos) s += ".0";
  return s;
}

std::string ClampExpr(std::string_view column, double lo, double hi) {
  return "min(max(" + Quote(column) + ", " + SqlReal(lo) + "), " + SqlReal(hi) + ")";
}

std::string RecordsSchemaSql(const std::vector<Column>& columns) {
  std::string schema =
      std::string(kFieldsTableSql) + ";\nCREATE TABLE records(id INTEGER PRIMARY KEY";
  for (const Column& c : columns) schema += ", " + Quote(c.name) + (c.date ? " REAL" : " BLOB");
  schema += ");\n";
  // The index expression matches the clamped lookups word for word, so a
  // lookup is an index seek at any size.
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i].date) {
      schema += "CREATE INDEX records_clamped_" + std::to_string(i + 1) + " ON records(" +
                ClampExpr(columns[i].name, kMinDay, kMaxDay) + ", id);\n";
    }
  }
  return schema;
}

// search_folded holds the folded text of the memo each day shows,
// search_index its trigrams (external content, no positions),
// search_folded_days the day of each indexed id without its text,
// search_pending the ids the triggers saw change. The triggers are plain SQL
// on our own tables, so the runtime's connection runs them unchanged.
const char kSearchSchemaSql[] = R"sql(
CREATE TABLE search_state(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE search_pending(id INTEGER PRIMARY KEY);
CREATE TABLE search_folded(id INTEGER PRIMARY KEY, day REAL NOT NULL, folded TEXT NOT NULL);
CREATE INDEX search_folded_days ON search_folded(id, day);
CREATE VIRTUAL TABLE search_index USING fts5(folded, content='search_folded',
  content_rowid='id', tokenize='trigram case_sensitive 1', detail=none, columnsize=0);
CREATE TRIGGER search_records_insert AFTER INSERT ON records BEGIN
  INSERT OR IGNORE INTO search_pending(id) VALUES(NEW.id);
END;
CREATE TRIGGER search_records_update AFTER UPDATE ON records BEGIN
  INSERT OR IGNORE INTO search_pending(id) VALUES(OLD.id);
  INSERT OR IGNORE INTO search_pending(id) VALUES(NEW.id);
END;
CREATE TRIGGER search_records_delete AFTER DELETE ON records BEGIN
  INSERT OR IGNORE INTO search_pending(id) VALUES(OLD.id);
END;
)sql";

// sync_pending holds the days the triggers saw change (clamped as the day
// index clamps), and days whose server copy changed and await merging.
const char kSyncSchemaSql[] = R"sql(
CREATE TABLE sync_state(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE sync_pending(day REAL PRIMARY KEY);
CREATE TABLE sync_days(day REAL PRIMARY KEY, agreed BLOB NOT NULL);
CREATE TABLE sync_remote(href TEXT PRIMARY KEY, etag TEXT NOT NULL, day REAL NOT NULL,
  ours INTEGER NOT NULL, modified INTEGER NOT NULL, memo BLOB NOT NULL);
CREATE INDEX sync_remote_days ON sync_remote(day);
CREATE TRIGGER sync_records_insert AFTER INSERT ON records BEGIN
  INSERT OR IGNORE INTO sync_pending(day) VALUES(min(max(NEW."日期", -657434.0), 2958465.0));
END;
CREATE TRIGGER sync_records_update AFTER UPDATE ON records BEGIN
  INSERT OR IGNORE INTO sync_pending(day) VALUES(min(max(OLD."日期", -657434.0), 2958465.0));
  INSERT OR IGNORE INTO sync_pending(day) VALUES(min(max(NEW."日期", -657434.0), 2958465.0));
END;
CREATE TRIGGER sync_records_delete AFTER DELETE ON records BEGIN
  INSERT OR IGNORE INTO sync_pending(day) VALUES(min(max(OLD."日期", -657434.0), 2958465.0));
END;
)sql";

// Plain tables, no triggers: a store of an earlier build opens without them
// and gets them when first written. reminders_shown holds (anniversary id,
// day number of the occurrence); id 0 is the daily memo reminder.
const char kAnniversarySchemaSql[] = R"sql(
CREATE TABLE anniversaries(id INTEGER PRIMARY KEY, name TEXT NOT NULL,
  lunar INTEGER NOT NULL, month INTEGER NOT NULL, day INTEGER NOT NULL,
  leap INTEGER NOT NULL, both_months INTEGER NOT NULL, start_year INTEGER NOT NULL,
  remind_days INTEGER NOT NULL, remind_minute INTEGER NOT NULL);
CREATE TABLE reminders_shown(anniversary INTEGER NOT NULL, day INTEGER NOT NULL,
  PRIMARY KEY(anniversary, day)) WITHOUT ROWID;
)sql";

void Harden(sqlite3* db) {
  if (!db) return;
  (void)sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  (void)sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  (void)sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
}

TimeLimit::TimeLimit(sqlite3* db, int ms) : db_(db) {
  deadlineNs_ =
      std::chrono::duration_cast<std::chrono::nanoseconds>(
          std::chrono::steady_clock::now().time_since_epoch() + std::chrono::milliseconds(ms))
          .count();
  if (db_) sqlite3_progress_handler(db_, 1000, &TimeLimit::Tick, this);
}

TimeLimit::~TimeLimit() {
  if (db_) sqlite3_progress_handler(db_, 0, nullptr, nullptr);
}

int TimeLimit::Tick(void* self) {
  auto* limit = static_cast<TimeLimit*>(self);
  const long long now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
  if (now > limit->deadlineNs_) limit->expired_ = true;
  return limit->expired_ ? 1 : 0;
}

bool AcceptSchema(sqlite3* db, bool* staleSearch, std::string* error) {
  *staleSearch = false;
  const TimeLimit limit(db, kSchemaCheckMs);
  // One snapshot for the objects and the field list.
  struct Snapshot {
    sqlite3* db;
    bool began;
    ~Snapshot() {
      if (began) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
  } snapshot{db, sqlite3_get_autocommit(db) != 0};
  if (snapshot.began && sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) != SQLITE_OK) {
    snapshot.began = false;
    return SqlFailed(db, sqlite3_errcode(db), error, "无法读取数据文件");
  }
  std::vector<Row> rows;
  if (!ReadRows(db, &rows, error)) return false;
  const auto find = [&](const std::string& name) -> const Row* {
    for (const Row& r : rows)
      if (sqlite3_stricmp(std::get<1>(r).c_str(), name.c_str()) == 0) return &r;
    return nullptr;
  };
  const Row* fields = find("fields");
  if (!fields) {
    Fail(error, std::string(kNotOurs) + "（缺少字段表）");
    return false;
  }
  if (*fields != Row{"table", "fields", "fields", kFieldsTableSql}) {
    Fail(error, std::string(kNotOurs) + "（字段表不符）");
    return false;
  }
  std::vector<Column> columns;
  if (!ReadColumns(db, &columns, error)) return false;

  // The same objects made in memory, as this build's SQLite writes them.
  sqlite3* memory = nullptr;
  std::set<Row> ours, search;
  const bool built =
      sqlite3_open_v2(":memory:", &memory, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) ==
          SQLITE_OK &&
      Build(memory, RecordsSchemaSql(columns), &ours) &&
      Build(memory, kAnniversarySchemaSql, &ours) && Build(memory, kSearchSchemaSql, &search);
  // The sync objects name the day column; a store without one has none.
  if (built) (void)Build(memory, kSyncSchemaSql, &ours);
  sqlite3_close_v2(memory);
  if (!built) {
    Fail(error, std::string(kNotOurs) + "（字段表内容不符）");
    return false;
  }
  const Row* records = find("records");
  if (!records || !ours.count(*records)) {
    Fail(error, std::string(kNotOurs) + (records ? "（记录表不符）" : "（缺少记录表）"));
    return false;
  }
  std::vector<const Row*> foreign;
  for (const Row& r : rows) {
    if (ours.count(r) || search.count(r)) continue;
    if (SearchName(std::get<1>(r))) {
      *staleSearch = true;
    } else {
      foreign.push_back(&r);
    }
  }
  if (foreign.empty()) return true;
  std::string list;
  for (std::size_t i = 0; i < foreign.size() && i < 3; ++i) {
    list += (i ? "、" : "") + Kind(std::get<0>(*foreign[i])) + "“" + std::get<1>(*foreign[i]) + "”";
  }
  if (foreign.size() > 3) list += "等 " + std::to_string(foreign.size()) + " 个";
  for (const Row* r : foreign) {
    std::fprintf(stderr, "tamsivo: not made by the program: %s %s: %s\n", std::get<0>(*r).c_str(),
                 std::get<1>(*r).c_str(), std::get<3>(*r).c_str());
  }
  Fail(error, std::string(kForeignObjects) + "（" + list + "），为安全起见不能使用");
  return false;
}

bool DropSearchObjects(sqlite3* db, std::string* error) {
  // Triggers and views first (they name the tables), then virtual tables,
  // which take their shadow tables along, then indexes and the rest.
  for (const char* type : {"trigger", "view", "virtual", "index", "table"}) {
    const std::string kind = type == std::string("virtual") ? "table" : type;
    std::string where = "type = '" + kind + "' AND name LIKE 'search\\_%' ESCAPE '\\'";
    if (kind == "table") {
      where += std::string(" AND sql ") + (type == kind ? "NOT " : "") + "LIKE 'CREATE VIRTUAL%'";
    }
    sqlite3_stmt* s = nullptr;
    std::vector<std::string> names;
    int rc = sqlite3_prepare_v2(db, ("SELECT name FROM sqlite_master WHERE " + where).c_str(), -1,
                                &s, nullptr);
    while (rc == SQLITE_OK && (rc = sqlite3_step(s)) == SQLITE_ROW) {
      rc = SQLITE_OK;
      names.push_back(Text(s, 0));
    }
    sqlite3_finalize(s);
    if (rc != SQLITE_DONE) return SqlFailed(db, rc, error, "无法删除旧的搜索索引");
    for (const std::string& name : names) {
      const std::string sql = "DROP " + kind + " IF EXISTS " + Quote(name);
      rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
      if (rc != SQLITE_OK) return SqlFailed(db, rc, error, "无法删除旧的搜索索引");
    }
  }
  return true;
}

bool LockedByAnotherProcess(const std::string& file) {
  // SQLite's lock bytes sit at 1 GiB; a write-ahead-log connection also
  // locks the -shm file.
  constexpr off_t kPendingByte = 0x40000000;
  const auto held = [](const std::string& path, off_t start, off_t length) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = start;
    probe.l_len = length;
    const bool locked = ::fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    ::close(fd);
    return locked;
  };
  return held(file, kPendingByte, 512) || held(file + "-shm", 0, 0);
}

}  // namespace storeschema
