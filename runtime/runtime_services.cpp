// Services that are not windows: settings items, the table store, files,
// the clock and message boxes.
#include <sys/stat.h>

#include <QFileDialog>
#include <QPointer>

#include "runtime/clock.h"
#include "runtime/message_box.h"
#include "runtime/runtime_core.h"
#include "util/codepage.h"
#include "util/file_io.h"
#include "util/ini_file.h"

std::string QtRuntime::ReadItem(const std::string& file, std::string_view section,
                                std::string_view key) {
  return ini::ReadItem(file, section, key);
}

bool QtRuntime::WriteItem(const std::string& file, std::string_view section, std::string_view key,
                          std::string_view value, std::string* error) {
  return ini::WriteItem(file, section, key, value, error);
}

bool QtRuntime::StoreCreate(const std::string& pathWithoutExt,
                            const std::vector<rt::FieldDesc>& fields, std::string* error) {
  return TableStore::Create(pathWithoutExt + ".edb", fields, error);
}

rt::StoreId QtRuntime::StoreOpen(const std::string& pathWithoutExt, std::string* error) {
  const rt::StoreId id = storeCounter_ + 1;
  // The verdict comes on the check's thread; the windows hear of it on
  // theirs, and not at all once the runtime is gone.
  QPointer<QObject> context = &verdicts_;
  std::unique_ptr<TableStore> s = TableStore::Open(
      pathWithoutExt + ".edb", error, TableStore::Checking::kInBackground, [this, context] {
        if (!context) return;
        QMetaObject::invokeMethod(
            context, [this] { DispatchToAll(Event::StoreChecked); }, Qt::QueuedConnection);
      });
  if (!s) return 0;
  storeCounter_ = id;
  stores_[id] = std::move(s);
  return id;
}

rt::StoreCheck QtRuntime::StoreCheckState(rt::StoreId store, std::string* reason) {
  TableStore* s = Store(store);
  if (!s) {
    if (reason) *reason = "没有打开这个数据文件";
    return rt::StoreCheck::kFailed;
  }
  return s->Check(reason);
}

void QtRuntime::StoreClose(rt::StoreId store) { stores_.erase(store); }

bool QtRuntime::StoreFirst(rt::StoreId store) {
  TableStore* s = Store(store);
  return s && s->First();
}

bool QtRuntime::StoreFind(rt::StoreId store, const rt::ClampedEquals& cond) {
  TableStore* s = Store(store);
  return s && s->Find(cond);
}

rt::Value QtRuntime::StoreRead(rt::StoreId store, std::string_view field) {
  TableStore* s = Store(store);
  return s ? s->Read(field) : rt::Value{};
}

bool QtRuntime::StoreWrite(rt::StoreId store, std::string_view field, const rt::Value& value,
                           std::string* error) {
  TableStore* s = Store(store);
  if (!s) return NoStore(error);
  return s->Write(field, value, error);
}

bool QtRuntime::StoreAppend(rt::StoreId store, const std::vector<rt::Value>& values,
                            std::string* error) {
  TableStore* s = Store(store);
  if (!s) return NoStore(error);
  return s->Append(values, error);
}

bool QtRuntime::StoreBegin(rt::StoreId store, std::string* error) {
  TableStore* s = Store(store);
  if (!s) return NoStore(error);
  return s->Begin(error);
}

bool QtRuntime::StoreCommit(rt::StoreId store, std::string* error) {
  TableStore* s = Store(store);
  if (!s) return NoStore(error);
  return s->Commit(error);
}

void QtRuntime::StoreRollback(rt::StoreId store) {
  if (TableStore* s = Store(store)) s->Rollback();
}

std::vector<rt::DayText> QtRuntime::StoreDayTexts(rt::StoreId store, std::string_view dayField,
                                                  std::string_view textField, double from,
                                                  double to, int startBytes) {
  TableStore* s = Store(store);
  return s ? s->DayTexts(dayField, textField, from, to, startBytes) : std::vector<rt::DayText>{};
}

std::vector<rt::DayText> QtRuntime::StoreDayTextsOn(rt::StoreId store, std::string_view dayField,
                                                    std::string_view textField,
                                                    const std::vector<double>& days,
                                                    int startBytes) {
  TableStore* s = Store(store);
  return s ? s->DayTextsOn(dayField, textField, days, startBytes) : std::vector<rt::DayText>{};
}

bool QtRuntime::FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string QtRuntime::TextToGbkBytes(std::string_view utf8) { return gbk::FromUtf8(utf8); }

bool QtRuntime::WriteFileBytes(const std::string& path, const std::string& bytes,
                               std::string* error) {
  return fileio::ReplaceFileAtomically(path, bytes, {}, error);
}

double QtRuntime::Now() { return options_.now ? options_.now() : LocalNowAsDays(); }

bool QtRuntime::SetSystemClock(std::int64_t unixSeconds, std::string* reason) {
  if (options_.setClock) return options_.setClock(unixSeconds, reason);
  return SetSystemClockTo(unixSeconds, reason);
}

int QtRuntime::Notify(std::string_view window, std::string_view title, std::string_view body,
                      const std::vector<std::string>& actions) {
  if (ending_) return 0;
  if (options_.notify) {
    options_.notify(title, body, actions);
    return ++notifyCounter_;
  }
  if (!notifications_) {
    notifications_ =
        std::make_unique<Notifications>([this](const std::string& w, int handle, int action) {
          WindowState* ws = Find(w);
          if (!ws || ending_) return;
          image::EventArgs args;
          args.code = handle;
          args.action = action;
          Dispatch(*ws, "", Event::NotificationAnswered, args);
        });
  }
  QStringList labels;
  for (const std::string& a : actions) labels << QString::fromStdString(a);
  return notifications_->Show(std::string(window), Q(title), Q(body), labels);
}

int QtRuntime::MessageBox(std::string_view text, unsigned flags,
                          const std::optional<std::string>& title,
                          std::optional<std::uintptr_t> owner) {
  const std::string caption = title ? *title : std::string("Tamsivo");
  if (options_.messageBox) return options_.messageBox(text, flags, caption);
  // Nothing is asked any more once the program is ending.
  if (ending_) return AnswerWithoutButton(ButtonsFor(flags));
  QWidget* parent = nullptr;
  if (owner && *owner) {
    for (auto& [name, ws] : windows_) {
      if (ws->widget && static_cast<std::uintptr_t>(ws->widget->winId()) == *owner) {
        parent = ws->widget;
      }
    }
  }
  return ShowMessageBox(parent, caption, text, flags, &boxes_);
}

std::string QtRuntime::AskSaveFileName(std::string_view owner, std::string_view title,
                                       const std::string& suggested, std::string_view filters) {
  lastSaveFilter_.clear();
  if (options_.saveFileName) {
    if (options_.saveFilter) lastSaveFilter_ = options_.saveFilter();
    return options_.saveFileName(title, suggested);
  }
  if (ending_) return {};
  WindowState* ws = Find(owner);
  // Qt's own dialog: the same look and language on every desktop, and no
  // portal round trip that can hang without a desktop session.
  QString chosen;
  const QString path = QFileDialog::getSaveFileName(ws ? ws->widget.data() : nullptr, Q(title),
                                                    QString::fromStdString(suggested), Q(filters),
                                                    &chosen, QFileDialog::DontUseNativeDialog);
  lastSaveFilter_ = chosen.toStdString();
  // The file type chosen in the dialog decides a name typed without one.
  return fileio::WithFilterExtension(path.toStdString(), chosen.toStdString());
}

std::string QtRuntime::LastSaveFilter() { return lastSaveFilter_; }

std::string QtRuntime::AskOpenPath(std::string_view owner, std::string_view title,
                                   std::string_view filters, bool folder) {
  if (options_.openPath) return options_.openPath(title, folder);
  if (ending_) return {};
  WindowState* ws = Find(owner);
  QWidget* parent = ws ? ws->widget.data() : nullptr;
  const QString path =
      folder ? QFileDialog::getExistingDirectory(
                   parent, Q(title), QString(),
                   QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog)
             : QFileDialog::getOpenFileName(parent, Q(title), QString(), Q(filters), nullptr,
                                            QFileDialog::DontUseNativeDialog);
  return path.toStdString();
}

bool QtRuntime::NoStore(std::string* error) {
  if (error) *error = "没有打开这个数据文件";
  return false;
}

TableStore* QtRuntime::Store(rt::StoreId id) {
  auto it = stores_.find(id);
  return it == stores_.end() ? nullptr : it->second.get();
}
