#include "support/TextUtils.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <zlib.h>

namespace {

bool IsBlankOrControl(QChar c) {
    return c.unicode() <= 0x20 || c.category() == QChar::Other_Control || c.isSpace();
}

bool IsBlankLine(const QString &line) {
    for (QChar c : line) {
        if (!IsBlankOrControl(c))
            return false;
    }
    return true;
}

QList<QByteArray> SplitLines(const QByteArray &data) {
    QList<QByteArray> lines;
    qsizetype start = 0;
    const qsizetype size = data.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char c = data.at(i);
        if (c != '\r' && c != '\n')
            continue;
        lines.append(data.mid(start, i - start));
        if (c == '\r' && i + 1 < size && data.at(i + 1) == '\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines.append(data.mid(start));
    return lines;
}

bool IsBase64Char(QChar c) {
    return (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('+') ||
           c == QLatin1Char('/') || c == QLatin1Char('=');
}

}  // namespace

quint32 Crc32OfText(const QString &text) {
    QStringEncoder encoder("GB18030");
    const QByteArray bytes = encoder.isValid() ? QByteArray(encoder(text)) : text.toUtf8();
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32_z(crc, reinterpret_cast<const Bytef *>(bytes.constData()),
                  static_cast<z_size_t>(bytes.size()));
    return static_cast<quint32>(crc);
}

QString Crc32Hex(const QString &text) {
    return QStringLiteral("%1").arg(Crc32OfText(text), 8, 16, QLatin1Char('0')).toUpper();
}

bool IsUtf8Text(const QByteArray &bytes) {
    if (bytes.isEmpty())
        return false;
    int pending = 0;
    bool ascii = true;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c & 0x80)
            ascii = false;
        if (pending > 0) {
            if ((c & 0xC0) != 0x80)
                return false;
            --pending;
        } else if (c < 0x80) {
            // a single byte
        } else if (c < 0xC0) {
            return false;
        } else if (c < 0xE0) {
            pending = 1;
        } else if (c < 0xF0) {
            pending = 2;
        } else if (c < 0xF8) {
            pending = 3;
        } else if (c < 0xFC || c >= 0xFE) {
            pending = 4;
        } else {
            pending = 5;
        }
    }
    return pending == 0 && !ascii;
}

QString DecodeLine(const QByteArray &bytes) {
    if (IsUtf8Text(bytes))
        return QString::fromUtf8(bytes);
    QStringDecoder decoder("GBK");
    if (!decoder.isValid())
        return QString::fromLatin1(bytes);
    return decoder(bytes);
}

int LoadTextFile(const QString &path, QStringList &lines, bool dropBlank) {
    return LoadTextFile(path, lines, dropBlank, nullptr);
}

int LoadTextFile(const QString &path, QStringList &lines, bool dropBlank, bool *readError) {
    if (readError)
        *readError = false;
    const QFileInfo info(path);
    if (!info.exists())
        return 0;
    QFile file(path);
    // A folder (or anything else that is no file) in the file's place cannot be read either.
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        if (readError)
            *readError = true;
        return 0;
    }
    QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (readError)
            *readError = true;
        return 0;
    }
    // A byte-order mark written by an editor is not part of the first line.
    if (data.startsWith("\xEF\xBB\xBF"))
        data.remove(0, 3);
    const QList<QByteArray> raw = SplitLines(data);
    if (raw.isEmpty())
        return 0;

    QStringList loaded;
    loaded.reserve(raw.size());
    for (const QByteArray &bytes : raw) {
        QString line = DecodeLine(bytes);
        if (dropBlank && IsBlankLine(line))
            continue;
        loaded.append(line);
    }
    lines = loaded;
    return static_cast<int>(lines.size());
}

bool SaveTextFile(const QStringList &lines, const QString &path) {
    return SaveTextFile(lines, path, QFileDevice::Permissions());
}

bool SaveTextFile(const QStringList &lines, const QString &path,
                  QFileDevice::Permissions permissions) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Set on the temporary file, so the content is never readable by others, not even briefly.
    if (permissions != QFileDevice::Permissions() && !file.setPermissions(permissions)) {
        file.cancelWriting();
        return false;
    }
    QByteArray data;
    for (const QString &line : lines) {
        data += line.toUtf8();
        data += "\r\n";
    }
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

QString EncodeBase64(const QString &text) {
    const QByteArray encoded = text.toUtf8().toBase64();
    constexpr qsizetype kLineLength = 76;
    QString result;
    result.reserve(encoded.size() + encoded.size() / kLineLength * 2);
    for (qsizetype pos = 0; pos < encoded.size(); pos += kLineLength) {
        if (pos > 0)
            result += QLatin1String("\r\n");
        result += QLatin1String(encoded.mid(pos, kLineLength));
    }
    return result;
}

QString DecodeBase64(const QString &base64) {
    QByteArray clean;
    clean.reserve(base64.size());
    for (QChar c : base64) {
        if (IsBase64Char(c))
            clean.append(static_cast<char>(c.unicode()));
    }
    const QByteArray bytes = QByteArray::fromBase64(clean);
    bool ascii = true;
    for (const char ch : bytes) {
        if (static_cast<unsigned char>(ch) >= 0x80) {
            ascii = false;
            break;
        }
    }
    return ascii ? QString::fromUtf8(bytes) : DecodeLine(bytes);
}
