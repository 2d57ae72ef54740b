#include "batch/BatchCommand.h"

#include "support/FileUtils.h"
#include "support/ListViewFuncs.h"
#include "workbench/WorkbenchCommand.h"

#include <QAbstractItemModel>
#include <QRandomGenerator>
#include <QStringEncoder>

#include <algorithm>

const QString kBatchDefaultCodec = QStringLiteral("-vcodec h264 -acodec aac");
const QString kBatchOpenFilter = QStringLiteral(
    "ts视频片段(*.ts)|*.ts|MP4文件(*.mp4)|*.mp4|flv文件|*.flv|avi文件(*.avi)|*.avi|"
    "wmv文件(*.wmv)|*.wmv|Real Media文件(*.rmvb)|*.rmvb;*.rm;*.ra|"
    "所有视频文件|*.mp4;*.flv;*.m4v;*.m4a;*.h264;*.mkv;*.mka*.wmv;*.asf;*.avi;*.rmvb;*.rm;*.ra|"
    "所有格式文件(*.*)|*.*");

void AppendBatchRows(QAbstractItemModel *model, const QStringList &paths) {
    for (const QString &path : paths) {
        const int row = model->rowCount();
        model->insertRows(row, 1);
        model->setData(model->index(row, BatchColNumber), QString::number(row + 1));
        model->setData(model->index(row, BatchColFile), path);
    }
}

void RemoveBatchRows(QAbstractItemModel *model, QList<int> rows) {
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    for (int row : std::as_const(rows)) {
        if (row >= 0 && row < model->rowCount())
            model->removeRows(row, 1);
    }
    RenumberColumn(model, BatchColNumber + 1);
}

QStringList BatchRowPaths(const QAbstractItemModel *model) {
    QStringList paths;
    for (int row = 0; row < model->rowCount(); ++row)
        paths << model->index(row, BatchColFile).data().toString();
    return paths;
}

namespace {

// ASCII letters folded, every other byte kept: the order of the names' GB18030 bytes.
QByteArray FoldedBytes(const QString &text) {
    QStringEncoder encoder("GB18030");
    QByteArray bytes = encoder.isValid() ? QByteArray(encoder(text)) : text.toUtf8();
    for (char &c : bytes) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return bytes;
}

int Sign(int value) {
    return value < 0 ? -1 : (value > 0 ? 1 : 0);
}

int Compare(const QString &numberA, const QByteArray &keyA, const QString &numberB,
            const QByteArray &keyB, int sortColumn, bool descending) {
    int result;
    if (sortColumn == BatchColNumber) {
        const int a = numberA.toInt();
        const int b = numberB.toInt();
        result = a < b ? -1 : (a > b ? 1 : 0);
    } else {
        result = Sign(keyA.compare(keyB));
    }
    return descending ? -result : result;
}

}  // namespace

int CompareBatchRows(const QString &numberA, const QString &fileA, const QString &numberB,
                     const QString &fileB, int sortColumn, bool descending) {
    return Compare(numberA, FoldedBytes(fileA), numberB, FoldedBytes(fileB), sortColumn,
                   descending);
}

void SortBatchRows(QAbstractItemModel *model, int sortColumn, bool descending) {
    struct Row {
        QString number;
        QString file;
        QByteArray key;
    };
    QList<Row> rows;
    for (int row = 0; row < model->rowCount(); ++row) {
        const QString file = model->index(row, BatchColFile).data().toString();
        rows.append({model->index(row, BatchColNumber).data().toString(), file,
                     sortColumn == BatchColFile ? FoldedBytes(file) : QByteArray()});
    }
    std::stable_sort(rows.begin(), rows.end(), [&](const Row &a, const Row &b) {
        return Compare(a.number, a.key, b.number, b.key, sortColumn, descending) < 0;
    });
    for (int row = 0; row < rows.size(); ++row) {
        model->setData(model->index(row, BatchColNumber), rows.at(row).number);
        model->setData(model->index(row, BatchColFile), rows.at(row).file);
    }
}

const QList<BatchPreset> &BatchPresets() {
    static const QList<BatchPreset> presets = {
        {QStringLiteral("原码"), QStringLiteral("-c copy")},
        {QStringLiteral("H264+AAC默认码率"), QStringLiteral("-vcodec h264 -acodec aac")},
        {QStringLiteral("1080P高码率"),
         QStringLiteral("-vcodec h264 -b:v 10M -acodec aac -b:a 128K")},
        {QStringLiteral("1080P中码率"),
         QStringLiteral("-vcodec h264 -b:v 8M -acodec aac -b:a 128K")},
        {QStringLiteral("1080P低码率"),
         QStringLiteral("-vcodec h264 -b:v 6M -acodec aac -b:a 128K")},
        {QStringLiteral("720P高码率"),
         QStringLiteral("-vcodec h264 -b:v 4M -acodec aac -b:a 128K")},
        {QStringLiteral("720P中码率"),
         QStringLiteral("-vcodec h264 -b:v 2M -acodec aac -b:a 128K")},
        {QStringLiteral("720P低码率"),
         QStringLiteral("-vcodec h264 -b:v 1M -acodec aac -b:a 128K")},
    };
    return presets;
}

QString BatchPresetText(int index, const QString &current) {
    if (index < 0 || index >= BatchPresets().size())
        return current;
    return BatchPresets().at(index).text;
}

QString GenRandomStr(int length) {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    QString text;
    for (int i = 0; i < length; ++i)
        text += QLatin1Char(kChars[QRandomGenerator::global()->bounded(36)]);
    return text.toUpper();
}

QByteArray ConcatListText(const QStringList &paths) {
    QByteArray text;
    for (QString path : paths) {
        path.replace(QLatin1String("'"), QLatin1String("'\\''"));
        text += "file '" + path.toUtf8() + "'\r\n";
    }
    return text;
}

QString JoinCodec(const QString &fieldText) {
    int begin = 0;
    int end = fieldText.size();
    while (begin < end && fieldText.at(begin).unicode() <= 0x20)
        ++begin;
    while (end > begin && fieldText.at(end - 1).unicode() <= 0x20)
        --end;
    return QLatin1Char(' ') + fieldText.mid(begin, end - begin) + QLatin1Char(' ');
}

QString BuildJoinParamLine(const QString &listFile, const QString &fieldText,
                           const QString &output) {
    return QStringLiteral(" -f concat -safe 0 -y -i ") + QuoteArgument(listFile) +
           JoinCodec(fieldText) + QuoteArgument(output);
}

QString BuildBatchParamLine(const QString &input, const QString &params, const QString &output) {
    return QStringLiteral(" -y -i ") + QuoteArgument(input) + QLatin1Char(' ') + params +
           QLatin1Char(' ') + QuoteArgument(output);
}

QString BatchOutputFileName(const QString &input) {
    return MakeOutputFileName(input, QStringLiteral("mp4"), QStringLiteral("-new"));
}

unsigned BatchPercentBefore(int done, int rowsLeft) {
    const int total = done + rowsLeft;
    if (total <= 0)
        return 0;
    return unsigned((done + 0.5) * 100 / total);
}

unsigned BatchPercentAfter(int done, int rowsLeft) {
    const int total = done + rowsLeft;
    if (total <= 0)
        return 0;
    return unsigned(done * 100 / total);
}

QString BatchSummaryText(int succeeded, int failed) {
    return QStringLiteral("成功 %1 个\n失败 %2 个").arg(succeeded).arg(failed);
}

bool RunProducedOutput(bool exitedNormally, int exitCode, const QString &output) {
    return exitedNormally && exitCode == 0 && FileSizeByName(output) >= 1;
}
