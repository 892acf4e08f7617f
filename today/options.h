// The options window.
#pragma once

#include "base/program_image.h"

void LoadOptionsWindow(image::EventArgs&);
void OnPinBox(image::EventArgs&);            // 选择框1
void OnClickThroughBox(image::EventArgs&);   // 选择框2
void OnStartAtBootBox(image::EventArgs&);    // 选择框3
void OnTrayBox(image::EventArgs&);           // 选择框4
void OnReturnToTodayBox(image::EventArgs&);  // 选择框5
void OnShowLunarBox(image::EventArgs&);      // 选择框6
void OnPastYearsBox(image::EventArgs&);      // 选择框7
void OnPositionButton(image::EventArgs&);    // 单选框1 (the others are routed to it)
void OnRecordModeButton(image::EventArgs&);  // 单选框_记录方式1 (记录方式2 routed to it)
void OnCloseOptionsWindow(image::EventArgs&);  // Escape
