#include "tasks/queue/TaskStore.h"

#include "support/TextUtils.h"
#include "tasks/queue/TaskListModel.h"
#include "tasks/queue/TaskScheduler.h"

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTimer>

namespace {

const QChar kSeparator = QLatin1Char('|');
const QChar kEscapeMark = QLatin1Char('%');

bool NeedsEscape(const QString &field) {
    return field.contains(kSeparator) || field.contains(QLatin1Char('\r')) ||
           field.contains(QLatin1Char('\n'));
}

QString Escape(QString field) {
    field.replace(QLatin1String("%"), QLatin1String("%25"));
    field.replace(QLatin1String("|"), QLatin1String("%7C"));
    field.replace(QLatin1String("\r"), QLatin1String("%0D"));
    field.replace(QLatin1String("\n"), QLatin1String("%0A"));
    return field;
}

QString Unescape(const QString &field) {
    return QString::fromUtf8(QByteArray::fromPercentEncoding(field.toUtf8()));
}

}  // namespace

QString TasksFilePath(const QString &folder) {
    return QDir(folder).filePath(QStringLiteral("Tasks.dat"));
}

QString TaskLine(const QString &output, const QString &address, const QString &headers) {
    QString encoded = EncodeBase64(headers);
    encoded.remove(QLatin1String("\r\n"));
    if (!NeedsEscape(output) && !NeedsEscape(address))
        return output + kSeparator + address + kSeparator + encoded;
    return Escape(output) + kSeparator + Escape(address) + kSeparator + kEscapeMark + encoded;
}

bool ParseTaskLine(const QString &line, QString &output, QString &address, QString &headers) {
    const QStringList fields = line.split(kSeparator);
    if (fields.size() != 3)
        return false;
    const bool escaped = fields[2].startsWith(kEscapeMark);
    output = escaped ? Unescape(fields[0]) : fields[0];
    address = escaped ? Unescape(fields[1]) : fields[1];
    const QString encoded = escaped ? fields[2].mid(1) : fields[2];
    headers = encoded.isEmpty() ? QString() : DecodeBase64(encoded);
    return true;
}

bool SaveTasks(const TaskListModel &model, const QString &path) {
    if (model.Count() == 0) {
        QFile file(path);
        return !file.exists() || file.remove();
    }
    QStringList lines;
    lines.reserve(model.Count());
    for (int row = 0; row < model.Count(); ++row) {
        lines.append(TaskLine(model.Field(row, TaskListModel::ColFile),
                              model.Field(row, TaskListModel::ColUrl),
                              model.Field(row, TaskListModel::ColHeaders)));
    }
    return SaveTextFile(lines, path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

int LoadTasks(TaskScheduler &scheduler, const QString &path, bool *unreadable) {
    QStringList lines;
    if (LoadTextFile(path, lines, true, unreadable) == 0)
        return 0;
    int loaded = 0;
    for (const QString &line : lines) {
        QString output;
        QString address;
        QString headers;
        if (!ParseTaskLine(line, output, address, headers))
            continue;
        scheduler.AddM3u8Task(address, output, headers);
        ++loaded;
    }
    return loaded;
}

TaskListSaver::TaskListSaver(const TaskListModel *model, const QString &path, QObject *parent)
    : QObject(parent), m_model(model), m_path(path), m_timer(new QTimer(this)) {
    m_timer->setObjectName(QStringLiteral("tmrSaveTasks"));
    m_timer->setSingleShot(true);
    m_timer->setInterval(DefaultDelayMs);
    connect(m_timer, &QTimer::timeout, this, &TaskListSaver::SaveNow);
    connect(model, &QAbstractItemModel::rowsInserted, this, &TaskListSaver::ScheduleSave);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &TaskListSaver::ScheduleSave);
    connect(model, &QAbstractItemModel::rowsMoved, this, &TaskListSaver::ScheduleSave);
    connect(model, &QAbstractItemModel::modelReset, this, &TaskListSaver::ScheduleSave);
    connect(model, &QAbstractItemModel::layoutChanged, this, &TaskListSaver::ScheduleSave);
    connect(model, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &topLeft, const QModelIndex &bottomRight) {
                // Status, progress, ID and number are not stored: a progress report writes nothing.
                if (topLeft.column() <= TaskListModel::ColHeaders &&
                    bottomRight.column() >= TaskListModel::ColFile)
                    ScheduleSave();
            });
}

void TaskListSaver::SetDelay(int ms) {
    m_timer->setInterval(ms);
}

void TaskListSaver::SetBlocked(bool blocked) {
    m_blocked = blocked;
    if (blocked)
        m_timer->stop();
}

bool TaskListSaver::IsPending() const {
    return m_timer->isActive();
}

bool TaskListSaver::SaveNow() {
    m_timer->stop();
    if (m_blocked)
        return false;
    const bool ok = SaveTasks(*m_model, m_path);
    emit Saved(ok);
    return ok;
}

void TaskListSaver::ScheduleSave() {
    // The first change of a burst sets the time; later ones ride along.
    if (!m_blocked && !m_timer->isActive())
        m_timer->start();
}
