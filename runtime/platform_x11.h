// What Qt leaves out on X11.
#pragma once

class QWidget;

// Asks the window manager to activate the window the way a task bar does:
// the user asked for it (a second start of the program), so focus-stealing
// prevention must not keep it behind. Nothing happens off X11.
void ActivateOnX11(QWidget* window);
