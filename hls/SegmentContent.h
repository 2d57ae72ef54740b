#pragma once
// What a downloaded segment's file and aria2c's session file say about whether a segment is
// complete: the done rule's reading of the files.

#include <QString>
#include <QStringList>

// What the content of a downloaded segment says about its completeness.
enum class SegmentContent {
    Whole,      // a complete MPEG-TS or MP4 (fMP4) segment
    Broken,     // cut short or not what its format promises
    NotJudged,  // neither format: only aria2c's word counts
};
// MPEG-TS: after any leading ID3 tags, a size that is a multiple of 188 with every packet
// starting with 0x47. MP4: top-level boxes whose sizes add up to the file size. An empty or
// unreadable file is Broken.
SegmentContent CheckSegmentContent(const QString &file);
// Output names ("out=" options) of the downloads an aria2c session file lists as unfinished;
// empty when the file is missing.
QStringList UnfinishedInSession(const QString &sessionFile);
