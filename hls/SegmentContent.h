#pragma once
// What a downloaded segment's file and aria2c's session file say about whether a segment is
// complete: the done rule's reading of the files.

#include "hls/Aes128.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// What the content of a downloaded segment says about its completeness.
enum class SegmentContent {
    Whole,      // a complete MPEG-TS, MP4 (fMP4) or AES-128 segment
    Broken,     // cut short, an error page, or not what its format promises
    NotJudged,  // nothing in it to judge by: only aria2c's word counts
};

// What the playlist says the file holds, beyond what its first bytes tell.
struct SegmentExpectation {
    // The whole file is AES-128-CBC ciphertext under Key (16 bytes) with Iv (16 bytes).
    QByteArray Key;
    QByteArray Iv;
    // Encrypted under a key that cannot be checked: the content is not judged.
    bool Opaque = false;
    // Bytes the file must hold at least (the end of the last byte range taken from it).
    qint64 MinSize = 0;
    // A subtitle segment: WebVTT text, judged by CheckWebVttContent.
    bool WebVtt = false;
};

// Broken: empty or unreadable, shorter than MinSize, or starting like markup (an error page).
// Encrypted: a size that is a multiple of 16 whose last block decrypts to valid PKCS#7 padding.
// MPEG-TS: after any leading ID3 tags, a size that is a multiple of 188 with every packet
// starting with 0x47. MP4: top-level boxes whose sizes add up to the file size.
SegmentContent CheckSegmentContent(const QString &file, const SegmentExpectation &expect = {});
// Output names ("out=" options) of the downloads an aria2c session file lists as unfinished;
// empty when the file is missing.
QStringList UnfinishedInSession(const QString &sessionFile);
