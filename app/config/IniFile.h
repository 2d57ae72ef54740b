#pragma once
// The settings file: plain INI text read and written with private-profile semantics. Every
// write reaches the disk at once; values are kept exactly as given (no quoting, no escaping, no
// splitting); section and key names match without regard to case; lines the program does not
// know, comments included, survive a write.

#include <QString>

class IniFile {
public:
    explicit IniFile(const QString &fileName);

    const QString &FileName() const { return m_fileName; }

    // True once the file was found to exist but could not be read (no access, an input/output
    // error, no regular file). From then on nothing is written to it for the rest of the run, so
    // settings the program could not see are never replaced by a file holding one key.
    bool Unreadable() const { return m_unreadable; }

    QString ReadString(const QString &section, const QString &key,
                       const QString &defaultValue) const;
    // True when the value reached the disk. A line break in the value would start a new line
    // of the file, so it is stored as a blank.
    bool WriteString(const QString &section, const QString &key, const QString &value);

    // True exactly when the value, lower-cased, is "true"; a missing key gives `defaultValue`.
    bool ReadBool(const QString &section, const QString &key, bool defaultValue) const;
    bool WriteBool(const QString &section, const QString &key, bool value);

    // A value that is not a whole number gives `defaultValue`.
    int ReadInteger(const QString &section, const QString &key, int defaultValue) const;
    bool WriteInteger(const QString &section, const QString &key, int value);

    // Where the program keeps its settings: "<base name>.ini" beside the program when that
    // folder can be written, else in `configHome`/Korvi/. A writable file in a folder that is not
    // writable does not count: every write goes through a temporary file beside it. Both inputs
    // are parameters so tests choose them.
    static QString LocationFor(const QString &programFile, const QString &configHome);
    // The same for the running program and $XDG_CONFIG_HOME (~/.config when unset).
    static QString DefaultLocation();

private:
    QString m_fileName;
    mutable bool m_unreadable = false;
};
