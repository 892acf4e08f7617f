#include "sync/password.h"

#include <dlfcn.h>
#include <libsecret/secret.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "util/file_io.h"

namespace davsync {
namespace {

// Linking libsecret would load GLib's D-Bus stack at every start of the
// program; it is opened when a password is first asked for.
struct SecretApi {
  bool ok = false;
  gchar* (*lookup)(const SecretSchema*, GCancellable*, GError**, ...);
  gboolean (*store)(const SecretSchema*, const gchar*, const gchar*, const gchar*, GCancellable*,
                    GError**, ...);
  void (*freePassword)(gchar*);
  void (*freeError)(GError*);
};

const SecretApi& Api() {
  static const SecretApi api = [] {
    SecretApi a{};
    void* lib = dlopen("libsecret-1.so.0", RTLD_NOW | RTLD_LOCAL);
    void* glib = dlopen("libglib-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!lib || !glib) return a;
    a.lookup = reinterpret_cast<decltype(a.lookup)>(dlsym(lib, "secret_password_lookup_sync"));
    a.store = reinterpret_cast<decltype(a.store)>(dlsym(lib, "secret_password_store_sync"));
    a.freePassword = reinterpret_cast<decltype(a.freePassword)>(dlsym(lib, "secret_password_free"));
    a.freeError = reinterpret_cast<decltype(a.freeError)>(dlsym(glib, "g_error_free"));
    a.ok = a.lookup && a.store && a.freePassword && a.freeError;
    return a;
  }();
  return api;
}

const SecretSchema* Schema() {
  static const SecretSchema schema = {"org.tamsivo.Sync",
                                      // Items stored by hand with secret-tool carry no schema name.
                                      SECRET_SCHEMA_DONT_MATCH_NAME,
                                      {{"server", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                       {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                      0,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr,
                                      nullptr};
  return &schema;
}

// Without a session bus GLib would try to start one through X11; there is
// then no Secret Service to ask.
bool SessionBus() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address && *address) return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat st {};
  return runtime && *runtime && ::stat((std::string(runtime) + "/bus").c_str(), &st) == 0 &&
         S_ISSOCK(st.st_mode);
}

std::string WithoutLineEnd(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// The lines after the password in a file the program wrote.
constexpr const char* kFileAddress = "# 地址=";
constexpr const char* kFileUser = "# 用户名=";

std::string WithoutSlash(std::string url) {
  while (!url.empty() && url.back() == '/') url.pop_back();
  return url;
}

}  // namespace

bool LookUpPassword(const std::string& file, const std::string& address, const std::string& user,
                    std::string* password, PasswordSource* source, std::string* error) {
  password->clear();
  *source = PasswordSource::kNone;
  struct stat st {};
  if (!file.empty() && ::lstat(file.c_str(), &st) == 0) {
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
      *error = "密码文件“" + file + "”不是本用户的普通文件，没有使用";
      return false;
    }
    if ((st.st_mode & 077) != 0) {
      *error =
          "密码文件“" + file + "”别的用户也能读取，没有使用；请把它的权限改为只有自己可读（600）";
      return false;
    }
    std::string bytes;
    int err = 0;
    if (!fileio::ReadWholeFile(file, &bytes, &err, 4096)) {
      *error = "无法读取密码文件：" + fileio::ErrorText(err);
      return false;
    }
    // The password is the first line. Lines the program adds after it name
    // the server and user it was typed for; a file without them (written
    // by hand) is for whatever Start.ini names.
    const std::size_t end = bytes.find('\n');
    std::string boundAddress, boundUser;
    bool bound = false;
    for (std::size_t at = end; at != std::string::npos && at < bytes.size();) {
      const std::size_t next = bytes.find('\n', at + 1);
      const std::string line =
          WithoutLineEnd(bytes.substr(at + 1, next == std::string::npos ? next : next - at - 1));
      if (line.starts_with(kFileAddress)) {
        boundAddress = line.substr(std::strlen(kFileAddress));
        bound = true;
      } else if (line.starts_with(kFileUser)) {
        boundUser = line.substr(std::strlen(kFileUser));
      }
      at = next;
    }
    if (bound && (WithoutSlash(boundAddress) != WithoutSlash(address) || boundUser != user)) {
      *error = "保存的密码是给另一个服务器或用户的（" + boundAddress + "），请输入这个服务器的密码";
      return false;
    }
    *password = WithoutLineEnd(bytes.substr(0, end));
    *source = PasswordSource::kFile;
    return true;
  }
  if (!SessionBus() || !Api().ok) return true;
  GError* gerror = nullptr;
  gchar* found = Api().lookup(Schema(), nullptr, &gerror, "server", address.c_str(), "user",
                              user.c_str(), nullptr);
  if (gerror) {
    // Only the library's words, never the password.
    std::fprintf(stderr, "tamsivo: secret service: %s\n", gerror->message);
    Api().freeError(gerror);
  }
  if (found) {
    *password = found;
    *source = PasswordSource::kSecretService;
    Api().freePassword(found);
  }
  return true;
}

bool StoreInSecretService(const std::string& address, const std::string& user,
                          const std::string& password, std::string* error) {
  if (!SessionBus() || !Api().ok) {
    *error = "找不到桌面的密码服务";
    return false;
  }
  GError* gerror = nullptr;
  const gboolean stored =
      Api().store(Schema(), SECRET_COLLECTION_DEFAULT, "Tamsivo 同步密码", password.c_str(),
                  nullptr, &gerror, "server", address.c_str(), "user", user.c_str(), nullptr);
  if (gerror) {
    std::fprintf(stderr, "tamsivo: secret service: %s\n", gerror->message);
    Api().freeError(gerror);
  }
  if (!stored) *error = "桌面的密码服务没有应答，密码没有保存";
  return stored;
}

bool StorePasswordFile(const std::string& file, const std::string& password,
                       const std::string& address, const std::string& user, std::string* error) {
  return fileio::ReplaceFileAtomically(
      file, password + "\n" + kFileAddress + address + "\n" + kFileUser + user + "\n",
      {fileio::NewFileMode::kOwnerOnly, false}, error);
}

}  // namespace davsync
