#pragma once
// The headers block a task carries: one "key: value" line per header, CR LF after every line.

#include <QString>
#include <QStringList>

// The lines of an editor's text: CR, LF and CR LF break lines, a final break adds no empty
// line, blank lines inside count. An empty text has no lines.
QStringList HeaderLines(const QString &text);

// The block the dialog's OK hands to the window: the lines sorted case-insensitively under the
// user's locale, lines equal but for case dropped, blank lines collapsed into one that sorts
// first, CR LF after every line. False (and `block` untouched) when there are no lines.
bool NormaliseHeaders(const QString &text, QString &block);
