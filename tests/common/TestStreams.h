#pragma once
// Small HLS streams made with ffmpeg once per build tree (tests/server/make_streams.sh) and
// reused by every test. Layout under Root():
//   source.mp4                  what the streams were cut from (H.264 + AAC, no B-frames)
//   clear/index.m3u8, segN.ts   plain media playlist, relative segment names
//   aes/index.m3u8, segN.ts     AES-128, key line URI="/keys/aes.key"
//   live/index.m3u8             clear/'s segments without #EXT-X-ENDLIST (a live snapshot)
//   aes2/index.m3u8, segN.ts    the same cut under keys/aes2.key and its own IV
//   rotate/index.m3u8           key rotation: ../aes/seg0-2.ts under /keys/aes.key, then
//                               ../aes2/seg3-5.ts under ../keys/aes2.key
//   keys/aes.key, keys/aes2.key the 16-byte keys
//   master.m3u8                 two variants: v1/index.m3u8 (first), v2/index.m3u8
//   mixed/index.m3u8, segN.ts   same segments as clear/, with seg0.ts, /mixed/seg1.ts,
//                               @BASE@/mixed/seg2.ts, seg3.ts?token=abc&x=1, then relative
//   fmp4/index.m3u8             fragmented MP4: #EXT-X-MAP:URI="init.mp4", segN.m4s
//   fmp4aes/index.m3u8          fmp4/ with its segments under /keys/aes.key (init clear)
//   second.mp4, second/         another picture (testsrc, 4 s, 320x180) and its four segments
//   joined/index.m3u8           two encodes joined: ../clear/seg0-5.ts, #EXT-X-DISCONTINUITY,
//                               ../second/seg0-3.ts
//   joined-ahead/, joined-back/ the same join, second part's clock 6 s after the first part's
//                               end (second-ahead/) or 3 s before it (second-back/)
//   joined-fmp4/index.m3u8      the same join of fmp4/ and second-fmp4/, one map for each part
//   long-source.mp4, long-aes/  125 s of 128x72 and its 625 AES-128 segments (key long.key, IV
//                               = sequence number, no IV attribute); >= 3 start with 0x47
//   ranges/index.m3u8, index.ts every segment a #EXT-X-BYTERANGE of the one file index.ts
//   master3.m3u8                three variants: v3/ (600000, 240x136), v2/ (900000), v1/ (300000)
//   alt/master.m3u8             one variant, alt/video.m3u8 (videoN.ts, no audio), whose AUDIO
//                               group's DEFAULT=YES rendition is alt/audio.m3u8 (audioN.ts)
//   subs/master.m3u8            one variant (../clear/index.m3u8) with SUBTITLES group "subs": en/
//                               (NAME "English", LANGUAGE en) and zh/ (NAME "中文", LANGUAGE zh),
//                               six WebVTT segments segN.vtt each; "English N" shows at N.5-N.9 s
//                               of the video, "Across" once at 2.95-3.4 s, "中文 N" at N.2-N.4 s
//   subs/broken.m3u8            the same, its Chinese rendition subs/bad/ with a TS file as
//                               segment 2
//   subs/live.m3u8              subs/master.m3u8 with live/ as its video
//   disguised-png/index.m3u8    clear/'s segments, each behind a PNG, named segN.png
//   disguised-jpg/index.m3u8    the same behind a JPEG
//   disguised-aes/index.m3u8    aes/'s ciphertext behind a PNG, key as aes/ (segN.png)
//   disguised-aes-inside/       a PNG and clear/'s segment, encrypted together under
//                               keys/aes.key with IV 00112233445566778899aabbccddeeff
//   livesrc/index.m3u8, segN.ts 20 one-second segments of 128x72, the source of the test
//                               server's growing live playlists (--live REGEX=/livesrc/index.m3u8)
// BigRoot() holds big/index.m3u8 with BigSegmentCount segments, made only when asked for.
// The folders are shared by every test of the build tree: a test that changes files copies them.

#include <QString>

namespace TestStreams {

QString Root();           // the folder to serve; empty when generation failed
QString SourceMedia();    // Root() + "/source.mp4"
double SourceDuration();  // seconds
QString BigRoot();        // folder holding big/; generated on first call

QString Script();  // tests/server/make_streams.sh of this source tree
// Makes dir with Script() (with --big when big) unless a whole copy made by the current script
// is already there; safe when several processes ask at once. Returns dir, or empty on failure;
// made tells whether this call ran the script. Root() and BigRoot() use it.
QString Prepare(const QString &dir, bool big, bool *made = nullptr);

inline constexpr int SegmentCount = 6;  // clear/, aes/, mixed/, fmp4*/ and both variants
inline constexpr int SourceWidth = 320, SourceHeight = 180;  // source.mp4, clear/, aes/, mixed/
inline constexpr int V1Width = 160, V1Height = 90;           // first variant: the smaller one
inline constexpr int V2Width = 320, V2Height = 180;          // second variant
inline constexpr int BigSegmentCount = 300;
inline constexpr int LongAesSegmentCount = 625;
inline constexpr int LiveSourceSegmentCount = 20;  // livesrc/, one second each
inline const char AesKeyHex[] = "000102030405060708090a0b0c0d0e0f";

}  // namespace TestStreams
