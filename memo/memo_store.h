// The memo store: at most one record per day, fields 日期 and 事情.
#pragma once

#include <string>
#include <vector>

#include "base/program.h"
#include "base/program_image.h"

inline constexpr const char* kMemoStoreBaseName = "事件数据";

// Creates the store when the file is missing, then opens it. A file that
// cannot be opened is left exactly as it is and the user is told once.
void OpenMemoStore();
// Tries once more, without a message, when the store is not open.
bool ReopenMemoStore();
bool MemoStoreOpen();
// While the store is not open, a line for the windows saying that it could
// not be read and why; empty while it is open.
std::string MemoStoreClosedNotice();
// The store is open and its whole-file check has passed.
bool MemoStoreChecked();
// The store's whole-file check has its verdict: a damaged store is reported
// once and never written to.
void OnStoreChecked(image::EventArgs&);
bool FindDayMemo(double day);
std::string ReadMemoText();
// true when the text is durably stored (or nothing needed storing); on false,
// `error` says why.
bool SaveDayMemo(double day, const std::string& text, std::string* error = nullptr);
double ClampDate(double value);
// Days in [from, to] with a non-empty memo (for marking the calendar).
std::vector<double> DaysWithMemo(double from, double to);
// The same days with the first `startBytes` bytes of each memo.
std::vector<rt::DayText> MemoStarts(double from, double to, int startBytes);
// The same for the given days only, in one look-up, by day.
std::vector<rt::DayText> MemoStartsOn(const std::vector<double>& days, int startBytes);
