#include "tasks/queue/TaskStore.h"

#include "support/TextUtils.h"
#include "tasks/queue/TaskListModel.h"
#include "tasks/queue/TaskScheduler.h"

#include <QDir>
#include <QFile>
#include <QStringList>

namespace {

const QChar kSeparator = QLatin1Char('|');

}  // namespace

QString TasksFilePath(const QString &folder) {
    return QDir(folder).filePath(QStringLiteral("Tasks.dat"));
}

bool SaveTasks(const TaskListModel &model, const QString &path) {
    if (model.Count() == 0) {
        QFile file(path);
        return !file.exists() || file.remove();
    }
    QStringList lines;
    lines.reserve(model.Count());
    for (int row = 0; row < model.Count(); ++row) {
        QString headers = EncodeBase64(model.Field(row, TaskListModel::ColHeaders));
        headers.remove(QLatin1String("\r\n"));
        lines.append(model.Field(row, TaskListModel::ColFile) + kSeparator +
                     model.Field(row, TaskListModel::ColUrl) + kSeparator + headers);
    }
    return SaveTextFile(lines, path);
}

int LoadTasks(TaskScheduler &scheduler, const QString &path) {
    QStringList lines;
    if (LoadTextFile(path, lines, true) == 0)
        return 0;
    int loaded = 0;
    for (const QString &line : lines) {
        const QStringList fields = line.split(kSeparator);
        if (fields.size() != 3)
            continue;
        const QString headers = fields[2].isEmpty() ? QString() : DecodeBase64(fields[2]);
        scheduler.AddM3u8Task(fields[1], fields[0], headers);
        ++loaded;
    }
    return loaded;
}
