// Fetching a 50 MB body from a local server: the HTTP routine (which lets
// window events run between reads) against the curl command line. Reports the
// time ratio (goal: at most 1.2) and the process's peak memory.
#include <benchmark/benchmark.h>
#include <curl/curl.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "net/http.h"
#include "tests/support/test_program.h"

extern char** environ;

namespace {

constexpr size_t kBodyBytes = size_t{50} << 20;

// Serves the body from a child process of its own, out of one small buffer,
// so that neither its memory nor its CPU time counts as the client's.
class BodyServer {
 public:
  BodyServer() {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      Serve(fds[1]);
      _exit(0);
    }
    close(fds[1]);
    if (read(fds[0], &port_, sizeof port_) != sizeof port_) port_ = 0;
    close(fds[0]);
  }
  ~BodyServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool ok() const { return port_ > 0; }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/body"; }

 private:
  static void Serve(int reportFd) {
    const std::string chunk(64 * 1024, 'x');
    httplib::Server server;
    server.Get("/body", [&](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(
          kBodyBytes, "application/octet-stream",
          [&](size_t offset, size_t length, httplib::DataSink& sink) {
            const size_t n = std::min({length, chunk.size(), kBodyBytes - offset});
            return sink.write(chunk.data(), n);
          });
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    [[maybe_unused]] const ssize_t n = write(reportFd, &port, sizeof port);
    close(reportFd);
    server.listen_after_bind();
  }

  pid_t pid_ = 0;
  int port_ = 0;
};

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// Wall time of `curl -s -o /dev/null URL`; negative when curl cannot run.
double CurlCommandSeconds(const std::string& url) {
  const char* argv[] = {"curl", "-s", "-o", "/dev/null", "--noproxy", "*", url.c_str(), nullptr};
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, "curl", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
    return -1;
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return Seconds(std::chrono::steady_clock::now() - start);
}

// User plus system CPU seconds of this process, or of its reaped children.
double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double PeakRssMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB
}

void BM_Fetch50MB(benchmark::State& state) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  std::string dataHome = (std::filesystem::temp_directory_path() / "tamsivo-bench-XXXXXX").string();
  if (mkdtemp(dataHome.data()) == nullptr) {
    state.SkipWithError("mkdtemp failed");
    return;
  }
  setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
  BodyServer server;
  TestProgram program;
  if (!server.ok()) {
    state.SkipWithError("no server");
    return;
  }
  const double peakBefore = PeakRssMiB();
  double ours = 0, curl = 0, oursCpu = 0, curlCpu = 0;
  bool haveCurl = true;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = CpuSeconds(RUSAGE_SELF);
    const std::string body = 网页_访问(server.Url());
    const double took = Seconds(std::chrono::steady_clock::now() - start);
    oursCpu += CpuSeconds(RUSAGE_SELF) - cpuStart;
    if (body.size() != kBodyBytes) {
      state.SkipWithError("short body");
      break;
    }
    state.SetIterationTime(took);
    ours += took;
    const double childCpu = CpuSeconds(RUSAGE_CHILDREN);
    const double c = CurlCommandSeconds(server.Url());
    curlCpu += CpuSeconds(RUSAGE_CHILDREN) - childCpu;
    if (c < 0) haveCurl = false;
    curl += c;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBodyBytes));
  state.counters["peak_rss_MiB"] = PeakRssMiB();
  state.counters["peak_rise_MiB"] = PeakRssMiB() - peakBefore;
  if (haveCurl && curl > 0) {
    state.counters["ratio_to_curl"] = ours / curl;
    state.counters["cpu_ratio_to_curl"] = oursCpu / curlCpu;
  }
  std::filesystem::remove_all(dataHome);
}
BENCHMARK(BM_Fetch50MB)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

// libcurl's blocking call into a string, without window events: the floor
// for the routine.
size_t Append(char* data, size_t size, size_t count, void* body) {
  static_cast<std::string*>(body)->append(data, size * count);
  return size * count;
}

void BM_Fetch50MB_PlainLibcurl(benchmark::State& state) {
  BodyServer server;
  if (!server.ok()) {
    state.SkipWithError("no server");
    return;
  }
  const std::string url = server.Url();
  for (auto _ : state) {
    std::string body;
    body.reserve(kBodyBytes);
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, Append);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &body);
    const auto start = std::chrono::steady_clock::now();
    curl_easy_perform(easy);
    state.SetIterationTime(Seconds(std::chrono::steady_clock::now() - start));
    curl_easy_cleanup(easy);
    if (body.size() != kBodyBytes) state.SkipWithError("short body");
  }
}
BENCHMARK(BM_Fetch50MB_PlainLibcurl)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
