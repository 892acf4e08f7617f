// The loader: copies of the real executable run as child processes in a
// temporary program directory with stand-in runtimes and a temporary user
// registry; plus the registry reader and module helpers in process.
#include "loader/loader.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <link.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/module.h"
#include "platform/user_registry.h"

namespace fs = std::filesystem;

namespace {

const std::string kErrorLine = std::string(kLoaderErrorText) + "\n";

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string TamsivoBinary() {
  if (const char* dir = std::getenv("TAMSIVO_TEST_BIN"); dir != nullptr && dir[0] != '\0') {
    return std::string(dir) + "/tamsivo";
  }
  return TAMSIVO_BIN;
}

struct RunResult {
  int status = -1;  // exit status, or -1 when the child did not exit normally
  std::string out, err;
};

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/tamsivo_loader_test.XXXXXX";
    const char* d = mkdtemp(tmpl);
    if (d == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = d;
  }
  ~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// A program directory, a home, a configuration directory and a development
// setup directory, all under one temporary root.
class LoaderRun : public ::testing::Test {
 protected:
  void SetUp() override {
    prog = root.path() + "/prog";
    setup = root.path() + "/setup";
    config = root.path() + "/config";
    marker = root.path() + "/marker";
    for (const auto& d : {prog, setup, config + "/tamsivo", root.path() + "/home"}) {
      fs::create_directories(d);
    }
    env = {"HOME=" + root.path() + "/home", "XDG_CONFIG_HOME=" + config, "PATH=/usr/bin:/bin",
           "TAMSIVO_FAKE_MARKER=" + marker};
  }

  static void Put(const std::string& from, const std::string& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  }
  void InstallProgram(const std::string& dir) {
    fs::create_directories(dir);
    Put(TamsivoBinary(), dir + "/tamsivo");
  }
  void WriteRegistry(const std::string& text) { WriteAll(config + "/tamsivo/registry.ini", text); }
  void RegisterSetup(const std::string& path) {
    WriteRegistry("[Software\\Qorvex\\Z\\Install]\nPath=" + path + "\n");
  }
  // The marker's lines: library file, "image"/"no image", "ran"/"refused".
  std::vector<std::string> Marker() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadAll(marker));
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }

  RunResult Run(const std::string& exe) {
    const std::string outFile = root.path() + "/stdout", errFile = root.path() + "/stderr";
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    fs::remove(marker);
    const pid_t pid = fork();
    if (pid == 0) {
      const int in = open("/dev/null", O_RDONLY);
      const int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (in < 0 || out < 0 || err < 0) _exit(126);
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      char* argv[] = {const_cast<char*>(exe.c_str()), nullptr};
      execve(exe.c_str(), argv, envp.data());
      _exit(127);
    }
    RunResult r;
    if (pid < 0) return r;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "loader did not end: " << exe;
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFEXITED(status)) r.status = WEXITSTATUS(status);
    r.out = ReadAll(outFile);
    r.err = ReadAll(errFile);
    return r;
  }

  TempDir root;
  std::string prog, setup, config, marker;
  std::vector<std::string> env;
};

TEST_F(LoaderRun, RuntimeBesideTheExecutableWinsAndGetsTheImage) {
  InstallProgram(prog);
  Put(FAKE_STARTS, prog + "/tesmo.qrr");
  // Were the registry read, the refusing setup runtime would end in the error.
  Put(FAKE_REFUSES, setup + "/tesmo.qre");
  RegisterSetup(setup);

  const RunResult r = Run(prog + "/tamsivo");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "started\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Marker(), (std::vector<std::string>{prog + "/tesmo.qrr", "image", "ran"}));
}

TEST_F(LoaderRun, DevelopmentSetupFromTheRegistry) {
  InstallProgram(prog);
  Put(FAKE_STARTS, setup + "/tesmo.qre");
  // A runtime-only library in the setup directory is not what the loader asks for there.
  Put(FAKE_REFUSES, setup + "/tesmo.qrr");
  const std::vector<std::string> expected{setup + "/tesmo.qre", "image", "ran"};

  RegisterSetup(setup);  // no trailing slash: one is added
  RunResult r = Run(prog + "/tamsivo");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Marker(), expected);

  RegisterSetup(setup + "/");  // trailing slash: none added
  r = Run(prog + "/tamsivo");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Marker(), expected);

  // Key and value names ignore case; blanks around '=' and a CR LF file are fine.
  WriteRegistry("; dev setup\r\n[software\\QORVEX\\z\\install]\r\n  pATH =  " + setup + "  \r\n");
  r = Run(prog + "/tamsivo");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Marker(), expected);

  // A file beside the executable that is no library falls back to the registry too.
  WriteAll(prog + "/tesmo.qrr", "not a shared object");
  r = Run(prog + "/tamsivo");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Marker(), expected);
}

TEST_F(LoaderRun, BrokenRuntimesEndInTheErrorMessage) {
  InstallProgram(prog);
  for (const char* fake : {FAKE_NO_ENTRY, FAKE_NULL_START}) {
    SCOPED_TRACE(fake);
    Put(fake, prog + "/tesmo.qrr");
    const RunResult r = Run(prog + "/tamsivo");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, kErrorLine);
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(fs::exists(marker));
  }

  // The runtime refused the image: a failure, not a normal end.
  Put(FAKE_REFUSES, prog + "/tesmo.qrr");
  RunResult r = Run(prog + "/tamsivo");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, kErrorLine);
  EXPECT_EQ(Marker(), (std::vector<std::string>{prog + "/tesmo.qrr", "image", "refused"}));

  // The same through the registry.
  fs::remove(prog + "/tesmo.qrr");
  Put(FAKE_NULL_START, setup + "/tesmo.qre");
  RegisterSetup(setup);
  r = Run(prog + "/tamsivo");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, kErrorLine);
}

TEST_F(LoaderRun, ATruncatedRuntimeIsAFailureNotACrash) {
  InstallProgram(prog);
  // The real runtime, cut short (a full disk during an update): mapping it
  // would fault on the missing pages.
  const std::string whole = ReadAll(std::string(std::getenv("TAMSIVO_TEST_BIN")) + "/tesmo.qrr");
  ASSERT_GT(whole.size(), 200000u);
  for (size_t keep : {whole.size() / 2, whole.size() - 4096, size_t{64}, size_t{0}}) {
    SCOPED_TRACE(keep);
    WriteAll(prog + "/tesmo.qrr", whole.substr(0, keep));
    const RunResult r = Run(prog + "/tamsivo");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, kErrorLine);
  }
  // A library without section headers (as a stripped one may be) cut short
  // inside its last segment: only its segments tell.
  std::string bare = whole;
  ElfW(Ehdr) header;
  std::memcpy(&header, bare.data(), sizeof header);
  size_t segmentsEnd = 0;
  for (int i = 0; i < header.e_phnum; ++i) {
    ElfW(Phdr) ph;
    std::memcpy(&ph, bare.data() + header.e_phoff + i * sizeof ph, sizeof ph);
    segmentsEnd = std::max<size_t>(segmentsEnd, ph.p_offset + ph.p_filesz);
  }
  header.e_shoff = 0;
  header.e_shnum = 0;
  header.e_shstrndx = 0;
  std::memcpy(bare.data(), &header, sizeof header);
  WriteAll(prog + "/tesmo.qrr", bare.substr(0, segmentsEnd - 16));
  EXPECT_EQ(Run(prog + "/tamsivo").status, 255);
  // Text in the runtime's place, and a library built for another machine.
  std::string foreign = whole;
  foreign[18] = static_cast<char>(0xB7);  // e_machine: AArch64
  foreign[19] = 0;
  for (const std::string& bytes : {std::string("not a library\n"), foreign}) {
    WriteAll(prog + "/tesmo.qrr", bytes);
    const RunResult r = Run(prog + "/tamsivo");
    EXPECT_EQ(r.status, 255);
  }
}

TEST_F(LoaderRun, NoRuntimeAnywhere) {
  InstallProgram(prog);
  Put(FAKE_STARTS, setup + "/tesmo.qrr");  // wrong name for a setup directory

  const std::vector<std::string> registries = {
      "",                                                      // no registry file at all
      "[Software\\Qorvex\\Z\\Install]\nVersion=3\n",           // key without Path
      "[Software\\Qorvex\\Z]\nPath=" + setup + "\n",           // Path under another key
      "[Software\\Qorvex\\Z\\Install]\nPath=\n",               // empty Path
      "[Software\\Qorvex\\Z\\Install]\nPath=" + setup + "\n",  // no tesmo.qre there
      "[Software\\Qorvex\\Z\\Install]\nPath=" + root.path() + "/missing\n",
  };
  for (const auto& registry : registries) {
    SCOPED_TRACE(registry);
    if (registry.empty()) {
      fs::remove(config + "/tamsivo/registry.ini");
    } else {
      WriteRegistry(registry);
    }
    const RunResult r = Run(prog + "/tamsivo");
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.err, kErrorLine);
    EXPECT_FALSE(fs::exists(marker));
  }
}

TEST_F(LoaderRun, LongProgramDirectory) {
  // Well past the old 128-character module path, with blanks and UTF-8 on the way.
  std::string dir = prog;
  for (const char* part : {"程序 目录 ", "second level ", "third-level-"}) {
    std::string name = part;
    while (name.size() < 120) name += 'x';
    dir += "/" + name;
  }
  ASSERT_GT(dir.size(), 300u);
  InstallProgram(dir);
  Put(FAKE_STARTS, dir + "/tesmo.qrr");

  RunResult r = Run(dir + "/tamsivo");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(Marker(), (std::vector<std::string>{dir + "/tesmo.qrr", "image", "ran"}));

  // A long registry path works as well.
  fs::remove(dir + "/tesmo.qrr");
  Put(FAKE_STARTS, dir + "/tesmo.qre");
  RegisterSetup(dir);
  r = Run(dir + "/tamsivo");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(Marker(), (std::vector<std::string>{dir + "/tesmo.qre", "image", "ran"}));
}

TEST_F(LoaderRun, ErrorDialogWhenADisplayIsSet) {
  InstallProgram(prog);
  const std::string bin = root.path() + "/bin", log = root.path() + "/dialog.log";
  fs::create_directories(bin);
  const auto tool = [&](const std::string& name) {
    const std::string path = bin + "/" + name;
    WriteAll(path, "#!/bin/sh\nprintf '%s\\n' \"${0##*/}\" \"$@\" > \"$DIALOG_LOG\"\n");
    fs::permissions(path, fs::perms::owner_all);
  };
  const std::string msg = kLoaderErrorText;
  env = {"HOME=" + root.path() + "/home", "XDG_CONFIG_HOME=" + config, "PATH=" + bin,
         "DIALOG_LOG=" + log};

  // No display: standard error only, no dialog tool started.
  tool("zenity");
  RunResult r = Run(prog + "/tamsivo");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, kErrorLine);
  EXPECT_FALSE(fs::exists(log));

  env.push_back("DISPLAY=:57");
  r = Run(prog + "/tamsivo");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, kErrorLine);
  EXPECT_EQ(ReadAll(log), "zenity\n--error\n--title=Error\n--text=" + msg + "\n");

  // The first tool that exists is used.
  fs::remove(bin + "/zenity");
  tool("kdialog");
  tool("xmessage");
  r = Run(prog + "/tamsivo");
  EXPECT_EQ(ReadAll(log), "kdialog\n--title\nError\n--error\n" + msg + "\n");

  fs::remove(bin + "/kdialog");
  env.back() = "WAYLAND_DISPLAY=wayland-57";
  r = Run(prog + "/tamsivo");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, kErrorLine);
  EXPECT_EQ(ReadAll(log), "xmessage\n-title\nError\n-center\n" + msg + "\n");

  // None available: still the message on standard error and the failure status.
  fs::remove(bin + "/xmessage");
  fs::remove(log);
  r = Run(prog + "/tamsivo");
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.err, kErrorLine);
}

// Sets an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(UserRegistry, FindsValuesByKeyAndName) {
  const std::string text =
      "\xEF\xBB\xBF# comment\n"
      "Path=/outside/any/key\n"
      "[Software\\Other]\n"
      "Path=/other\n"
      "[ Software\\Qorvex\\Z\\Install ]\r\n"
      "; Path=/commented\n"
      "line without equals sign\n"
      "\tPATH\t=\t/home/用户/dev setup/ \r\n"
      "Path=/second/copy\n"
      "Query=a=b\n"
      "Empty=\n"
      "[Software\\Qorvex\\Z\\Install\\Sub]\n"
      "Deep=1";
  const std::string_view key = "software\\qorvex\\z\\INSTALL";
  EXPECT_EQ(FindRegistryValue(text, key, "path"), "/home/用户/dev setup/");
  EXPECT_EQ(FindRegistryValue(text, key, "Query"), "a=b");
  EXPECT_EQ(FindRegistryValue(text, key, "Empty"), "");
  EXPECT_EQ(FindRegistryValue(text, key, "Deep"), std::nullopt);
  EXPECT_EQ(FindRegistryValue(text, key, "Missing"), std::nullopt);
  EXPECT_EQ(FindRegistryValue(text, "Software\\Other", "Path"), "/other");
  EXPECT_EQ(FindRegistryValue(text, "Software\\Qorvex\\Z\\Install\\Sub", "deep"), "1");
  EXPECT_EQ(FindRegistryValue(text, "Software\\Qorvex\\Z", "Path"), std::nullopt);
  EXPECT_EQ(FindRegistryValue("", key, "Path"), std::nullopt);
}

TEST(UserRegistry, FileUnderTheConfigurationDirectory) {
  TempDir tmp;
  const std::string home = tmp.path() + "/home", config = tmp.path() + "/config";
  fs::create_directories(home + "/.config/tamsivo");
  fs::create_directories(config + "/tamsivo");
  WriteAll(home + "/.config/tamsivo/registry.ini", "[K]\nv=from home\n");
  WriteAll(config + "/tamsivo/registry.ini", "[K]\nv=from config\n");
  ScopedEnv homeEnv("HOME", home.c_str());
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", config.c_str());
    EXPECT_EQ(UserRegistryFile(), config + "/tamsivo/registry.ini");
    EXPECT_EQ(ReadUserRegistryValue("k", "V"), "from config");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(ReadUserRegistryValue("K", "v"), "from home");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", "relative/is/ignored");
    EXPECT_EQ(ReadUserRegistryValue("K", "v"), "from home");
  }
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", (tmp.path() + "/nowhere").c_str());
    EXPECT_EQ(ReadUserRegistryValue("K", "v"), std::nullopt);
  }
}

TEST(Module, ExecutablePathAndLibraryLookup) {
  const std::string exe = ExecutableFileName();
  const std::string dir = ExecutableDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir + "/loader_test", exe);
  EXPECT_NE(dir.back(), '/');

  // A bare name is found beside the executable, where the stand-ins are built.
  const std::string bare = fs::path(FAKE_STARTS).filename().string();
  ASSERT_EQ(fs::path(FAKE_STARTS).parent_path().string(), dir);
  void* starts = LoadModule(bare);
  ASSERT_NE(starts, nullptr);
  EXPECT_NE(ModuleEntry(starts, "GetNewSock"), nullptr);
  EXPECT_EQ(ModuleEntry(starts, "NoSuchEntry"), nullptr);
  FreeModule(starts);

  void* noEntry = LoadModule(FAKE_NO_ENTRY);
  ASSERT_NE(noEntry, nullptr);
  EXPECT_EQ(ModuleEntry(noEntry, "GetNewSock"), nullptr);
  FreeModule(noEntry);

  // Not beside the executable: the system's search.
  void* libc = LoadModule("libc.so.6");
  EXPECT_NE(libc, nullptr);
  FreeModule(libc);
  EXPECT_EQ(LoadModule("tamsivo-no-such-library.so"), nullptr);
  EXPECT_EQ(LoadModule(""), nullptr);
  FreeModule(nullptr);
}

}  // namespace
