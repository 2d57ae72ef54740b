#include "tasks/import/ListImport.h"

#include "hls/M3u8Helpers.h"
#include "support/TextUtils.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString kExtinf = QStringLiteral("#EXTINF:");

bool IsBlank(QChar c) {
    return c.unicode() >= 1 && c.unicode() <= 32;
}

QString OutputFile(const QString &saveFolder, const QString &name) {
    QString folder = saveFolder;
    // A folder without its separator would glue the name onto the folder's own name.
    if (!folder.endsWith(QLatin1Char('/')) && !folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    return folder + SafeNamePart(name) + QStringLiteral(".mp4");
}

}  // namespace

QString SafeNamePart(const QString &name) {
    QString safe;
    safe.reserve(name.size());
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control)
            continue;
        safe += (c == QLatin1Char('/') || c == QDir::separator()) ? QLatin1Char('_') : c;
    }
    return safe;
}

QString TrimBlanks(const QString &text) {
    int first = 0;
    int last = text.size() - 1;
    while (first <= last && text.at(first).unicode() <= 32)
        ++first;
    while (last >= first && text.at(last).unicode() <= 32)
        --last;
    return text.mid(first, last - first + 1);
}

QList<ImportedTask> ListImportTasks(QStringList lines, const QString &prefix,
                                    const QString &saveFolder) {
    QList<ImportedTask> tasks;
    const int width = qMax(2, static_cast<int>(QString::number(lines.size()).size()));
    int added = 0;
    for (int i = 0; i < lines.size(); ++i) {
        // Stored back, so the next line sees its trimmed predecessor.
        lines[i] = TrimBlanks(lines[i]);
        const QString &line = lines[i];
        if (!IsUrl(line))
            continue;
        const QString previous = i > 0 ? lines[i - 1] : QString();
        const bool titled = i > 0 && !previous.isEmpty() && !IsUrl(previous);
        QString name;
        if (titled && previous.startsWith(kExtinf)) {
            const int comma = previous.indexOf(QStringLiteral(", "));
            // An empty title or one without ", " is named by its number below.
            if (!previous.endsWith(QLatin1Char(',')) && comma >= 0)
                name = prefix + previous.mid(comma + 2);
        } else if (titled) {
            name = previous.startsWith(prefix) ? previous : prefix + previous;
        }
        ++added;
        if (name.isEmpty())
            name = prefix + QString::number(added).rightJustified(width, QLatin1Char('0'));
        tasks.append({line, OutputFile(saveFolder, name)});
    }
    return tasks;
}

bool ListFileTooLarge(const QString &listFile) {
    return QFileInfo(listFile).size() > kMaxListFileBytes;
}

QList<ImportedTask> ImportM3uList(const QString &listFile, const QString &saveFolder,
                                  bool noPrefix) {
    if (listFile.isEmpty() || saveFolder.isEmpty())
        return {};
    const QFileInfo file(listFile);
    if (!file.isFile() || !QFileInfo(saveFolder).isDir() || ListFileTooLarge(listFile))
        return {};
    const QString prefix = noPrefix ? QString() : file.completeBaseName();
    QStringList lines;
    if (LoadTextFile(listFile, lines, true) == 0)
        return {};
    return ListImportTasks(lines, prefix, saveFolder);
}

QStringList SplitFields(const QString &line, QChar delimiter) {
    QStringList fields;
    const int n = line.size();
    int i = 0;
    auto skipBlanks = [&] {
        while (i < n && IsBlank(line.at(i)))
            ++i;
    };
    skipBlanks();
    while (i < n) {
        QString field;
        if (line.at(i) == QLatin1Char('"')) {
            ++i;
            while (i < n) {
                if (line.at(i) == QLatin1Char('"')) {
                    if (i + 1 < n && line.at(i + 1) == QLatin1Char('"')) {
                        field += QLatin1Char('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line.at(i++);
            }
        } else {
            const int start = i;
            while (i < n && !IsBlank(line.at(i)) && line.at(i) != delimiter)
                ++i;
            field = line.mid(start, i - start);
        }
        fields << field;
        skipBlanks();
        if (i < n && line.at(i) == delimiter) {
            if (i == n - 1)
                fields << QString();
            ++i;
            skipBlanks();
        }
    }
    return fields;
}

bool ClipboardLineTask(const QString &line, QChar delimiter, const QString &prefix,
                       const QString &saveFolder, ImportedTask &task) {
    const QStringList fields = SplitFields(line, delimiter);
    if (fields.size() < 2 || !IsUrl(fields.at(1)))
        return false;
    task = {fields.at(1), OutputFile(saveFolder, prefix + fields.at(0))};
    return true;
}
