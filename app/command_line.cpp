#include "app/command_line.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "archive/export.h"
#include "archive/memo_db.h"
#include "archive/restore.h"
#include "base/datetime.h"
#include "base/program.h"
#include "intake/collect.h"
#include "intake/merge.h"
#include "memo/anniversaries.h"
#include "settings/items.h"
#include "settings/settings.h"
#include "sync/engine.h"
#include "sync/last_run.h"
#include "sync/password.h"
#include "util/file_io.h"
#include "util/ini_file.h"
#include "util/instance_lock.h"
#include "util/text.h"

namespace cmdline {
namespace {

constexpr const char* kUsage =
    "用法：tamsivo [--help] [--version] [--export 文件] [--restore 备份文件] [--sync]\n"
    "              [--import 文件或文件夹]\n";

constexpr const char* kHelp =
    "Tamsivo：一天一条备忘录的月历，今天的备忘录常在眼前。\n"
    "\n"
    "不带选项时打开日历窗口和今天备忘录窗口。\n"
    "\n"
    "  --export 文件        把全部备忘录按日期先后导出到文件，格式由扩展名决定：\n"
    "                       .md（Markdown）、.txt（纯文本）、.csv（表格）、.ics（日历）；\n"
    "                       不需要图形界面\n"
    "  --restore 备份文件   在程序没有运行时，用这个备份替换备忘录数据文件；\n"
    "                       原来的数据文件改名保留，不会删除\n"
    "  --import 文件或文件夹 在程序没有运行时导入备忘录：本程序的导出文件、按日期命名的\n"
    "                       Markdown 日记文件夹、Day One、jrnl、RedNotebook、iCalendar；\n"
    "                       已有备忘录的日子把导入的文字接在后面，不会覆盖\n"
    "  --sync               与 Start.ini 的 [同步] 一节设置的 CalDAV 日历同步一次；\n"
    "                       不需要图形界面\n"
    "  --sync-upload-all    服务器上的日历被清空或不见了之后：忘掉服务器上原有的内容，\n"
    "                       把这里的全部备忘录重新上传（这里的备忘录不会删除）\n"
    "  --help               显示这段说明后退出\n"
    "  --version            显示版本后退出\n"
    "\n"
    "退出状态：0 成功，1 失败，2 命令行有误。\n";

struct Option {
  const char* name;
  Action action;
  bool takesFile;
};
constexpr Option kOptions[] = {
    {"--help", Action::kHelp, false},    {"--version", Action::kVersion, false},
    {"--export", Action::kExport, true}, {"--restore", Action::kRestore, true},
    {"--sync", Action::kSync, false},    {"--sync-upload-all", Action::kSyncUploadAll, false},
    {"--import", Action::kImport, true}};

Request UsageError(std::string error) {
  Request r;
  r.action = Action::kUsageError;
  r.error = std::move(error);
  return r;
}

// The store of this copy (Start.ini's place is decided with it).
bool FindStore(std::string* store) {
  std::string error;
  if (!DecideFileLocations(fileio::ExecutableDirectory(), &error)) {
    std::fprintf(stderr, "tamsivo：%s。\n", error.c_str());
    return false;
  }
  *store = DataFile(kMemoStoreFileName);
  return true;
}

int Export(const std::string& target) {
  std::string store, error;
  if (!FindStore(&store)) return 1;
  if (!fileio::IsRegularFile(store)) {
    std::fprintf(stderr, "tamsivo：没有备忘录可以导出（没有找到“%s”）。\n", store.c_str());
    return 1;
  }
  int count = 0;
  if (!archive::ExportMemos(store, target, &count, &error,
                            CalendarExportEvents(DatePart(LocalNow())))) {
    std::fprintf(stderr, "tamsivo：导出失败：%s\n", error.c_str());
    return 1;
  }
  std::printf("已把 %d 条备忘录导出到“%s”。\n", count, target.c_str());
  return 0;
}

int Restore(const std::string& backup) {
  std::string store;
  if (!FindStore(&store)) return 1;
  // The running copy holds this lock for its life and has the store open;
  // where the directory cannot be locked, its socket still answers.
  fileio::FileDescriptor lock;
  if (instance::LockDataDirectory(DataDirectory(), &lock) == fileio::DirectoryLock::kBusy ||
      instance::ListenerPresent(DataDirectory())) {
    std::fprintf(stderr, "tamsivo：Tamsivo 正在使用“%s”中的备忘录，请先退出它再恢复。\n",
                 DataDirectory().c_str());
    return 1;
  }
  const archive::Restored r = archive::RestoreFromBackup(store, LocalNow(), backup);
  std::fprintf(r.ok ? stdout : stderr, "%s%s\n", r.ok ? "" : "tamsivo：", r.message.c_str());
  return r.ok ? 0 : 1;
}

// How long `tamsivo --sync` waits for the running copy's run: its requests
// give up after two minutes.
constexpr int kAskedRunWaitSeconds = 150;

int AskRunningCopyToSync(const std::string& store) {
  const std::time_t asked = std::time(nullptr);
  if (instance::Knock(DataDirectory(), 5000, false, instance::kSyncKnockText) !=
      instance::KnockResult::kAnswered) {
    std::fprintf(stderr, "tamsivo：同步失败：Tamsivo 正在使用“%s”中的备忘录，但它没有响应。\n",
                 DataDirectory().c_str());
    return 1;
  }
  for (int i = 0; i < kAskedRunWaitSeconds * 4; ++i) {
    davsync::LastRun last;
    bool found = false;
    std::string error;
    if (davsync::LoadLastRun(store, &last, &found, &error) && found && last.started >= asked) {
      if (!last.ok) {
        std::fprintf(stderr, "tamsivo：正在运行的 Tamsivo %s。\n", last.line.c_str());
        return 1;
      }
      std::printf("正在运行的 Tamsivo %s。\n", last.line.c_str());
      return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  std::fprintf(stderr, "tamsivo：已请正在运行的 Tamsivo 同步，但 %d 秒内没有得到结果。\n",
               kAskedRunWaitSeconds);
  return 1;
}

int Sync(bool uploadAll) {
  std::string store;
  if (!FindStore(&store)) return 1;
  const std::string settings = SettingsPath();
  const auto read = [&](const SettingItem& item) {
    return ini::ReadItem(settings, item.section, item.key);
  };
  davsync::SyncConfig config;
  config.address = std::string(text::Trim(read(item::kSyncAddress)));
  config.user = read(item::kSyncUser);
  if (config.address.empty() || !IsFlagSet(read(item::kSyncOn))) {
    std::fprintf(stderr,
                 "tamsivo：还没有设置同步：请在“%s”的 [同步] 一节写上 "
                 "地址=（CalDAV 服务器或日历的地址）和 开启=1。\n",
                 settings.c_str());
    return 1;
  }
  // A running copy syncs itself (its windows show what arrives, and an open
  // editor keeps both texts): it is asked to, and its result is waited for.
  fileio::FileDescriptor lock;
  if (instance::LockDataDirectory(DataDirectory(), &lock) == fileio::DirectoryLock::kBusy ||
      instance::ListenerPresent(DataDirectory())) {
    if (uploadAll) {
      std::fprintf(stderr,
                   "tamsivo：Tamsivo 正在使用“%s”中的备忘录：请在它的“同步…”窗口里选择上传全部，"
                   "或先退出它。\n",
                   DataDirectory().c_str());
      return 1;
    }
    return AskRunningCopyToSync(store);
  }
  if (!fileio::IsRegularFile(store)) {
    std::fprintf(stderr, "tamsivo：同步失败：还没有备忘录数据文件“%s”，请先运行一次 Tamsivo。\n",
                 store.c_str());
    return 1;
  }
  std::string error;
  davsync::PasswordSource source;
  if (!davsync::LookUpPassword(DataFile(davsync::kPasswordFileName), config.address, config.user,
                               &config.password, &source, &error)) {
    std::fprintf(stderr, "tamsivo：同步失败：%s。\n", error.c_str());
    return 1;
  }
  if (uploadAll && !davsync::ForgetServerState(store, &error)) {
    std::fprintf(stderr, "tamsivo：同步失败：备忘录数据库：%s。\n", error.c_str());
    return 1;
  }
  const std::time_t started = std::time(nullptr);
  const auto t0 = std::chrono::steady_clock::now();
  const davsync::SyncOutcome out = davsync::RunSync(config, store, started);
  const auto runMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count();
  // The window shows it as the last sync.
  const std::time_t finished = std::time(nullptr);
  if (!davsync::SaveLastRun(
          store,
          {started, finished, out.ok, davsync::ResultLine(out, false, finished), out.conflictDays},
          &error))
    std::fprintf(stderr, "tamsivo: sync: last result not kept: %s\n", error.c_str());
  // For benchmarks: how many requests the run took, and how long the run
  // itself (without the process's start).
  if (std::getenv("TAMSIVO_SYNC_STATS")) {
    std::fprintf(stderr, "tamsivo: sync: run %lld ms\n", static_cast<long long>(runMs));
    std::fprintf(stderr, "tamsivo: sync: %d requests\n", out.requests);
  }
  const std::string counts = davsync::OutcomeCounts(out);
  if (!out.ok) {
    // What the two answers are on the command line.
    const std::string choice =
        out.calendarLost
            ? "。上传全部：tamsivo --sync-upload-all；停止同步：在 Start.ini 写上 开启=0"
            : "";
    std::fprintf(stderr, "tamsivo：同步失败：%s（%s）%s。\n", out.error.c_str(), counts.c_str(),
                 choice.c_str());
    return 1;
  }
  std::printf("同步完成：%s。\n", counts.c_str());
  return 0;
}

int Import(const std::string& path) {
  std::string store, error;
  if (!FindStore(&store)) return 1;
  // Held to the end, so the program cannot start and open the store meanwhile.
  fileio::FileDescriptor lock;
  if (instance::LockDataDirectory(DataDirectory(), &lock) == fileio::DirectoryLock::kBusy ||
      instance::ListenerPresent(DataDirectory())) {
    std::fprintf(stderr,
                 "tamsivo：Tamsivo 正在使用“%s”中的备忘录：请在它的菜单里用“导入备忘录…”，"
                 "或先退出它再导入。\n",
                 DataDirectory().c_str());
    return 1;
  }
  if (!fileio::IsRegularFile(store)) {
    std::fprintf(stderr, "tamsivo：还没有备忘录数据文件“%s”：请先启动一次 Tamsivo 再导入。\n",
                 store.c_str());
    return 1;
  }
  intake::Plan plan;
  if (!intake::MakePlan(store, intake::ReadPath(path), &plan, &error)) {
    std::fprintf(stderr, "tamsivo：导入失败：%s\n", error.c_str());
    return 1;
  }
  // Each problem on a line of its own, the summary after them.
  for (const intake::Problem& p : plan.problems) {
    std::fprintf(stderr, "tamsivo：%s%s%s：%s\n", p.file.c_str(), p.where.empty() ? "" : " ",
                 p.where.c_str(), p.message.c_str());
  }
  for (const std::string& s : plan.skippedFiles) std::fprintf(stderr, "tamsivo：%s\n", s.c_str());
  if (plan.days.empty()) {
    const bool nothingRead = plan.entries == 0;
    std::fprintf(nothingRead ? stderr : stdout, "%s没有要导入的内容：%s。\n",
                 nothingRead ? "tamsivo：" : "", intake::PlanSummary(plan).c_str());
    return nothingRead ? 1 : 0;
  }
  std::string backup;
  if (!intake::BackUpBeforeImport(store, &backup, &error)) {
    std::fprintf(stderr, "tamsivo：没有导入：%s\n", error.c_str());
    return 1;
  }
  intake::Progress progress;
  intake::Written written;
  if (!intake::WritePlan(store, plan, &progress, &written, &error)) {
    std::fprintf(stderr, "tamsivo：导入中断：%s（已写入 %d 天，导入前的备份在“%s”）\n",
                 error.c_str(), written.newDays + written.addedDays, backup.c_str());
    return 1;
  }
  std::printf("已从“%s”导入：%s。\n", path.c_str(), intake::PlanSummary(plan).c_str());
  return 0;
}

}  // namespace

Request Parse(const std::vector<std::string>& arguments) {
  Request request;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& a = arguments[i];
    Action action = Action::kRunWindows;
    std::string value;
    bool takesFile = false;
    for (const auto& [name, kind, file] : kOptions) {
      const std::string option = name;
      if (a == option || (file && a.starts_with(option + "="))) {
        action = kind;
        takesFile = file;
        if (a.size() > option.size()) value = a.substr(option.size() + 1);
      }
    }
    if (action == Action::kRunWindows) {
      return UsageError(a.starts_with("-") ? "无法识别的选项“" + a + "”" : "多余的参数“" + a + "”");
    }
    if (takesFile && a.find('=') == std::string::npos) {
      if (i + 1 == arguments.size()) return UsageError("选项“" + a + "”后面要跟一个文件名");
      value = arguments[++i];
    }
    if (takesFile && value.empty()) return UsageError("选项“" + a + "”的文件名是空的");
    // Help and version win over anything else; two file actions are one too many.
    if (request.action == Action::kHelp || request.action == Action::kVersion) continue;
    if (action == Action::kHelp || action == Action::kVersion ||
        request.action == Action::kRunWindows) {
      request.action = action;
      request.file = value;
      continue;
    }
    return UsageError("--export、--restore、--sync 和 --import 一次只能用一个");
  }
  return request;
}

int Run(const Request& request) {
  switch (request.action) {
    case Action::kHelp:
      std::fputs(kHelp, stdout);
      std::fputs(kUsage, stdout);
      return 0;
    case Action::kVersion:
      std::printf("tamsivo %s\n", ProgramVersion());
      return 0;
    case Action::kUsageError:
      std::fprintf(stderr, "tamsivo：%s。\n%s请用 tamsivo --help 查看说明。\n",
                   request.error.c_str(), kUsage);
      return 2;
    case Action::kExport:
      return Export(request.file);
    case Action::kRestore:
      return Restore(request.file);
    case Action::kImport:
      return Import(request.file);
    case Action::kSync:
      return Sync(false);
    case Action::kSyncUploadAll:
      return Sync(true);
    case Action::kRunWindows:
      break;
  }
  return 1;
}

}  // namespace cmdline
