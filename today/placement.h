// Where the today-memo window stands.
#pragma once

#include "base/program_image.h"

void PlaceTodayWindow();
void SaveTodayWindowPosition();

void OnMainWindowMoved(image::EventArgs&);
void OnTodayWindowMoved(image::EventArgs&);
