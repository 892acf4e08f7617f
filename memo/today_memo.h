// What the today-memo window shows.
#pragma once

#include "base/program_image.h"

// 今天没有备忘的事情
inline constexpr const char NoMemoText[] =
    "\xe4\xbb\x8a\xe5\xa4\xa9\xe6\xb2\xa1\xe6\x9c\x89\xe5\xa4\x87\xe5\xbf\x98\xe7\x9a\x84\xe4"
    "\xba\x8b\xe6\x83\x85";

void RefreshTodayMemo();
void OnTodayMemoWindowCreated(image::EventArgs&);
