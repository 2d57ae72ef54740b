#include "app/config/IniFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTemporaryFile>

#include <SimpleIni.h>

#include <string>

namespace {

// Case-insensitive names, values stored as UTF-8 bytes, one key per name, no multi-line values.
using Ini = CSimpleIniA;

// False when the file exists but cannot be read; a missing file is an empty one.
bool LoadInto(const QString &fileName, Ini &ini) {
    ini.SetUnicode(true);
    ini.SetMultiKey(false);
    ini.SetMultiLine(false);
    ini.SetQuotes(false);
    ini.SetSpaces(false);
    const QFileInfo info(fileName);
    if (!info.exists()) {
        return true;
    }
    QFile file(fileName);
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return false;
    }
    if (!bytes.isEmpty()) {
        ini.LoadData(bytes.constData(), size_t(bytes.size()));
    }
    return true;
}

// A file edited by hand on a code-page-936 system may hold GBK bytes; take them as such rather
// than showing replacement characters.
QString DecodeValue(const char *bytes) {
    const QByteArray raw(bytes);
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(raw);
    if (!utf8.hasError()) {
        return text;
    }
    QStringDecoder gbk("GBK");
    return gbk.isValid() ? QString(gbk.decode(raw)) : text;
}

std::string Utf8(const QString &text) {
    return text.toUtf8().toStdString();
}

bool SaveAtomically(const QString &fileName, const Ini &ini) {
    std::string out;
    if (ini.Save(out, false) < 0) {
        return false;
    }
    const QFileInfo info(fileName);
    if (!info.absoluteDir().exists() && !QDir().mkpath(info.absolutePath())) {
        return false;
    }
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    // The file holds the proxy password in plain text.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(out.data(), qint64(out.size())) != qint64(out.size())) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

// Permission bits say little for root or on a read-only mount: try it. The file itself may be
// writable, but the atomic write needs a new file beside it.
bool CanWriteIn(const QString &folder) {
    QTemporaryFile probe(folder + QLatin1String("/.korvi-probe-XXXXXX"));
    return probe.open();
}

}  // namespace

IniFile::IniFile(const QString &fileName) : m_fileName(fileName) {}

QString IniFile::ReadString(const QString &section, const QString &key,
                            const QString &defaultValue) const {
    Ini ini;
    if (!LoadInto(m_fileName, ini)) {
        m_unreadable = true;
    }
    const char *value = ini.GetValue(Utf8(section).c_str(), Utf8(key).c_str(), nullptr);
    return value ? DecodeValue(value) : defaultValue;
}

bool IniFile::WriteString(const QString &section, const QString &key, const QString &value) {
    QString flat = value;
    flat.replace(QLatin1String("\r\n"), QLatin1String(" "));
    flat.replace(QLatin1Char('\r'), QLatin1Char(' '));
    flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    if (m_unreadable) {
        return false;
    }
    // Read afresh so edits made to the file while the program runs are kept.
    Ini ini;
    if (!LoadInto(m_fileName, ini)) {
        m_unreadable = true;
        return false;
    }
    if (ini.SetValue(Utf8(section).c_str(), Utf8(key).c_str(), Utf8(flat).c_str()) < 0) {
        return false;
    }
    return SaveAtomically(m_fileName, ini);
}

bool IniFile::ReadBool(const QString &section, const QString &key, bool defaultValue) const {
    const QString missing = defaultValue ? QStringLiteral("true") : QStringLiteral("false");
    return ReadString(section, key, missing).toLower() == QLatin1String("true");
}

bool IniFile::WriteBool(const QString &section, const QString &key, bool value) {
    return WriteString(section, key, value ? QStringLiteral("True") : QStringLiteral("False"));
}

int IniFile::ReadInteger(const QString &section, const QString &key, int defaultValue) const {
    bool ok = false;
    const int value = ReadString(section, key, QString()).trimmed().toInt(&ok);
    return ok ? value : defaultValue;
}

bool IniFile::WriteInteger(const QString &section, const QString &key, int value) {
    return WriteString(section, key, QString::number(value));
}

QString IniFile::LocationFor(const QString &programFile, const QString &configHome) {
    const QFileInfo program(programFile);
    const QString name = program.completeBaseName() + QLatin1String(".ini");
    const QString beside = program.absoluteDir().filePath(name);
    if (CanWriteIn(program.absolutePath())) {
        return beside;
    }
    return QDir(configHome).filePath(QLatin1String("Korvi/") + name);
}

QString IniFile::DefaultLocation() {
    QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (configHome.isEmpty()) {
        configHome = QDir::homePath() + QLatin1String("/.config");
    }
    return LocationFor(QCoreApplication::applicationFilePath(), configHome);
}
