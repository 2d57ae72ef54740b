#pragma once
// One running copy per user login (unit OneApp). A later start hands over to the running copy,
// which brings its main window forward, and then exits.

#include <QString>
#include <functional>

// The message a later start sends to the running copy.
inline constexpr char kActivateInstanceMessage[] = "2712";

// Where the running copy listens: $XDG_RUNTIME_DIR/Korvi, or a per-user name in the temporary
// folder when XDG_RUNTIME_DIR is not set.
QString InstanceSocketPath();

// True when another copy runs: it has been sent the activation message and this copy should exit.
// False when this is the first copy: from now on it listens for later starts (for the rest of the
// process's life). A socket left behind by a copy that was killed is removed. If listening fails
// for any other reason the start goes on as a first copy.
bool IsAlreadyRunning();

// Called in the first copy each time a later start asks for the window. An activation that
// arrived before a handler was set is delivered when the handler is set.
void SetActivateInstanceHandler(std::function<void()> handler);
