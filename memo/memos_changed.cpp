#include "memo/memos_changed.h"

namespace {

std::function<void()> g_handler;

}  // namespace

void SetMemosChangedHandler(std::function<void()> handler) { g_handler = std::move(handler); }

void MemosChanged() {
  if (g_handler) g_handler();
}
