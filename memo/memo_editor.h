// The memo editor: opens on a day, keeps a draft while it is open, stores
// the text when it closes and never lets a typed word go.
#pragma once

#include <string>

#include "base/program_image.h"

struct LeftoverText;

// Opens the editor on the calendar's day (the calendar handlers' action).
void OpenMemoEditor();
// Opens the editor on `day`, with a leftover text put back when given.
void EditDay(double day, const LeftoverText* leftover);
// Offers drafts and recovery files left by an earlier run, one by one.
void OfferLeftoverTexts();

// The line between the typed text and one stored meanwhile by someone else.
inline constexpr const char* kArrivedSeparator = "—— 编辑期间另外存入的文字 ——";
// What the editor stores at closing: `typed`, plus whatever the store took
// for that day since the editor opened on `opened` (now `current`).
std::string KeepArrivedText(const std::string& typed, const std::string& opened,
                            const std::string& current);

void OnMemoEditorCreated(image::EventArgs&);
void OnMemoEditorClose(image::EventArgs&);
// Esc: closes the editor through its close request, so the memo is saved.
void OnCloseEditorKey(image::EventArgs&);
void OnMemoEditorTextChanged(image::EventArgs&);
void OnDraftTimer(image::EventArgs&);
