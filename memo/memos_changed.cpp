#include "memo/memos_changed.h"

namespace {

std::function<void()> g_handler;
std::function<void()> g_savedHandler;

}  // namespace

void SetMemosChangedHandler(std::function<void()> handler) { g_handler = std::move(handler); }

void MemosChanged() {
  if (g_handler) g_handler();
}

void SetMemoSavedHandler(std::function<void()> handler) { g_savedHandler = std::move(handler); }

void MemoSaved() {
  if (g_savedHandler) g_savedHandler();
}
