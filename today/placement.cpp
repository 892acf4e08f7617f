#include "today/placement.h"

#include "base/program.h"
#include "base/textnum.h"
#include "settings/settings.h"

namespace {

// 模式 is a number; only values within 1e-7 of a whole mode count.
int PlacementMode() {
  const double v = TextToNumber(ReadSetting(item::kPlacementMode));
  for (int k = 1; k <= 5; ++k) {
    if (NearWhole(v, k)) return k;
  }
  return 0;
}

}  // namespace

void PlaceTodayWindow() {
  const int mode = PlacementMode();
  if (mode == 0) return;
  if (mode == 1) {
    Rt().Move(kTodayMemoWindow, ReadIntSetting(item::kTodayLeft), ReadIntSetting(item::kTodayTop));
    return;
  }
  // Offsets use the main window's own size, so equal windows sit edge to
  // edge. Never clamped to the screen.
  const rt::Geometry m = Rt().GetGeometry(kMainWindow);
  switch (mode) {
    case 2:
      Rt().Move(kTodayMemoWindow, m.left, m.top - m.height);
      break;
    case 3:
      Rt().Move(kTodayMemoWindow, m.left, m.top + m.height);
      break;
    case 4:
      Rt().Move(kTodayMemoWindow, m.left - m.width, m.top);
      break;
    case 5:
      Rt().Move(kTodayMemoWindow, m.left + m.width, m.top);
      break;
    default:
      break;
  }
}

void SaveTodayWindowPosition() {
  // Only a custom place is remembered; in the docked modes the next move of
  // the main window puts the window back anyway.
  if (PlacementMode() != 1) return;
  const rt::Geometry t = Rt().GetGeometry(kTodayMemoWindow);
  (void)WriteSetting(item::kTodayLeft, IntToText(t.left));
  (void)WriteSetting(item::kTodayTop, IntToText(t.top));
}

void OnMainWindowMoved(image::EventArgs&) { PlaceTodayWindow(); }

void OnTodayWindowMoved(image::EventArgs&) { SaveTodayWindowPosition(); }
