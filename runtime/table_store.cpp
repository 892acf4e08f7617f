#include "runtime/table_store.h"

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <optional>
#include <unordered_map>

#include "base/datetime.h"
#include "runtime/sqlite_util.h"
#include "runtime/store_check.h"
#include "runtime/table_file.h"

using namespace sqlite;

namespace {

// Resets a statement when it goes out of use so no read transaction lingers.
struct StmtUse {
  sqlite3_stmt* s;
  ~StmtUse() {
    if (s) {
      sqlite3_reset(s);
      sqlite3_clear_bindings(s);
    }
  }
};

void BindValue(sqlite3_stmt* s, int index, const rt::Value& v) {
  if (const double* d = std::get_if<double>(&v)) {
    sqlite3_bind_double(s, index, *d);
  } else if (const std::string* t = std::get_if<std::string>(&v)) {
    // data() is never null, so an empty text stays an empty blob, not NULL.
    sqlite3_bind_blob64(s, index, t->data(), t->size(), SQLITE_STATIC);
  } else {
    sqlite3_bind_null(s, index);
  }
}

bool ValueFits(const Field& f, const rt::Value& v, std::string* error) {
  if (std::holds_alternative<std::monostate>(v)) return true;
  if (f.kind == rt::kDateTimeField && !std::holds_alternative<double>(v)) {
    SetError(error, "字段“" + f.name + "”只能存日期时间");
    return false;
  }
  if (f.kind == rt::kLongTextField && !std::holds_alternative<std::string>(v)) {
    SetError(error, "字段“" + f.name + "”只能存文本");
    return false;
  }
  return true;
}

}  // namespace

struct TableStore::Impl {
  // Declared first so it goes last: the check thread is stopped before the
  // connection closes.
  std::unique_ptr<BackgroundCheck> check;
  Db owner;
  sqlite3* db = nullptr;
  std::vector<Field> fields;
  std::optional<sqlite3_int64> current;
  // Prepared once and kept: the statements live as long as the connection.
  std::unordered_map<std::string, Statement> statements;

  ~Impl() {
    statements.clear();
    if (db && !sqlite3_get_autocommit(db)) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
  }

  sqlite3_stmt* Prepare(const std::string& sql, std::string* error = nullptr) {
    auto it = statements.find(sql);
    if (it != statements.end()) return it->second.get();
    sqlite3_stmt* s = nullptr;
    int rc = sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
    Statement owned(s);
    if (rc != SQLITE_OK) {
      SetError(error, Describe(db, rc));
      return nullptr;
    }
    return statements.emplace(sql, std::move(owned)).first->second.get();
  }

  const Field* FindField(std::string_view name) const {
    for (const Field& f : fields)
      if (f.name == name) return &f;
    return nullptr;
  }

  bool InTransaction() const { return !sqlite3_get_autocommit(db); }

  // The schema as it was when its objects were last found to be the
  // program's own; any change (another program adding a trigger while this
  // one runs) is looked at again before a write.
  int schemaVersion = -1;

  int SchemaVersion() {
    sqlite3_stmt* s = Prepare("PRAGMA schema_version");
    if (!s) return -2;
    StmtUse use{s};
    return sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int(s, 0) : -2;
  }

  bool AcceptObjects(bool* staleSearch, std::string* error) {
    if (!storeschema::AcceptSchema(db, staleSearch, error)) return false;
    schemaVersion = SchemaVersion();
    return true;
  }

  // In the write transaction, so nothing changes between the look and the
  // write.
  bool StillOurs(std::string* error) {
    if (SchemaVersion() == schemaVersion) return true;
    bool stale = false;
    if (!AcceptObjects(&stale, error)) return false;
    if (!stale) return true;
    SetError(error, std::string(storeschema::kForeignObjects) + "（搜索索引），为安全起见不能写入");
    return false;
  }

  // Nothing is written before the whole-file check has passed.
  bool Writable(std::string* error) {
    if (!check) return true;
    std::string reason;
    if (check->Await(&reason) == rt::StoreCheck::kPassed) return true;
    SetError(error, reason);
    return false;
  }

  // Runs one write, in its own transaction unless the caller opened one.
  template <typename Body>
  bool WriteTransaction(std::string* error, Body body) {
    if (InTransaction()) return body();
    if (!Exec(db, "BEGIN IMMEDIATE", error)) return false;
    if (!StillOurs(error) || !body()) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      return false;
    }
    if (!Exec(db, "COMMIT", error)) {
      if (InTransaction()) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      return false;
    }
    return true;
  }
};

void TableStore::SetBusyTimeoutMs(int ms) { sqlite::SetBusyTimeoutMs(ms); }

void TableStore::SetPageLimitForTesting(int pages) { SetPageLimit(pages); }

bool TableStore::Create(const std::string& file, const std::vector<rt::FieldDesc>& fields,
                        std::string* error) {
  return CreateStoreFile(file, fields, error);
}

std::unique_ptr<TableStore> TableStore::Open(const std::string& file, std::string* error,
                                             Checking checking, std::function<void()> onVerdict) {
  StoreFileCheck check(file);
  // A file of an earlier build is converted when it opens, which writes: it
  // is checked whole first.
  bool later = checking == Checking::kInBackground && !check.WriteAheadLog();
  if (!(later ? check.PassesStructure(error) : check.Passes(error))) return nullptr;
  // Search objects not our own are dropped, which writes too.
  if (later && check.StaleSearch()) {
    later = false;
    if (!check.Passes(error)) return nullptr;
  }

  std::unique_ptr<TableStore> store(new TableStore);
  store->impl_ = std::make_unique<Impl>();
  Impl& im = *store->impl_;
  int rc = 0;
  im.owner = sqlite::Open(file, SQLITE_OPEN_READWRITE, &rc);
  im.db = im.owner.get();
  if (rc != SQLITE_OK) {
    SetError(error, Describe(im.db, rc));
    return nullptr;
  }
  // A rollback journal, not a write-ahead log: once a save has returned the
  // file alone holds it, so a copy of that file is a whole backup. Files of
  // earlier builds in WAL mode are converted here.
  if (!Exec(im.db, "PRAGMA journal_mode = DELETE; PRAGMA synchronous = FULL;", error)) {
    return nullptr;
  }
  if (PageLimit() > 0) {
    (void)Exec(im.db, "PRAGMA max_page_count = " + std::to_string(PageLimit()), nullptr);
  }
  // Checked again on the connection that writes: the file may have changed
  // since the check's own connection looked.
  bool staleSearch = false;
  if (!im.AcceptObjects(&staleSearch, error)) return nullptr;
  if (staleSearch && !later) {
    std::fprintf(stderr, "tamsivo: dropping search objects the program did not make\n");
    if (!im.WriteTransaction(error, [&] { return storeschema::DropSearchObjects(im.db, error); }) ||
        !im.AcceptObjects(&staleSearch, error)) {
      return nullptr;
    }
  }
  if (staleSearch) {
    SetError(error, std::string(storeschema::kForeignObjects) + "（搜索索引），为安全起见不能使用");
    return nullptr;
  }
  if (!ReadLayout(im.db, &im.fields, error)) return nullptr;
  store->First();
  check.Keep();
  // Leaves the start its disk for a moment; a write that comes first hurries it.
  if (later) im.check = std::make_unique<BackgroundCheck>(file, std::move(onVerdict), 300);
  return store;
}

rt::StoreCheck TableStore::Check(std::string* reason) {
  if (!impl_->check) return rt::StoreCheck::kPassed;
  return impl_->check->Peek(reason);
}

TableStore::~TableStore() = default;

bool TableStore::First() {
  Impl& im = *impl_;
  im.current.reset();
  sqlite3_stmt* s = im.Prepare("SELECT id FROM records ORDER BY id LIMIT 1");
  if (!s) return false;
  StmtUse use{s};
  if (sqlite3_step(s) != SQLITE_ROW) return false;
  im.current = sqlite3_column_int64(s, 0);
  return true;
}

bool TableStore::Find(const rt::ClampedEquals& cond) {
  Impl& im = *impl_;
  if (!im.current) return false;
  const Field* f = im.FindField(cond.field);
  if (!f || std::isnan(cond.lo) || std::isnan(cond.hi) || std::isnan(cond.value)) {
    im.current.reset();
    return false;
  }
  // With the bounds the index was built with this is an index seek; other
  // bounds still give the right answer by walking the records.
  sqlite3_stmt* s = im.Prepare("SELECT id FROM records WHERE id >= ?1 AND " +
                               ClampExpr(f->name, cond.lo, cond.hi) + " = ?2 ORDER BY id LIMIT 1");
  if (!s) {
    im.current.reset();
    return false;
  }
  StmtUse use{s};
  sqlite3_bind_int64(s, 1, *im.current);
  sqlite3_bind_double(s, 2, cond.value);
  if (sqlite3_step(s) != SQLITE_ROW) {
    im.current.reset();
    return false;
  }
  im.current = sqlite3_column_int64(s, 0);
  return true;
}

rt::Value TableStore::Read(std::string_view field) {
  Impl& im = *impl_;
  const Field* f = im.FindField(field);
  if (!im.current || !f) return std::monostate{};
  sqlite3_stmt* s = im.Prepare("SELECT " + Quote(f->name) + " FROM records WHERE id = ?1");
  if (!s) return std::monostate{};
  StmtUse use{s};
  sqlite3_bind_int64(s, 1, *im.current);
  if (sqlite3_step(s) != SQLITE_ROW) return std::monostate{};
  switch (sqlite3_column_type(s, 0)) {
    case SQLITE_INTEGER:
    case SQLITE_FLOAT:
      return sqlite3_column_double(s, 0);
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
      const void* p = sqlite3_column_blob(s, 0);
      int n = sqlite3_column_bytes(s, 0);
      return p ? std::string(static_cast<const char*>(p), n) : std::string();
    }
    default:
      return std::monostate{};
  }
}

bool TableStore::Write(std::string_view field, const rt::Value& value, std::string* error) {
  Impl& im = *impl_;
  const Field* f = im.FindField(field);
  if (!f) {
    SetError(error, "没有字段“" + std::string(field) + "”");
    return false;
  }
  if (!im.current) {
    SetError(error, "没有当前记录");
    return false;
  }
  if (!ValueFits(*f, value, error) || !im.Writable(error)) return false;
  return im.WriteTransaction(error, [&] {
    sqlite3_stmt* s =
        im.Prepare("UPDATE records SET " + Quote(f->name) + " = ?1 WHERE id = ?2", error);
    if (!s) return false;
    StmtUse use{s};
    BindValue(s, 1, value);
    sqlite3_bind_int64(s, 2, *im.current);
    int rc = sqlite3_step(s);
    if (rc != SQLITE_DONE) {
      SetError(error, Describe(im.db, rc));
      return false;
    }
    if (sqlite3_changes(im.db) != 1) {
      SetError(error, "当前记录已不存在");
      return false;
    }
    return true;
  });
}

bool TableStore::Append(const std::vector<rt::Value>& values, std::string* error) {
  Impl& im = *impl_;
  if (values.size() != im.fields.size()) {
    SetError(error, "字段数目不符");
    return false;
  }
  for (size_t i = 0; i < values.size(); ++i)
    if (!ValueFits(im.fields[i], values[i], error)) return false;
  if (!im.Writable(error)) return false;
  std::string sql = "INSERT INTO records(", params;
  for (size_t i = 0; i < im.fields.size(); ++i) {
    sql += (i ? ", " : "") + Quote(im.fields[i].name);
    params += (i ? ", ?" : "?");
  }
  sql += ") VALUES(" + params + ")";
  sqlite3_int64 id = 0;
  bool ok = im.WriteTransaction(error, [&] {
    sqlite3_stmt* s = im.Prepare(sql, error);
    if (!s) return false;
    StmtUse use{s};
    for (size_t i = 0; i < values.size(); ++i) BindValue(s, static_cast<int>(i + 1), values[i]);
    int rc = sqlite3_step(s);
    if (rc != SQLITE_DONE) {
      SetError(error, Describe(im.db, rc));
      return false;
    }
    id = sqlite3_last_insert_rowid(im.db);
    return true;
  });
  if (ok) im.current = id;
  return ok;
}

bool TableStore::Begin(std::string* error) {
  Impl& im = *impl_;
  if (!im.Writable(error)) return false;
  if (im.InTransaction()) {
    SetError(error, "事务已经开始");
    return false;
  }
  if (!Exec(im.db, "BEGIN IMMEDIATE", error)) return false;
  if (im.StillOurs(error)) return true;
  sqlite3_exec(im.db, "ROLLBACK", nullptr, nullptr, nullptr);
  return false;
}

bool TableStore::Commit(std::string* error) {
  Impl& im = *impl_;
  if (!im.InTransaction()) {
    SetError(error, "没有进行中的事务");
    return false;
  }
  if (Exec(im.db, "COMMIT", error)) return true;
  if (im.InTransaction()) sqlite3_exec(im.db, "ROLLBACK", nullptr, nullptr, nullptr);
  return false;
}

void TableStore::Rollback() {
  Impl& im = *impl_;
  if (im.InTransaction()) sqlite3_exec(im.db, "ROLLBACK", nullptr, nullptr, nullptr);
}

std::vector<rt::DayText> TableStore::DayTexts(std::string_view dayField, std::string_view textField,
                                              double from, double to, int startBytes) {
  return DayTextsWhere(dayField, textField, "BETWEEN ?2 AND ?3", {from, to}, startBytes);
}

std::vector<rt::DayText> TableStore::DayTextsOn(std::string_view dayField,
                                                std::string_view textField,
                                                const std::vector<double>& days, int startBytes) {
  if (days.empty() || days.size() > kMostDaysAtOnce) return {};
  // One statement, each day a lookup in the clamped index.
  std::string in = "IN (";
  for (size_t i = 0; i < days.size(); ++i) in += (i ? ", ?" : "?") + std::to_string(i + 2);
  return DayTextsWhere(dayField, textField, in + ")", days, startBytes);
}

std::vector<rt::DayText> TableStore::DayTextsWhere(std::string_view dayField,
                                                   std::string_view textField,
                                                   const std::string& condition,
                                                   const std::vector<double>& values,
                                                   int startBytes) {
  Impl& im = *impl_;
  std::vector<rt::DayText> days;
  const Field* day = im.FindField(dayField);
  const Field* text = im.FindField(textField);
  if (!day || !text || day->kind != rt::kDateTimeField) return days;
  std::string clamp = ClampExpr(day->name, kMinDate, kMaxDate);
  // A day counts by its first record, the one a lookup finds (SQLite takes
  // the bare column of the min(id) row).
  // The text is a blob, so substr counts bytes.
  sqlite3_stmt* s = im.Prepare("SELECT d, substr(t, 1, ?1) FROM (SELECT " + clamp + " AS d, " +
                               Quote(text->name) + " AS t, min(id) FROM records WHERE " + clamp +
                               " " + condition + " GROUP BY d) WHERE length(t) > 0 ORDER BY d");
  if (!s) return days;
  StmtUse use{s};
  sqlite3_bind_int(s, 1, std::max(0, startBytes));
  for (size_t i = 0; i < values.size(); ++i)
    sqlite3_bind_double(s, static_cast<int>(i) + 2, values[i]);
  while (sqlite3_step(s) == SQLITE_ROW) {
    rt::DayText& d = days.emplace_back();
    d.day = sqlite3_column_double(s, 0);
    if (const void* p = sqlite3_column_blob(s, 1)) {
      d.start.assign(static_cast<const char*>(p), static_cast<size_t>(sqlite3_column_bytes(s, 1)));
    }
  }
  return days;
}
