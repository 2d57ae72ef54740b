#pragma once
// One running copy per user login (unit OneApp). A later start hands over to the running copy,
// which brings its main window forward, and then exits.

#include <QString>
#include <QStringList>
#include <functional>

// The message a later start sends to the running copy.
inline constexpr char kActivateInstanceMessage[] = "2712";

// Where the running copy listens: $XDG_RUNTIME_DIR/Korvi, or a per-user name in the temporary
// folder when XDG_RUNTIME_DIR is not set.
QString InstanceSocketPath();

// True when another copy runs: it has been sent the activation message, followed by `files` (a
// newline before each and after the last) when there are any, and this copy should exit.
// False when this is the first copy: from now on it listens for later starts (for the rest of the
// process's life). A socket left behind by a copy that was killed is removed. If listening fails
// for any other reason the start goes on as a first copy.
bool IsAlreadyRunning(const QStringList &files = {});

// Called in the first copy each time a later start asks for the window. An activation that
// arrived before a handler was set is delivered when the handler is set.
void SetActivateInstanceHandler(std::function<void()> handler);

// The program's arguments as the window opens them: "file://" addresses as local paths, other
// addresses ("scheme://...") as they are, anything else as an absolute path against the working
// folder; empty arguments are dropped.
QStringList CommandLineAddresses(const QStringList &arguments);

// Called in the first copy with the files a later start was given, after its activation, once
// the later start has sent them all. Files that arrived before a handler was set are delivered
// when the handler is set.
void SetOpenFilesHandler(std::function<void(const QStringList &files)> handler);
