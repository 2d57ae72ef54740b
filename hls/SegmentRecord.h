#pragma once
// The record a work folder keeps of its segments, so that a stopped download resumes where it
// was: after a header line, one line "#KEY <sha-256> <address>" per key, then one line per
// segment, "<1|0> <size> <local name> <address>", the size being that of a complete segment's
// file. Rewritten whenever a run has settled which segments are complete.

#include <QByteArray>
#include <QList>
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

// A key's address and the SHA-256 of its bytes, in the order of the task's keys.
struct SegmentKeySum {
    QString Url;
    QByteArray Sha256;
    bool operator==(const SegmentKeySum &o) const { return Url == o.Url && Sha256 == o.Sha256; }
};
using SegmentKeySums = QList<SegmentKeySum>;

// Empty when the file is missing, is not a record, or has a line that is not an entry: such a
// folder starts over. A record written before keys were recorded loads with no keys, so an
// encrypted stream does not resume from it.
SegmentRecord LoadSegmentRecord(const QString &file, SegmentKeySums *keys = nullptr);
// Replaces the file atomically; false when it could not be written.
bool SaveSegmentRecord(const QString &file, const SegmentRecord &record,
                       const SegmentKeySums &keys = {});
