#include "base/textnum.h"

#include <charconv>
#include <climits>
#include <cmath>

namespace {

// Whether an out-of-range number is too large (rather than too small): the
// decimal exponent of its first significant digit says which, since the two
// limits lie over six hundred powers of ten apart.
bool TooLarge(std::string_view num) {
  size_t i = num.empty() || (num[0] != '-' && num[0] != '+') ? 0 : 1;
  while (i < num.size() && num[i] == '0') ++i;
  long long magnitude = 0;
  while (i < num.size() && num[i] >= '0' && num[i] <= '9') {
    ++magnitude;
    ++i;
  }
  if (i < num.size() && num[i] == '.') {
    ++i;
    if (magnitude == 0) {
      while (i < num.size() && num[i] == '0') {
        --magnitude;
        ++i;
      }
    }
    while (i < num.size() && num[i] >= '0' && num[i] <= '9') ++i;
  }
  long long exponent = 0;
  if (i < num.size() && (num[i] == 'e' || num[i] == 'E')) {
    ++i;
    const bool negative = i < num.size() && num[i] == '-';
    if (i < num.size() && (num[i] == '-' || num[i] == '+')) ++i;
    for (; i < num.size(); ++i) {
      if (exponent < 1000000000) exponent = exponent * 10 + (num[i] - '0');
    }
    if (negative) exponent = -exponent;
  }
  return magnitude + exponent > 0;
}

}  // namespace

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
    const bool negative = num.front() == '-';
    if (!TooLarge(num)) return negative ? -0.0 : 0.0;
    return negative ? -HUGE_VAL : HUGE_VAL;
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
