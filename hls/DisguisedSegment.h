#pragma once
// Segments served behind an image: a complete PNG, JPEG, GIF or BMP followed by the MPEG-TS
// data, so that image hosts carry the video. The image is cut off before the done rule judges
// the file and before ffmpeg reads it.

#include "hls/SegmentContent.h"

#include <QString>

class QIODevice;

// Where an image that starts at the beginning of `in` ends (the offset of the byte after it),
// -1 when no image of a known kind starts there or it runs past `size`. Reads only the
// structure it walks; a lying length ends the walk.
qint64 LeadingImageEnd(QIODevice &in, qint64 size);

// Cuts a leading image off a segment file that aria2c or the fetch has finished: when MPEG-TS
// (in the clear, or as AES-128 ciphertext under the expected key and IV) follows the image,
// or when the image sits inside the plaintext, which is then encrypted again with the same
// key and IV. Files of byte ranges and files whose key is unknown are left alone. True when
// the file was rewritten; a file that is only an image, or an image and something that is not
// MPEG-TS, stays as it is.
bool StripLeadingImage(const QString &file, const SegmentExpectation &expect);
