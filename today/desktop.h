// Pinning both windows to the desktop.
#pragma once

#include "app/program_image.h"

void ApplyDesktopEmbedding();
void OnEmbedMenu(image::EventArgs&);
