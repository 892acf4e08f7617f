// Fetching a 50 MB body from a local server: the HTTP routine (which lets
// window events run between reads) against the curl command line. Reports the
// time ratio (goal: at most 1.2) and the process's peak memory.
#include <benchmark/benchmark.h>
#include <httplib.h>
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

// Serves the body from one small buffer, so the server adds nothing to the
// process's peak memory.
class BodyServer {
 public:
  BodyServer() {
    chunk_.assign(64 * 1024, 'x');
    server_.Get("/body", [this](const httplib::Request&, httplib::Response& res) {
      res.set_content_provider(
          kBodyBytes, "application/octet-stream",
          [this](size_t offset, size_t length, httplib::DataSink& sink) {
            const size_t n = std::min({length, chunk_.size(), kBodyBytes - offset});
            return sink.write(chunk_.data(), n);
          });
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
    while (!server_.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~BodyServer() {
    server_.stop();
    thread_.join();
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/body"; }

 private:
  httplib::Server server_;
  std::string chunk_;
  int port_ = 0;
  std::thread thread_;
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
  TestProgram program;
  BodyServer server;
  const double peakBefore = PeakRssMiB();
  double ours = 0, curl = 0;
  bool haveCurl = true;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const std::string body = 网页_访问(server.Url());
    const double took = Seconds(std::chrono::steady_clock::now() - start);
    if (body.size() != kBodyBytes) {
      state.SkipWithError("short body");
      break;
    }
    state.SetIterationTime(took);
    ours += took;
    const double c = CurlCommandSeconds(server.Url());
    if (c < 0) haveCurl = false;
    curl += c;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBodyBytes));
  state.counters["peak_rss_MiB"] = PeakRssMiB();
  state.counters["peak_rise_MiB"] = PeakRssMiB() - peakBefore;
  if (haveCurl && curl > 0) state.counters["ratio_to_curl"] = ours / curl;
  std::filesystem::remove_all(dataHome);
}
BENCHMARK(BM_Fetch50MB)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
