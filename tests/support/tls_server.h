// A throwaway certificate authority and https servers on 127.0.0.1 for the
// tests of pages read over TLS. The keys and certificates are made with the
// openssl command in a temporary directory and removed with it.
#pragma once

#include <httplib.h>
#include <stdlib.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace local {

class TestCertificates {
 public:
  TestCertificates() {
    std::string dir = (std::filesystem::temp_directory_path() / "tamsivo-tls-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) return;
    dir_ = dir;
    const std::string newKey =
        " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj ";
    // The CA, a server certificate it signed for this machine's loopback
    // names, one it signed for another name, and one nobody signed.
    std::ofstream(dir_ / "names.cnf") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
    std::ofstream(dir_ / "other.cnf") << "subjectAltName=DNS:elsewhere.invalid\n";
    ok_ = Run("openssl req -x509" + newKey +
              "/CN=TamsivoTestCA -addext basicConstraints=critical,CA:TRUE "
              "-addext keyUsage=critical,keyCertSign -keyout ca.key -out ca.pem") &&
          Signed("server", "names.cnf") && Signed("misnamed", "other.cnf") &&
          Run("openssl req -x509" + newKey +
              "/CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout selfsigned.key "
              "-out selfsigned.pem");
  }
  ~TestCertificates() {
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  bool ok() const { return ok_; }
  std::string Ca() const { return (dir_ / "ca.pem").string(); }
  std::string Cert(const std::string& name) const { return (dir_ / (name + ".pem")).string(); }
  std::string Key(const std::string& name) const { return (dir_ / (name + ".key")).string(); }

 private:
  bool Run(const std::string& command) {
    const std::string line = "cd '" + dir_.string() + "' && " + command + " >/dev/null 2>&1";
    return std::system(line.c_str()) == 0;
  }
  bool Signed(const std::string& name, const std::string& extensions) {
    return Run("openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
               "-subj /CN=127.0.0.1 -keyout " +
               name + ".key -out " + name + ".csr") &&
           Run("openssl x509 -req -in " + name +
               ".csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile " + extensions +
               " -out " + name + ".pem");
  }

  std::filesystem::path dir_;
  bool ok_ = false;
};

// An https server on 127.0.0.1 with the given certificate and key.
class TlsWebServer {
 public:
  TlsWebServer(const std::string& cert, const std::string& key)
      : server(cert.c_str(), key.c_str()) {}
  httplib::SSLServer server;

  bool Start() {
    if (!server.is_valid()) return false;
    port_ = server.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server.listen_after_bind(); });
    while (!server.is_running()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
  }
  ~TlsWebServer() {
    server.stop();
    if (thread_.joinable()) thread_.join();
  }
  std::string Url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + path;
  }

 private:
  int port_ = 0;
  std::thread thread_;
};

}  // namespace local
