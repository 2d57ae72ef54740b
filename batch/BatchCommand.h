#pragma once
// What the batch page decides without widgets: the list's numbering and order, the presets, the
// ffmpeg parameter lines of joining and batch transcoding, the concat list, the percent values
// and the judgement of a finished run.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

class QAbstractItemModel;

// Columns of the batch list (0-based): the running number and the full path.
enum BatchColumn { BatchColNumber = 0, BatchColFile = 1, BatchColumnCount = 2 };

// Appends one row per path, each numbered with the row count after appending.
void AppendBatchRows(QAbstractItemModel *model, const QStringList &paths);
// Removes the given rows (any order, duplicates allowed) and numbers the rest 1..n.
void RemoveBatchRows(QAbstractItemModel *model, QList<int> rows);
// The file paths in displayed order.
QStringList BatchRowPaths(const QAbstractItemModel *model);

// The order of two rows when sorting by `sortColumn` (0: numbers compared as numbers; 1: paths
// compared without regard to ASCII letter case, by their GB18030 bytes otherwise), negated when
// `descending`. Returns -1, 0 or 1.
int CompareBatchRows(const QString &numberA, const QString &fileA, const QString &numberB,
                     const QString &fileB, int sortColumn, bool descending);
// Sorts the rows in place with CompareBatchRows; the numbers move with their rows.
void SortBatchRows(QAbstractItemModel *model, int sortColumn, bool descending);

// The preset box: its items, and the parameter text each one puts into the field.
struct BatchPreset {
    QString caption;
    QString text;
};
const QList<BatchPreset> &BatchPresets();
// The field's new text for preset `index`; `current` when the index names no preset.
QString BatchPresetText(int index, const QString &current);

extern const QString kBatchDefaultCodec;  // "-vcodec h264 -acodec aac"
extern const QString kBatchOpenFilter;    // the add dialog's filter, in "desc|pat" form

// Eight characters like "K3J9X2QA": A-Z and 0-9, drawn uniformly; empty for length <= 0.
QString GenRandomStr(int length);

// The concat demuxer's list: one "file '...'" line per path with CR LF, in UTF-8; a "'" inside a
// path is written as '\'' so any valid name survives.
QByteArray ConcatListText(const QStringList &paths);
// The codec part of the join: one blank, the field trimmed of blanks and control characters, one
// blank.
QString JoinCodec(const QString &fieldText);
// " -f concat -safe 0 -y -i "list"<codec>"out"".
QString BuildJoinParamLine(const QString &listFile, const QString &fieldText,
                           const QString &output);
// " -y -i "input" <params> "output"", the parameter text used untrimmed.
QString BuildBatchParamLine(const QString &input, const QString &params, const QString &output);
// The output of a batch file: the input with .mp4, or with "-new.mp4" for an .mp4 input.
QString BatchOutputFileName(const QString &input);

// Progress of a batch before a file's run: (done + 0.5) * 100 / (done + rows left), the current
// row included in the rows left; and after it: done * 100 / (done + rows left). 0 for no rows.
unsigned BatchPercentBefore(int done, int rowsLeft);
unsigned BatchPercentAfter(int done, int rowsLeft);

// The summary box of a complete batch, and the text of its balloon.
QString BatchSummaryText(int succeeded, int failed);

// A run counts as done only when ffmpeg exited normally with status 0 and left an output of at
// least one byte.
bool RunProducedOutput(bool exitedNormally, int exitCode, const QString &output);
