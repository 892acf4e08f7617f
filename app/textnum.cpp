#include "app/textnum.h"

#include <charconv>
#include <climits>
#include <cmath>

double TextToNumber(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  const size_t start = i;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  const size_t digitsStart = i;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
  bool any = i > digitsStart;
  if (i < s.size() && s[i] == '.') {
    const size_t f = ++i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    any = any || i > f;
  }
  if (!any) return 0.0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    size_t j = i + 1;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
    const size_t e = j;
    while (j < s.size() && s[j] >= '0' && s[j] <= '9') ++j;
    if (j > e) i = j;
  }
  std::string_view num = s.substr(start, i - start);
  if (!num.empty() && num.front() == '+') num.remove_prefix(1);
  double v = 0.0;
  auto res = std::from_chars(num.data(), num.data() + num.size(), v);
  if (res.ec == std::errc::result_out_of_range) {
    return num.front() == '-' ? -HUGE_VAL : HUGE_VAL;
  }
  return res.ec == std::errc() ? v : 0.0;
}

int TextToInt(std::string_view text) {
  const double v = std::trunc(TextToNumber(text));
  if (std::isnan(v)) return 0;
  if (v >= static_cast<double>(INT_MAX)) return INT_MAX;
  if (v <= static_cast<double>(INT_MIN)) return INT_MIN;
  return static_cast<int>(v);
}

bool NearWhole(double value, int k) { return std::fabs(value - k) <= 1e-7; }

std::string IntToText(long long value) { return std::to_string(value); }
