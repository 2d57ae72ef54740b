#pragma once
// The record a work folder keeps of its segments, so that a stopped download resumes where it
// was: after a header line, one line per segment, "<1|0> <size> <local name> <address>", the
// size being that of a complete segment's file. Rewritten whenever a run has settled which
// segments are complete.

#include <QString>
#include <QtGlobal>

#include <vector>

struct SegmentRecordEntry {
    bool Done = false;
    qint64 Size = 0;
    QString LocalName;  // never holds a blank
    QString Url;        // may hold blanks: the rest of the line
};
using SegmentRecord = std::vector<SegmentRecordEntry>;

// Empty when the file is missing, is not a record, or has a line that is not an entry: such a
// folder starts over.
SegmentRecord LoadSegmentRecord(const QString &file);
// Replaces the file atomically; false when it could not be written.
bool SaveSegmentRecord(const QString &file, const SegmentRecord &record);
