// Opening a web page in the user's browser.
#pragma once

#include <string>

// Starts the desktop's opener for `url` and returns at once; the opener runs
// on its own and is never left behind as a zombie. Failures are silent.
void OpenWebPage(const std::string& url);
