// The program entry and MainWindow's creation: the composition of every
// feature.
#pragma once

#include "base/program_image.h"
#include "base/runtime.h"

// Program entry: called once by the runtime; returns the exit code.
int ProgramEntry(rt::Runtime& runtime);
// Entry steps up to the message loop (tests run these without the loop).
void ProgramStart();
// MainWindow's creation steps.
void MainWindowCreated();
void EndOfProgramCleanup();

void OnMainWindowCreated(image::EventArgs&);
// MainWindow's first activation: its remembered place, the today window
// beside it, then any text an earlier run left unsaved.
void OnFirstActivation(image::EventArgs&);
