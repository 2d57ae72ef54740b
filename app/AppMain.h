#pragma once
// The program's life once it knows it is the only copy: the main window, the exit signals and
// the event loop. It ends when the window has closed for real, however that came about (the
// tray's exit, the shut-down after downloads, a signal), whether the window was shown,
// minimised or hidden in the tray; the window's destruction then writes the settings history
// and the task list.

#include "app/UnitFormMain.h"

#include <functional>

class ExitSignalWatcher;
class QApplication;

// `started` runs once the window is shown and the loop is about to run (test programs drive
// the window from there); it may be empty. `exitSignals` is a watcher installed earlier, so a
// signal that comes during start-up still ends the run; without one, the run installs its own.
int RunKorvi(QApplication &app, const MainWindowSeams &seams = {},
             const std::function<void(TfrmMain &)> &started = {},
             ExitSignalWatcher *exitSignals = nullptr);
