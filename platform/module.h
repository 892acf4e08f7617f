// Loading shared libraries and finding the running executable.
#pragma once

#include <string>

// Loads a shared library. A bare file name (no '/') is looked for in the
// program directory first, then by the system's library search; anything else
// is taken as a path. Returns nullptr when it does not load.
void* LoadModule(const std::string& pathOrName);

// Whether `path` is a whole shared library for this machine: an ELF file of
// the process's own class and machine whose segments all lie inside it.
bool IsLoadableLibrary(const std::string& path);

// Address of an exported symbol, or nullptr.
void* ModuleEntry(void* module, const char* name);

// Releases a library from LoadModule; nullptr is ignored.
void FreeModule(void* module);

// Full path of the running executable, or "" when it cannot be found.
std::string ExecutableFileName();

// The directory holding the executable, without a trailing slash ("/" for the
// root), or "" when it cannot be found.
std::string ExecutableDirectory();
