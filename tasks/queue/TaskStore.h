#pragma once
// Tasks.dat: one line per task row, "output|address|headers", the headers as one unbroken
// Base64 string of their UTF-8 bytes. IDs, numbers, status and progress are not kept, so every
// task comes back queued. The file holds cookies and other request headers: it is written for
// its owner only (0600).
//
// A "|" (or a line break) inside the output or the address would split the line into more than
// three fields. Such a line is written escaped: in its first two fields "%" becomes "%25", "|"
// "%7C", CR "%0D" and LF "%0A", and its third field starts with "%". That mark cannot occur in
// a file written before: there the third field holds Base64 only. Every other line is written
// exactly as before, so older files load unchanged and older readers still read ordinary lines
// (an escaped line keeps its headers for them too: Base64 decoding skips the "%").

#include <QObject>
#include <QString>

class QTimer;
class TaskListModel;
class TaskScheduler;

// The file inside the folder that holds the INI file.
QString TasksFilePath(const QString &folder);

// The line for one task, and the three fields (output, address, headers block) of a line;
// false for a line without exactly three fields.
QString TaskLine(const QString &output, const QString &address, const QString &headers);
bool ParseTaskLine(const QString &line, QString &output, QString &address, QString &headers);

// Writes every row from the top, atomically, so a failed or interrupted write keeps the previous
// file whole. An empty list deletes the file. Returns false when the file could not be written
// (or, for an empty list, not removed).
bool SaveTasks(const TaskListModel &model, const QString &path);

// Adds a queued task for every line with exactly three fields; any other line is skipped.
// A missing file adds nothing. Returns the number of lines that held three fields. A file that
// exists but cannot be read sets `*unreadable` (when given) and adds nothing.
int LoadTasks(TaskScheduler &scheduler, const QString &path, bool *unreadable = nullptr);

// Keeps Tasks.dat in step with the rows: every change of the rows that the file holds (rows
// added, removed or moved, an output, address or headers field edited) schedules one save a
// short while later, so a burst of changes is written once. The hook is the model's own change
// signals, so every command on the list is covered.
class TaskListSaver : public QObject {
    Q_OBJECT
public:
    static constexpr int DefaultDelayMs = 500;

    TaskListSaver(const TaskListModel *model, const QString &path, QObject *parent = nullptr);

    void SetDelay(int ms);
    // A file that could not be read is never written or deleted during this run.
    void SetBlocked(bool blocked);
    bool IsBlocked() const { return m_blocked; }
    bool IsPending() const;
    // Writes now (unless blocked) and drops a pending save; returns whether the file is in step.
    bool SaveNow();

signals:
    void Saved(bool ok);

private:
    void ScheduleSave();

    const TaskListModel *m_model;
    QString m_path;
    QTimer *m_timer;
    bool m_blocked = false;
};
