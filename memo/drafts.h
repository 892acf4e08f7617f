// Memo texts kept on disk outside the store: the draft of the open editor
// (so a crash, a kill or a power cut loses at most the last second of
// typing) and recovery files (texts the store would not take). Both live
// beside the store and are offered back at the next start.
#pragma once

#include <string>
#include <vector>

inline constexpr const char* kDraftFolder = "草稿";
inline constexpr const char* kRecoveryFolder = "恢复";

struct LeftoverText {
  std::string path;
  double day = 0;
  std::string text;
  bool recovery = false;  // a recovery file rather than an editor's draft
};

// Picks the draft file of an editing session for `day` (not yet written).
std::string NewDraftPath(double day, double now);
// Writes the draft atomically and durably; false with the reason.
bool WriteDraft(const std::string& path, const std::string& text, std::string* error);
// Writes a recovery file and returns its path; empty with the reason when
// it could be written nowhere.
std::string WriteRecoveryFile(double day, const std::string& text, double now, std::string* error);
// Drafts and recovery files found on disk, oldest day first.
std::vector<LeftoverText> FindLeftoverTexts();
// The folders FindLeftoverTexts looks in: drafts first.
std::vector<std::string> LeftoverTextDirectories();
// Removes a draft or recovery file (missing is fine).
void RemoveLeftover(const std::string& path);
// "2026-12-07" for a day; the day of such a file-name prefix (nullopt-like
// NaN when the name does not start with one).
std::string DayFileStem(double day);
double DayOfFileName(const std::string& name);
