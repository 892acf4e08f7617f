// Items of a sectioned key=value file kept in GBK with CR LF lines. Only the
// line of the item written changes; every other byte stays as it was.
#pragma once

#include <string>
#include <string_view>

namespace ini {

// Section, key and result are UTF-8. Missing file, section or key, or a file
// that cannot be read, gives empty text.
std::string ReadItem(const std::string& path, std::string_view section, std::string_view key);

// Replaces the item or adds it (with its section when that is missing too).
// The new content goes to a temporary file in the same directory that is then
// renamed over the old one, so the file is always either old or new. A file
// without write permission bits is left alone and reported.
bool WriteItem(const std::string& path, std::string_view section, std::string_view key,
               std::string_view value, std::string* error = nullptr);

// The same operations on bytes in memory (used by the above and by tests).
std::string ReadItemFromBytes(std::string_view fileBytes, std::string_view section,
                              std::string_view key);
std::string WriteItemToBytes(std::string_view fileBytes, std::string_view section,
                             std::string_view key, std::string_view value);

}  // namespace ini
