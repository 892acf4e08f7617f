// A file or a folder to import, read whole: a folder is walked (subfolders
// as daily-note tools nest them, YYYY/ and YYYY/MM/), each file recognised
// on its own. Links are never followed and only the user's own regular
// files are read; everything read is bounded (entries.h).
#pragma once

#include <atomic>
#include <string>

#include "intake/entries.h"

namespace intake {

// Never fails as a whole: what could not be read is in `problems` and
// `skipped`. `stop`, when set, ends the walk between two files.
Reading ReadPath(const std::string& path, const std::atomic<bool>* stop = nullptr);

}  // namespace intake
