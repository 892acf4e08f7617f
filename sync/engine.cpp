#include "sync/engine.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "archive/export.h"
#include "archive/memo_db.h"
#include "sync/dav_http.h"
#include "sync/dav_xml.h"
#include "sync/discovery.h"
#include "sync/journal.h"
#include "util/store_schema.h"

namespace davsync {
namespace {

// Hrefs asked for in one calendar-multiget.
constexpr std::size_t kMultigetBatch = 100;
// Pending days read, sent and recorded together; and the connections their
// new days go up on at once.
constexpr std::size_t kBatchDays = 100;
constexpr int kUploadConnections = 4;
// Resources that hold no dated journal (events, tasks) are remembered under
// this day, which no memo has, so they are not fetched again.
constexpr double kNoDay = storeschema::kMinDay - 1;

const char* const kXml = "Content-Type: application/xml; charset=utf-8";

std::string Norm(const std::string& text) { return ServerText(text); }

std::string WithSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

// A pending day as read and planned, and what the server took of it.
struct DayWork {
  double day = 0;
  bool whole = true;  // false: a record with a time of day, left alone
  std::string local;  // the text here when it was read
  std::optional<std::string> agreed;
  std::vector<RemoteRow> rows;
  int ours = -1;  // our resource among `rows`
  DayPlan plan;
  bool empty = false;  // the result has no text
  std::string href;    // our resource's
  std::optional<RemoteRow> put;
  std::vector<std::string> dropped;
  bool accepted = false;  // a batch's PUT the server took
  bool recorded = false, agree = false;
};

struct Fetched {
  std::string href;
  std::optional<RemoteRow> row;  // nullopt: gone from the server
};

class Run {
 public:
  Run(const SyncConfig& config, SyncStore* store, std::time_t now, const std::atomic<bool>* stop)
      : config_(config),
        store_(store),
        now_(now),
        stop_(stop),
        http_(
            config.user, config.password, config.insecureConfirmed,
            HttpLimits{std::min(10000L, config.timeoutMs), config.timeoutMs, 30, 64u << 20, stop}) {
  }

  SyncOutcome Go();
  void OnProgress(SyncProgress progress) { progress_ = std::move(progress); }

 private:
  bool Fail(std::string reason) {
    if (out_.error.empty()) out_.error = std::move(reason);
    return false;
  }
  bool StoreFailed(const std::string& reason) {
    store_->Rollback();
    return Fail("备忘录数据库：" + reason);
  }
  bool Send(const std::string& method, const std::string& url, const std::string& depth,
            std::vector<std::string> headers, const std::string& body, HttpResponse* r);
  bool Busy(const HttpResponse& r) {
    if (r.status != 429 && r.status != 503) return false;
    out_.retryAfter = r.retryAfter;
    std::string ignored;
    if (r.retryAfter > 0) {
      (void)store_->SetState("retry_until", std::to_string(now_ + r.retryAfter), &ignored);
    }
    return true;
  }
  bool Discover(std::string* collection);
  bool FetchChanges();
  bool Listing(std::map<std::string, std::string>* etags, std::string* token, bool* usedToken);
  bool Multiget(const std::vector<std::string>& hrefs, std::vector<Fetched>* fetched);
  bool ApplyFetched(const std::vector<Fetched>& fetched, const std::string& token);
  bool ReadDay(double day, DayWork* w);
  std::vector<const RemoteRow*> Absorbed(const DayWork& w) const;
  bool RecordDay(DayWork* w, std::string* error);
  void Count(const DayWork& w);
  bool Refused(double day, const HttpResponse& r);
  bool MergeDay(double day, int attempt);
  bool SendDays(std::vector<double> days);
  void Progress(int settled);
  bool Refetch(const std::string& href, double day);
  std::string Url(const std::string& path) const { return ResolveUrl(collection_, path); }
  std::string Key(const std::string& href) const {
    const std::string path = UrlPath(ResolveUrl(collection_, href));
    return path.empty() ? href : path;
  }

  const SyncConfig& config_;
  SyncStore* store_;
  std::time_t now_;
  const std::atomic<bool>* stop_;
  DavHttp http_;
  SyncOutcome out_;
  std::string collection_;
  std::string collectionPath_;
  bool uploaded_ = false;
  SyncProgress progress_;
  int settled_ = 0, toSettle_ = 0;  // days, over the run's rounds
  // Refused once in this run: not sent again in its second round.
  std::set<double> refused_;
};

bool Run::Send(const std::string& method, const std::string& url, const std::string& depth,
               std::vector<std::string> headers, const std::string& body, HttpResponse* r) {
  if (!depth.empty()) headers.push_back("Depth: " + depth);
  std::string error;
  if (!http_.Send(method, url, headers, body, r, &error)) return Fail(error);
  return true;
}

bool Run::Discover(std::string* collection) {
  std::string error;
  if (!Discovery(config_.address, &http_).Collection(collection, &error)) return Fail(error);
  return true;
}

// The collection's members and their ETags: through the token when there is
// one, else all of them (a first sync-collection, else a PROPFIND).
bool Run::Listing(std::map<std::string, std::string>* etags, std::string* token,
                  bool* incremental) {
  std::string old;
  std::string error;
  if (!store_->State("token", &old, &error)) return StoreFailed(error);
  *incremental = false;
  for (int tries = 0; tries < 2; ++tries) {
    const bool withToken = tries == 0 && !old.empty();
    if (tries == 1 && old.empty()) break;
    HttpResponse r;
    if (!Send("REPORT", collection_, "0", {kXml}, SyncCollectionBody(withToken ? old : ""), &r)) {
      return false;
    }
    if (r.status == 401) return Fail(StatusReason(r.status, -1));
    if (r.status == 404 || r.status == 410) {
      out_.calendarLost = true;
      return Fail("服务器上的日历不见了（" + std::to_string(r.status) +
                  "），这里的备忘录都没有动；请选择“上传全部”或“停止同步”");
    }
    if (Busy(r) || r.status == 507 || r.status >= 500)
      return Fail(StatusReason(r.status, r.retryAfter));
    if (r.status != 207) {
      // A token the server no longer knows (403/409 valid-sync-token), or
      // no sync-collection at all: start over without it.
      if (withToken) continue;
      break;
    }
    Multistatus ms;
    if (!ParseMultistatus(r.body, &ms, &error)) return Fail(error);
    for (const DavResource& res : ms.resources) {
      const std::string key = Key(res.href);
      if (WithSlash(key) == collectionPath_) continue;
      if (res.collection) continue;
      (*etags)[key] = (res.status >= 400) ? std::string() : res.etag;
    }
    *token = ms.syncToken;
    *incremental = withToken;
    return true;
  }
  // No sync-collection: one PROPFIND of every member's ETag.
  Multistatus ms;
  long status = 0;
  HttpResponse r;
  if (!Send("PROPFIND", collection_, "1", {kXml}, PropfindEtagsBody(), &r)) return false;
  status = r.status;
  if (status == 404 || status == 410) {
    out_.calendarLost = true;
    return Fail("服务器上的日历不见了（" + std::to_string(status) +
                "），这里的备忘录都没有动；请选择“上传全部”或“停止同步”");
  }
  if (status != 207) {
    if (Busy(r)) return Fail(StatusReason(status, r.retryAfter));
    return Fail(StatusReason(status, r.retryAfter));
  }
  if (!ParseMultistatus(r.body, &ms, &error)) return Fail(error);
  for (const DavResource& res : ms.resources) {
    const std::string key = Key(res.href);
    if (WithSlash(key) == collectionPath_ || res.collection) continue;
    (*etags)[key] = res.etag;
  }
  token->clear();
  return true;
}

bool Run::Multiget(const std::vector<std::string>& hrefs, std::vector<Fetched>* fetched) {
  for (std::size_t at = 0; at < hrefs.size(); at += kMultigetBatch) {
    const std::vector<std::string> batch(
        hrefs.begin() + at, hrefs.begin() + std::min(hrefs.size(), at + kMultigetBatch));
    HttpResponse r;
    if (!Send("REPORT", collection_, "1", {kXml}, MultigetBody(batch), &r)) return false;
    if (r.status != 207) {
      if (Busy(r)) return Fail(StatusReason(r.status, r.retryAfter));
      return Fail("无法从服务器取回备忘录：" + StatusReason(r.status, r.retryAfter));
    }
    Multistatus ms;
    std::string error;
    if (!ParseMultistatus(r.body, &ms, &error)) return Fail(error);
    std::set<std::string> answered;
    for (const DavResource& res : ms.resources) {
      const std::string key = Key(res.href);
      answered.insert(key);
      Fetched f{key, std::nullopt};
      if (res.status < 400 && !res.calendarData.empty()) {
        std::vector<Journal> journals;
        if (!ParseJournals(res.calendarData, &journals)) {
          std::fprintf(stderr, "tamsivo: sync: %s is not iCalendar\n", key.c_str());
        }
        RemoteRow row;
        row.href = key;
        row.etag = res.etag;
        row.day = kNoDay;
        if (!journals.empty()) {
          row.day = journals.front().day;
          for (const Journal& j : journals) {
            if (j.day != row.day) continue;
            if (!j.text.empty()) row.memo += (row.memo.empty() ? "" : "\n") + j.text;
            row.modified = std::max<long long>(row.modified, j.modified);
          }
          const std::string name = key.substr(key.rfind('/') + 1);
          row.ours = name == DayResourceName(row.day) && journals.front().uid == DayUid(row.day);
        }
        f.row = std::move(row);
      } else if (res.status < 400) {
        continue;  // no data and no error: asked again next time
      }
      fetched->push_back(std::move(f));
    }
  }
  return true;
}

bool Run::ApplyFetched(const std::vector<Fetched>& fetched, const std::string& token) {
  std::string error;
  std::map<std::string, RemoteRow> known;
  if (!store_->Begin(&error) || !store_->Remote(&known, &error)) return StoreFailed(error);
  for (const Fetched& f : fetched) {
    const auto it = known.find(f.href);
    if (it != known.end() && it->second.day != kNoDay &&
        !store_->AddPending(it->second.day, &error)) {
      return StoreFailed(error);
    }
    if (f.row) {
      if (!store_->PutRemote(*f.row, &error)) return StoreFailed(error);
      if (f.row->day != kNoDay && !store_->AddPending(f.row->day, &error))
        return StoreFailed(error);
    } else if (!store_->DropRemote(f.href, &error)) {
      return StoreFailed(error);
    }
  }
  // The token goes with what it covers: a kill before this commit leaves
  // the old one, and the same changes come again.
  if (!store_->SetState("token", token, &error) || !store_->Commit(&error)) {
    return StoreFailed(error);
  }
  return true;
}

bool Run::FetchChanges() {
  std::map<std::string, std::string> etags;
  std::string token, error;
  bool incremental = false;
  if (!Listing(&etags, &token, &incremental)) return false;
  std::map<std::string, RemoteRow> known;
  if (!store_->Remote(&known, &error)) return StoreFailed(error);
  std::vector<Fetched> fetched;
  std::vector<std::string> wanted;
  for (const auto& [href, etag] : etags) {
    const auto it = known.find(href);
    if (etag.empty() && incremental) {
      if (it != known.end()) fetched.push_back({href, std::nullopt});
      continue;
    }
    if (it == known.end() || it->second.etag != etag || etag.empty()) wanted.push_back(href);
  }
  if (!incremental) {
    for (const auto& [href, row] : known)
      if (!etags.count(href)) fetched.push_back({href, std::nullopt});
  }
  // The emptied-calendar guard: what we had synced with is all gone.
  std::size_t remaining = 0;
  if (incremental) {
    std::set<std::string> left;
    for (const auto& [href, row] : known) left.insert(href);
    for (const Fetched& f : fetched) left.erase(f.href);
    for (const std::string& h : wanted) left.insert(h);
    remaining = left.size();
  } else {
    remaining = etags.size();
  }
  bool synced = false;
  if (!store_->SyncedBefore(&synced, &error)) return StoreFailed(error);
  // One day deleted over there is a deletion; every one of several gone at
  // once is a calendar that was emptied or replaced.
  if (remaining == 0 && synced && known.size() >= 2) {
    out_.calendarLost = true;
    return Fail("服务器上的日历已被清空，这里的备忘录都没有动；请选择“上传全部”或“停止同步”");
  }
  if (!Multiget(wanted, &fetched)) return false;
  std::string old;
  if (!store_->State("token", &old, &error)) return StoreFailed(error);
  // Nothing new: no write transaction either.
  if (fetched.empty() && token == old) return true;
  return ApplyFetched(fetched, token);
}

bool Run::Refetch(const std::string& href, double day) {
  std::vector<Fetched> fetched;
  if (!Multiget({href}, &fetched)) return false;
  if (fetched.empty()) fetched.push_back({href, std::nullopt});
  std::string error, token;
  if (!store_->State("token", &token, &error)) return StoreFailed(error);
  if (!ApplyFetched(fetched, token)) return false;
  if (!store_->AddPending(day, &error)) return StoreFailed(error);
  return true;
}

bool Run::ReadDay(double day, DayWork* w) {
  std::string error;
  w->day = day;
  // A record with a time of day (another tool's) is no day the program
  // shows, and would share a resource with its whole day: left alone.
  w->whole = day == std::floor(day);
  if (!w->whole) return true;
  if (!store_->LocalText(day, &w->local, &error) || !store_->Agreed(day, &w->agreed, &error) ||
      !store_->RemoteOfDay(day, &w->rows, &error)) {
    return StoreFailed(error);
  }
  std::time_t otherTime = 0;
  for (std::size_t i = 0; i < w->rows.size(); ++i) {
    if (w->rows[i].ours && w->ours < 0) w->ours = static_cast<int>(i);
    otherTime = std::max<std::time_t>(otherTime, w->rows[i].modified);
  }
  w->plan = PlanDay(w->local, w->agreed, CombineRemote(w->rows), otherTime ? otherTime : now_);
  w->empty = Norm(w->plan.result).empty();
  w->href =
      w->ours >= 0 ? w->rows[w->ours].href : Key(ResolveUrl(collection_, DayResourceName(day)));
  return true;
}

// Journals of other clients that our text now holds, or that were in the
// text the user last saw and edited, are ours from now on. An emptied day
// keeps them: their text is in nothing of ours.
std::vector<const RemoteRow*> Run::Absorbed(const DayWork& w) const {
  std::vector<const RemoteRow*> held;
  if (w.empty || (w.ours < 0 && !w.put)) return held;
  const std::string& mine = w.put ? w.put->memo : w.rows[w.ours].memo;
  const std::string agreedText = w.agreed.value_or("");
  for (const RemoteRow& r : w.rows) {
    if (r.ours || r.day == kNoDay) continue;
    if (TextInside(r.memo, mine) || (w.plan.upload && TextInside(r.memo, agreedText)))
      held.push_back(&r);
  }
  return held;
}

// Inside a transaction: the memo, what was agreed, the server as it now is.
// A save that came in since the day was read is never overwritten: it
// stays pending, agreeing on nothing it did not see.
bool Run::RecordDay(DayWork* w, std::string* error) {
  w->recorded = false;
  if (!w->whole) {
    if (!store_->RemovePending(w->day, error)) return false;
    w->recorded = true;
    return true;
  }
  std::string now;
  if (!store_->LocalText(w->day, &now, error)) return false;
  const bool savedMeanwhile = now != w->local;
  w->agree = true;
  if (w->plan.writeLocal) {
    if (savedMeanwhile) {
      // Leave the day pending so the next run keeps both texts.
      w->agree = false;
    } else if (!store_->SaveDay(w->day, w->plan.result, error)) {
      return false;
    }
  }
  if (w->put && !store_->PutRemote(*w->put, error)) return false;
  for (const std::string& h : w->dropped)
    if (!store_->DropRemote(h, error)) return false;
  if (w->agree && !store_->SetAgreed(w->day, w->plan.result, error)) return false;
  if (w->agree && !savedMeanwhile && !store_->RemovePending(w->day, error)) return false;
  w->recorded = true;
  return true;
}

// After the commit that recorded the day.
void Run::Count(const DayWork& w) {
  if (!w.whole || !w.recorded) return;
  if (w.plan.upload) ++out_.up;
  if (w.plan.writeLocal && w.agree) ++out_.down;
  if (w.plan.conflict) {
    ++out_.conflicts;
    out_.conflictDays.push_back(w.day);
  }
}

bool Run::Refused(double day, const HttpResponse& r) {
  if (Busy(r) || r.status == 401 || r.status == 507 || r.status >= 500) {
    return Fail(StatusReason(r.status, r.retryAfter));
  }
  // The day is refused (409, 415, 403...): the others go on.
  out_.refusedDays.push_back(day);
  refused_.insert(day);
  Fail("服务器拒收了 " + archive::ChineseDate(day) + " 的备忘录（" + std::to_string(r.status) +
       "）");
  return true;
}

bool Run::MergeDay(double day, int attempt) {
  DayWork w;
  if (!ReadDay(day, &w)) return false;
  std::string error;
  if (!w.whole) {
    if (!store_->Begin(&error) || !RecordDay(&w, &error) || !store_->Commit(&error)) {
      return StoreFailed(error);
    }
    return true;
  }
  const DayPlan& plan = w.plan;
  const RemoteRow* ours = w.ours >= 0 ? &w.rows[w.ours] : nullptr;

  // The server first: nothing here changes until it took the text.
  if (plan.upload) {
    const std::string& href = w.href;
    HttpResponse r;
    if (w.empty) {
      if (ours) {
        if (!Send("DELETE", Url(href), "", {"If-Match: " + ours->etag}, "", &r)) return false;
        if (r.status == 404 || r.status == 410) r.status = 204;
        if (r.status < 300) w.dropped.push_back(href);
      } else {
        r.status = 204;
      }
    } else {
      std::vector<std::string> headers = {"Content-Type: text/calendar; charset=utf-8"};
      headers.push_back(ours ? "If-Match: " + ours->etag : "If-None-Match: *");
      if (!Send("PUT", Url(href), "", headers, BuildJournal(day, plan.result, now_), &r)) {
        return false;
      }
      if (r.status < 300) {
        w.put = RemoteRow{href, r.etag, day, true, static_cast<long long>(now_), Norm(plan.result)};
      }
    }
    if (r.status == 412) {
      // Someone else wrote the day since we looked: take theirs and merge.
      if (attempt >= 2)
        return Fail(archive::ChineseDate(day) + " 的备忘录在服务器上不断被改动，稍后再试");
      if (!Refetch(href, day)) return false;
      return MergeDay(day, attempt + 1);
    }
    if (r.status >= 300) return Refused(day, r);
    uploaded_ = true;
  }
  for (const RemoteRow* r : Absorbed(w)) {
    HttpResponse del;
    if (!Send("DELETE", Url(r->href), "", {"If-Match: " + r->etag}, "", &del)) return false;
    if (del.status < 300 || del.status == 404 || del.status == 410) w.dropped.push_back(r->href);
  }

  if (!store_->Begin(&error) || !RecordDay(&w, &error) || !store_->Commit(&error)) {
    return StoreFailed(error);
  }
  Count(w);
  return true;
}

void Run::Progress(int settled) {
  settled_ += settled;
  if (progress_) progress_(settled_, toSettle_);
}

// The pending days, a batch at a time. Most days of a first upload, or of
// a first download, need no merge: a new day goes up with a PUT of its
// own, sent beside the others' on a few connections; a day the server's
// copy settles needs no request at all. Each batch is then recorded in one
// transaction. Anything else (a copy there to replace, journals of other
// clients, an emptied day, a 412) goes through MergeDay alone.
bool Run::SendDays(std::vector<double> days) {
  std::erase_if(days, [this](double day) { return refused_.count(day) != 0; });
  if (days.empty()) return true;
  toSettle_ += static_cast<int>(days.size());
  Progress(0);
  std::size_t at = 0;
  while (at < days.size()) {
    if (stop_ && stop_->load()) return Fail("同步已停止");
    std::vector<DayWork> quiet, fresh;
    std::vector<double> alone;
    while (at < days.size() && quiet.size() + fresh.size() + alone.size() < kBatchDays) {
      DayWork w;
      if (!ReadDay(days[at++], &w)) return false;
      if (!w.whole || (!w.plan.upload && Absorbed(w).empty())) {
        quiet.push_back(std::move(w));
      } else if (w.plan.upload && !w.empty && w.rows.empty()) {
        fresh.push_back(std::move(w));
      } else {
        alone.push_back(w.day);
      }
    }

    std::vector<HttpRequest> requests;
    for (const DayWork& w : fresh) {
      requests.push_back({"PUT",
                          Url(w.href),
                          {"Content-Type: text/calendar; charset=utf-8", "If-None-Match: *"},
                          BuildJournal(w.day, w.plan.result, now_)});
    }
    // An answer that ends the run ends the batch too: no more requests to
    // a server that is busy, full or refusing us.
    const auto ends = [](const HttpResult& r) {
      const long st = r.response.status;
      return !r.answered || st == 401 || st == 429 || st == 503 || st == 507 || st >= 500;
    };
    std::vector<HttpResult> results;
    http_.SendMany(requests, kUploadConnections, ends, &results);

    std::vector<const DayWork*> again;  // 412: written there since we looked
    const HttpResult* ended = nullptr;
    std::vector<std::pair<double, const HttpResponse*>> refused;
    for (std::size_t i = 0; i < fresh.size(); ++i) {
      const HttpResult& r = results[i];
      if (!r.sent) continue;  // stays pending
      if (ends(r)) {
        if (!ended) ended = &r;
        continue;
      }
      const long st = r.response.status;
      if (st == 412) {
        again.push_back(&fresh[i]);
      } else if (st >= 300) {
        refused.emplace_back(fresh[i].day, &r.response);
      } else {
        DayWork& w = fresh[i];
        w.put = RemoteRow{w.href,
                          r.response.etag,
                          w.day,
                          true,
                          static_cast<long long>(now_),
                          Norm(w.plan.result)};
        w.accepted = true;
        uploaded_ = true;
      }
    }

    // What the server took is recorded even when the run ends here.
    std::string error;
    if (!store_->Begin(&error)) return StoreFailed(error);
    for (DayWork& w : quiet)
      if (!RecordDay(&w, &error)) return StoreFailed(error);
    for (DayWork& w : fresh)
      if (w.accepted && !RecordDay(&w, &error)) return StoreFailed(error);
    if (!store_->Commit(&error)) return StoreFailed(error);
    for (const DayWork& w : quiet) Count(w);
    for (const DayWork& w : fresh) Count(w);
    int settled = static_cast<int>(quiet.size());
    for (const DayWork& w : fresh) settled += w.accepted ? 1 : 0;
    if (ended) {
      if (!ended->answered) return Fail(ended->error);
      (void)Busy(ended->response);
      return Fail(StatusReason(ended->response.status, ended->response.retryAfter));
    }
    for (const auto& [day, response] : refused) {
      (void)Refused(day, *response);
      ++settled;
    }
    Progress(settled);

    for (const DayWork* w : again) {
      if (stop_ && stop_->load()) return Fail("同步已停止");
      if (!Refetch(w->href, w->day) || !MergeDay(w->day, 1)) return false;
      Progress(1);
    }
    for (double day : alone) {
      if (stop_ && stop_->load()) return Fail("同步已停止");
      if (!MergeDay(day, 0)) return false;
      Progress(1);
    }
  }
  return true;
}

SyncOutcome Run::Go() {
  std::string error, address, until;
  if (!store_->State("address", &address, &error) ||
      !store_->State("collection", &collection_, &error) ||
      !store_->State("retry_until", &until, &error)) {
    StoreFailed(error);
    return out_;
  }
  if (!until.empty() && std::atoll(until.c_str()) > now_) {
    out_.retryAfter = std::atoll(until.c_str()) - now_;
    Fail("服务器要求稍后再试（还要等 " + std::to_string(out_.retryAfter) + " 秒）");
    return out_;
  }
  if (address != config_.address) {
    // Another server or calendar: what we knew of the old one says nothing.
    if (!store_->Begin(&error) || !store_->ForgetServer(&error) ||
        !store_->SetState("address", config_.address, &error) || !store_->Commit(&error)) {
      StoreFailed(error);
      return out_;
    }
    collection_.clear();
  }
  if (collection_.empty()) {
    if (!Discover(&collection_)) {
      out_.requests = http_.requests();
      return out_;
    }
    collection_ = WithSlash(collection_);
    if (!store_->SetState("collection", collection_, &error)) {
      StoreFailed(error);
      return out_;
    }
  }
  collectionPath_ = WithSlash(UrlPath(collection_));
  bool ok = FetchChanges();
  for (int round = 0; ok && round < 2; ++round) {
    std::vector<double> days;
    if (!store_->PendingDays(&days, &error)) {
      ok = StoreFailed(error);
      break;
    }
    ok = SendDays(days);
    // Our own writes changed the collection's token: taking it now makes
    // the next run with nothing new a single request.
    if (!ok || !uploaded_) break;
    uploaded_ = false;
    ok = FetchChanges();
  }
  if (ok && out_.error.empty()) {
    (void)store_->SetState("retry_until", "", &error);
    out_.ok = true;
  }
  out_.requests = http_.requests();
  return out_;
}

}  // namespace

std::string ConflictLine(std::time_t otherTime) {
  std::tm t{};
  localtime_r(&otherTime, &t);
  return kConflictLineStart + std::to_string(t.tm_year + 1900) + "年" +
         std::to_string(t.tm_mon + 1) + "月" + std::to_string(t.tm_mday) + "日" +
         std::to_string(t.tm_hour) + "时" + std::to_string(t.tm_min) + "分）——";
}

bool TextInside(const std::string& part, const std::string& whole) {
  const std::string p = Norm(part);
  return !p.empty() && Norm(whole).find(p) != std::string::npos;
}

std::string CombineRemote(const std::vector<RemoteRow>& rows) {
  std::string text;
  for (const RemoteRow& r : rows)
    if (r.ours) text = Norm(r.memo);
  for (const RemoteRow& r : rows) {
    if (r.ours || r.day == kNoDay) continue;
    const std::string memo = Norm(r.memo);
    if (memo.empty() || text.find(memo) != std::string::npos) continue;
    text = text.empty() ? memo : text + "\n\n" + memo;
  }
  return text;
}

DayPlan PlanDay(const std::string& local, const std::optional<std::string>& agreed,
                const std::string& remote, std::time_t otherTime) {
  const std::string base = agreed.value_or("");
  const bool localChanged = !SameMemo(local, base);
  const bool remoteChanged = !SameMemo(remote, base);
  DayPlan plan;
  plan.result = local;
  if (SameMemo(local, remote)) return plan;  // same text is no conflict
  if (localChanged && !remoteChanged) {
    plan.upload = true;
  } else if (!localChanged && remoteChanged) {
    plan.result = remote;
    plan.writeLocal = true;
  } else if (TextInside(local, remote)) {
    // One side only added to the other (also what a sync cut off after the
    // server took a merged text leaves): the longer text, nothing doubled.
    plan.result = remote;
    plan.writeLocal = true;
  } else if (TextInside(remote, local)) {
    plan.upload = true;
  } else if (Norm(local).empty()) {
    // Emptied here, written there (or the other way round): the text stays.
    plan.result = remote;
    plan.writeLocal = true;
  } else if (Norm(remote).empty()) {
    plan.upload = true;
  } else {
    plan.result = local;
    if (!plan.result.empty() && plan.result.back() != '\n') plan.result += '\n';
    plan.result += ConflictLine(otherTime) + "\n" + remote;
    plan.writeLocal = plan.upload = plan.conflict = true;
  }
  return plan;
}

SyncOutcome RunSync(const SyncConfig& config, const std::string& storeFile, std::time_t now,
                    const std::atomic<bool>* stop, const SyncProgress& progress) {
  SyncOutcome out;
  if (config.address.empty()) {
    out.error = "还没有设置同步：没有服务器地址";
    return out;
  }
  std::string error;
  if (!UrlAllowed(config.address, config.insecureConfirmed, &error)) {
    out.error = error;
    return out;
  }
  std::unique_ptr<SyncStore> store = SyncStore::Open(storeFile, &error);
  if (!store) {
    out.error = "备忘录数据库：" + error;
    return out;
  }
  Run run(config, store.get(), now, stop);
  run.OnProgress(progress);
  return run.Go();
}

std::string DayNames(const std::vector<double>& days) {
  std::string list;
  for (std::size_t i = 0; i < days.size() && i < 5; ++i) {
    list += (i ? "、" : "") + archive::ChineseDate(days[i]);
  }
  if (days.size() > 5) list += "等";
  return list;
}

std::string OutcomeCounts(const SyncOutcome& out, const char* beforeNames) {
  std::string counts = "上传 " + std::to_string(out.up) + " 天，下载 " + std::to_string(out.down) +
                       " 天，冲突 " + std::to_string(out.conflicts) + " 天";
  if (!out.conflictDays.empty())
    counts += beforeNames + ("（" + DayNames(out.conflictDays) + "，两处的文字都保留了）");
  return counts;
}

bool ForgetServerState(const std::string& storeFile, std::string* error) {
  std::unique_ptr<SyncStore> store = SyncStore::Open(storeFile, error);
  if (!store) return false;
  if (!store->Begin(error) || !store->ForgetServer(error) || !store->Commit(error)) {
    store->Rollback();
    return false;
  }
  return true;
}

}  // namespace davsync
