#include "net/owner_window.h"

#include <unistd.h>

#include "platform/window_list.h"

namespace {

void CollectVisibleWindow(std::uintptr_t window, long processId, bool visible) {
  if (visible) CollectionList.push_back({window, processId});
}

}  // namespace

std::vector<WindowRecord> ListVisibleWindows() {
  CollectionList.clear();
  EnumTopLevelWindows(CollectVisibleWindow);
  std::vector<WindowRecord> windows;
  windows.swap(CollectionList);
  return windows;
}

std::uintptr_t FindProcessWindow(long processId) {
  for (const WindowRecord& record : ListVisibleWindows()) {
    if (record.processId == processId) return record.handle;
  }
  return 0;
}

int OwnedMessageBox(const std::string& message, std::optional<unsigned> type,
                    const std::optional<std::string>& title, std::optional<std::uintptr_t> owner) {
  const std::uintptr_t ownerWindow =
      owner ? *owner : FindProcessWindow(static_cast<long>(getpid()));
  return Rt().MessageBox(message, type.value_or(rt::MB_OK), title.value_or("友情提醒"),
                         ownerWindow) -
         1;
}
