// What the crash driver writes and the crash test expects: the day and text
// of memo N, and the journal lines the driver appends once a save returned.
#pragma once

#include <string>

#include "base/datetime.h"

namespace crash {

// First 左边 value the driver writes; the default file holds 117.
inline constexpr long kFirstSetting = 1000;

inline double MemoDay(long n) { return MakeDateTime(2000, 1, 1) + static_cast<double>(n); }

// "memo N" then padding of a size that varies with N (up to about 9 KB, so
// some saves span several store pages) made of ASCII and Chinese text.
inline std::string MemoText(long n) {
  std::string text = "memo " + std::to_string(n) + "\r\n";
  const long pieces = (n * 7919) % 700;
  for (long i = 0; i < pieces; ++i) text += (i % 3 == 0) ? "备忘" : "pad-";
  return text;
}

// Journal lines: "S <value>" after a settings write returned true,
// "M <n>" after SaveDayMemo returned true, "R" once the program had started.
inline constexpr char kSettingTag = 'S';
inline constexpr char kMemoTag = 'M';
inline constexpr char kReadyTag = 'R';

}  // namespace crash
