#pragma once
// The engine's one error box, through a replaceable function so the engine runs without
// widgets. The GUI installs a message box; the default prints to standard error.

#include <QString>

#include <functional>

using EngineNoticeFunction = std::function<void(const QString &text, const QString &caption)>;

// An empty function restores the default.
void SetEngineNotice(EngineNoticeFunction notice);
// Returns once the notice has been seen (the GUI's box is modal).
void ShowEngineError(const QString &text, const QString &caption);
