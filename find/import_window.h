// Bringing memos in (导入备忘录…): a file or a folder is read and planned on a
// worker, the plan shown with 导入 / 取消, then a backup and the writing on
// the worker with its progress; the windows follow through MemosChanged.
#pragma once

#include "base/program_image.h"

void OnImportMenu(image::EventArgs&);
void OnImportWindowCreated(image::EventArgs&);
void OnImportWindowClose(image::EventArgs&);
void OnImportFileButton(image::EventArgs&);
void OnImportFolderButton(image::EventArgs&);
void OnImportGoButton(image::EventArgs&);
void OnImportCancelButton(image::EventArgs&);
void OnImportTimer(image::EventArgs&);
