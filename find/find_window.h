// Finding and taking out the memos: the search window (查找备忘录…, Ctrl+F)
// and the export command (导出备忘录…).
#pragma once

#include "base/program_image.h"

void OnFindMenu(image::EventArgs&);
void OnSearchWindowCreated(image::EventArgs&);
void OnSearchTextChanged(image::EventArgs&);
// Enter in the query box or on a result, or a double click on a result:
// shows that day in the calendar and opens its editor.
void OnSearchResultChosen(image::EventArgs&);
void OnSearchWindowClose(image::EventArgs&);
void OnCloseSearchWindow(image::EventArgs&);

void OnExportMenu(image::EventArgs&);
// The store was replaced or changed from outside: the search connection is
// opened anew and open results are looked up again.
void RefreshSearchResults();
