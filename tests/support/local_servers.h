// Servers of the tests' own on 127.0.0.1 and a time-zone switch, for the
// HTTP and time-correction tests.
#pragma once

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

namespace local {

class WebServer {
 public:
  httplib::Server server;
  std::atomic<int> requests{0};

  void Start() {
    server.set_pre_routing_handler([this](const httplib::Request&, httplib::Response&) {
      ++requests;
      return httplib::Server::HandlerResponse::Unhandled;
    });
    port_ = server.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ~WebServer() {
    server.stop();
    if (thread_.joinable()) thread_.join();
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  int port_ = 0;
  std::thread thread_;
};

// A listening socket on 127.0.0.1 at a port the system picks.
inline int ListenOnLoopback(int* port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  listen(fd, 4);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  *port = ntohs(addr.sin_port);
  return fd;
}

// A bare socket server: records the request bytes exactly as they came and
// sends a canned answer, or says nothing at all.
class RawServer {
 public:
  RawServer(std::string answer, bool silent)
      : answer_(std::move(answer)), silent_(silent), fd_(ListenOnLoopback(&port_)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~RawServer() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  std::string Url(const std::string& path) const {
    return "127.0.0.1:" + std::to_string(port_) + path;
  }
  std::string Request() {
    std::lock_guard lock(mutex_);
    return request_;
  }

 private:
  bool Wait(int fd) {
    pollfd p{fd, POLLIN, 0};
    while (!stop_) {
      if (poll(&p, 1, 20) > 0) return true;
    }
    return false;
  }
  void Run() {
    while (Wait(fd_)) {
      const int conn = accept(fd_, nullptr, nullptr);
      if (conn < 0) continue;
      std::string got;
      char buffer[4096];
      while (got.find("\r\n\r\n") == std::string::npos && Wait(conn)) {
        const ssize_t n = read(conn, buffer, sizeof buffer);
        if (n <= 0) break;
        got.append(buffer, static_cast<size_t>(n));
      }
      {
        std::lock_guard lock(mutex_);
        request_ = got;
      }
      if (silent_) {
        while (Wait(conn) && read(conn, buffer, sizeof buffer) > 0) {
        }
      } else {
        [[maybe_unused]] const ssize_t n = write(conn, answer_.data(), answer_.size());
      }
      close(conn);
    }
  }

  std::string answer_;
  bool silent_;
  int port_ = 0;  // before fd_: the listening socket sets it
  int fd_ = -1;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::string request_;
  std::thread thread_;
};

inline const std::string kAccept =
    "Accept: image/gif, image/bmp, image/x-xbitmap, image/jpeg, image/pjpeg, "
    "application/x-shockwave-flash, application/vnd.ms-excel, application/vnd.ms-powerpoint, "
    "application/msword, */*\r\n";

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// Runs a block with the computer's time zone set to `tz`.
class TimeZone {
 public:
  explicit TimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~TimeZone() {
    if (old_) {
      setenv("TZ", old_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> old_;
};

}  // namespace local
