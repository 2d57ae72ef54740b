#pragma once
// Checksums, UTF-8 detection, text files and Base64 (units Unit_CRC, UTF8Unit).

#include <QByteArray>
#include <QFileDevice>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Standard CRC-32 (zip, PNG) of the text's GB18030 bytes, so results match the files and folder
// names a code-page-936 system would produce.
quint32 Crc32OfText(const QString &text);
// 8 upper-case hexadecimal digits, leading zeros kept.
QString Crc32Hex(const QString &text);

// True only for bytes holding at least one byte >= 0x80 that are well-formed in the old UTF-8
// scheme of up to six bytes per character.
bool IsUtf8Text(const QByteArray &bytes);

// Decodes one line: UTF-8 when IsUtf8Text says so, GBK otherwise.
QString DecodeLine(const QByteArray &bytes);

// Loads a text file line by line (CR, LF or CR LF), decoding each line on its own. With
// `dropBlank`, lines holding only blanks and control characters are dropped. Returns the number
// of lines in `lines` afterwards; 0 (and `lines` untouched) for a missing or empty file.
int LoadTextFile(const QString &path, QStringList &lines, bool dropBlank);
// The same; `*readError` tells a file that exists but could not be read (not a regular file, no
// access, an input/output error) from a missing one. Such a file also gives 0.
int LoadTextFile(const QString &path, QStringList &lines, bool dropBlank, bool *readError);

// Writes the lines as UTF-8 without BOM, CR LF after every line, atomically (temporary file and
// rename). Returns false when the file could not be written.
bool SaveTextFile(const QStringList &lines, const QString &path);
// The same, the new file getting `permissions` (an older file's are replaced too).
bool SaveTextFile(const QStringList &lines, const QString &path,
                  QFileDevice::Permissions permissions);

// Base64 (RFC 4648, '=' padding) of the text's UTF-8 bytes, CR LF after every 76 characters.
QString EncodeBase64(const QString &text);
// Ignores every character outside the alphabet and '='. Decoded bytes that are ASCII or UTF-8 are
// read as UTF-8, any others as GBK, so lists written by a code-page-936 system load too.
QString DecodeBase64(const QString &base64);
