// The sync password: never in Start.ini, logs or standard error. Kept by
// the desktop's Secret Service (libsecret, opened on first use), or where
// none answers, in a file beside the memos that only the user can read.
#pragma once

#include <string>

namespace davsync {

// The file's name in the data directory.
inline constexpr const char* kPasswordFileName = "同步密码";

enum class PasswordSource { kNone, kFile, kSecretService };

// Looks in `file` first (the user chose it), then the Secret Service under
// the address and user. No password found is no error (a server may ask
// for none); a file others could read, or one of another user, is, and so
// is a file the program wrote for another address or user.
[[nodiscard]] bool LookUpPassword(const std::string& file, const std::string& address,
                                  const std::string& user, std::string* password,
                                  PasswordSource* source, std::string* error);

// Stores the password in the Secret Service; false when none answers
// (`error` says so, and the caller may offer the file instead).
[[nodiscard]] bool StoreInSecretService(const std::string& address, const std::string& user,
                                        const std::string& password, std::string* error);
// Writes the file through the file layer, 0600: the password, then the
// address and user it is for.
[[nodiscard]] bool StorePasswordFile(const std::string& file, const std::string& password,
                                     const std::string& address, const std::string& user,
                                     std::string* error);

}  // namespace davsync
