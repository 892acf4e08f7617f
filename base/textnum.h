// Number conversions shared by settings, placement and the URL routines.
#pragma once

#include <string>
#include <string_view>

// Leading blanks, an optional sign, digits with an optional fraction and
// exponent; whatever follows is ignored. No number gives 0.
double TextToNumber(std::string_view text);
// TextToNumber cut toward zero to a 32-bit integer (clamped; NaN gives 0).
int TextToInt(std::string_view text);
// |value - k| <= 1e-7.
bool NearWhole(double value, int k);
std::string IntToText(long long value);
