#pragma once
// Tasks.dat: one line per task row, "output|address|headers", the headers as one unbroken
// Base64 string of their UTF-8 bytes. IDs, numbers, status and progress are not kept, so every
// task comes back queued.

#include <QString>

class TaskListModel;
class TaskScheduler;

// The file inside the folder that holds the INI file.
QString TasksFilePath(const QString &folder);

// Writes every row from the top, atomically, so a failed or interrupted write keeps the previous
// file whole. An empty list deletes the file. Returns false when the file could not be written
// (or, for an empty list, not removed).
bool SaveTasks(const TaskListModel &model, const QString &path);

// Adds a queued task for every line with exactly three fields; any other line is skipped.
// A missing file adds nothing. Returns the number of lines that held three fields.
int LoadTasks(TaskScheduler &scheduler, const QString &path);
