// The batch page's rules from tables: numbering, sorting, presets, percents, the exact ffmpeg
// parameter lines, the concat list text, the file's own percent and the judgement of a run.
#include "batch/BatchCommand.h"
#include "support/FfmpegProgress.h"

#include <QProcess>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QStringList Column(const QStandardItemModel &model, int column) {
    QStringList values;
    for (int row = 0; row < model.rowCount(); ++row)
        values << model.index(row, column).data().toString();
    return values;
}

QStringList Names(int count) {
    QStringList names;
    for (int i = 0; i < count; ++i)
        names << QStringLiteral("/v/%1.ts").arg(QChar(u'a' + i));
    return names;
}

}  // namespace

class TestBatchCommand : public QObject {
    Q_OBJECT
private slots:
    void numbering_follows_adds_and_deletes_data();
    void numbering_follows_adds_and_deletes();
    void sorting_orders_rows_and_keeps_their_numbers_data();
    void sorting_orders_rows_and_keeps_their_numbers();
    void presets_set_the_parameter_field_data();
    void presets_set_the_parameter_field();
    void batch_percent_before_and_after_a_file_data();
    void batch_percent_before_and_after_a_file();
    void parameter_lines_are_exact_data();
    void parameter_lines_are_exact();
    void concat_list_escapes_quotes_in_utf8_data();
    void concat_list_escapes_quotes_in_utf8();
    void file_percent_follows_ffmpeg_output_data();
    void file_percent_follows_ffmpeg_output();
    void run_counts_only_with_status_zero_and_bytes_data();
    void run_counts_only_with_status_zero_and_bytes();
};

void TestBatchCommand::numbering_follows_adds_and_deletes_data() {
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("added");
    QTest::addColumn<QList<int>>("deleted");
    QTest::addColumn<QStringList>("numbers");
    QTest::addColumn<QStringList>("files");
    const QStringList five = Names(5);
    QTest::newRow("three added to two")
        << 2 << 3 << QList<int>{} << QStringList{"1", "2", "3", "4", "5"} << five;
    QTest::newRow("row 2 of 5 deleted")
        << 5 << 0 << QList<int>{1} << QStringList{"1", "2", "3", "4"}
        << QStringList{five[0], five[2], five[3], five[4]};
    QTest::newRow("first and last deleted, twice named")
        << 5 << 0 << QList<int>{4, 0, 4} << QStringList{"1", "2", "3"}
        << QStringList{five[1], five[2], five[3]};
    QTest::newRow("everything deleted")
        << 2 << 0 << QList<int>{0, 1} << QStringList{} << QStringList{};
}

void TestBatchCommand::numbering_follows_adds_and_deletes() {
    QFETCH(int, start);
    QFETCH(int, added);
    QFETCH(QList<int>, deleted);
    QFETCH(QStringList, numbers);
    QFETCH(QStringList, files);
    QStandardItemModel model(0, BatchColumnCount);
    const QStringList names = Names(start + added);
    AppendBatchRows(&model, names.mid(0, start));
    AppendBatchRows(&model, names.mid(start));
    if (!deleted.isEmpty())
        RemoveBatchRows(&model, deleted);
    QCOMPARE(Column(model, BatchColNumber), numbers);
    QCOMPARE(Column(model, BatchColFile), files);
    QCOMPARE(BatchRowPaths(&model), files);
}

void TestBatchCommand::sorting_orders_rows_and_keeps_their_numbers_data() {
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("descending");
    QTest::addColumn<QStringList>("numbers");
    QTest::addColumn<QStringList>("files");
    // Rows as numbered: 1 b.TS, 2 A.ts, 3 c.ts, ..., 10 a10.ts; numbers compare as numbers.
    QTest::newRow("file, descending") << 1 << true << QStringList{"3", "1", "9", "10", "2"}
                                      << QStringList{"c.ts", "b.TS", "a9.ts", "a10.ts", "A.ts"};
    QTest::newRow("file, ascending, case ignored")
        << 1 << false << QStringList{"2", "10", "9", "1", "3"}
        << QStringList{"A.ts", "a10.ts", "a9.ts", "b.TS", "c.ts"};
    QTest::newRow("number, ascending") << 0 << false << QStringList{"1", "2", "3", "9", "10"}
                                       << QStringList{"b.TS", "A.ts", "c.ts", "a9.ts", "a10.ts"};
    QTest::newRow("number, descending") << 0 << true << QStringList{"10", "9", "3", "2", "1"}
                                        << QStringList{"a10.ts", "a9.ts", "c.ts", "A.ts", "b.TS"};
}

void TestBatchCommand::sorting_orders_rows_and_keeps_their_numbers() {
    QFETCH(int, column);
    QFETCH(bool, descending);
    QFETCH(QStringList, numbers);
    QFETCH(QStringList, files);
    QStandardItemModel model(0, BatchColumnCount);
    const QStringList start{"b.TS", "A.ts", "c.ts", "a9.ts", "a10.ts"};
    const QStringList startNumbers{"1", "2", "3", "9", "10"};
    AppendBatchRows(&model, start);
    for (int row = 0; row < start.size(); ++row)
        model.setData(model.index(row, BatchColNumber), startNumbers[row]);
    SortBatchRows(&model, column, descending);
    QCOMPARE(Column(model, BatchColNumber), numbers);
    QCOMPARE(Column(model, BatchColFile), files);
}

void TestBatchCommand::presets_set_the_parameter_field_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << "原码"
                       << "-c copy";
    QTest::newRow("1") << 1 << "H264+AAC默认码率"
                       << "-vcodec h264 -acodec aac";
    QTest::newRow("2") << 2 << "1080P高码率"
                       << "-vcodec h264 -b:v 10M -acodec aac -b:a 128K";
    QTest::newRow("3") << 3 << "1080P中码率"
                       << "-vcodec h264 -b:v 8M -acodec aac -b:a 128K";
    QTest::newRow("4") << 4 << "1080P低码率"
                       << "-vcodec h264 -b:v 6M -acodec aac -b:a 128K";
    QTest::newRow("5") << 5 << "720P高码率"
                       << "-vcodec h264 -b:v 4M -acodec aac -b:a 128K";
    QTest::newRow("6") << 6 << "720P中码率"
                       << "-vcodec h264 -b:v 2M -acodec aac -b:a 128K";
    QTest::newRow("7") << 7 << "720P低码率"
                       << "-vcodec h264 -b:v 1M -acodec aac -b:a 128K";
    QTest::newRow("nothing selected") << -1 << ""
                                      << "as typed";
}

void TestBatchCommand::presets_set_the_parameter_field() {
    QFETCH(int, index);
    QFETCH(QString, caption);
    QFETCH(QString, text);
    QCOMPARE(BatchPresets().size(), 8);
    if (index >= 0)
        QCOMPARE(BatchPresets().at(index).caption, caption);
    QCOMPARE(BatchPresetText(index, QStringLiteral("as typed")), text);
}

void TestBatchCommand::batch_percent_before_and_after_a_file_data() {
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("rowsLeft");
    QTest::addColumn<unsigned>("before");
    QTest::addColumn<unsigned>("after");
    // Before: the current row is among the rows left; after: it is done.
    QTest::newRow("first of four") << 0 << 4 << 12u << 25u;
    QTest::newRow("second of four") << 1 << 3 << 37u << 50u;
    QTest::newRow("last of four") << 3 << 1 << 87u << 100u;
    QTest::newRow("only one") << 0 << 1 << 50u << 100u;
    QTest::newRow("no rows") << 0 << 0 << 0u << 0u;
}

void TestBatchCommand::batch_percent_before_and_after_a_file() {
    QFETCH(int, done);
    QFETCH(int, rowsLeft);
    QFETCH(unsigned, before);
    QFETCH(unsigned, after);
    QCOMPARE(BatchPercentBefore(done, rowsLeft), before);
    QCOMPARE(BatchPercentAfter(done + (rowsLeft > 0 ? 1 : 0), qMax(0, rowsLeft - 1)), after);
}

void TestBatchCommand::parameter_lines_are_exact_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");
    QTest::newRow("join, default")
        << BuildJoinParamLine("/tmp/K3J9X2QA.txt", "-vcodec h264 -acodec aac", "/v/out.mp4")
        << " -f concat -safe 0 -y -i \"/tmp/K3J9X2QA.txt\" -vcodec h264 -acodec aac \"/v/out.mp4\"";
    QTest::newRow("join, trimmed")
        << BuildJoinParamLine("/tmp/L.txt", " \t-c copy\r\n", "/v/o.mkv")
        << " -f concat -safe 0 -y -i \"/tmp/L.txt\" -c copy \"/v/o.mkv\"";
    QTest::newRow("join, empty field gives two blanks")
        << BuildJoinParamLine("/tmp/L.txt", "", "/v/o.mp4")
        << " -f concat -safe 0 -y -i \"/tmp/L.txt\"  \"/v/o.mp4\"";
    QTest::newRow("batch, default")
        << BuildBatchParamLine("/v/a b.ts", "-vcodec h264 -acodec aac", "/v/a b.mp4")
        << " -y -i \"/v/a b.ts\" -vcodec h264 -acodec aac \"/v/a b.mp4\"";
    QTest::newRow("batch, untrimmed")
        << BuildBatchParamLine("/v/a.ts", "  ", "/v/a.mp4") << " -y -i \"/v/a.ts\"    \"/v/a.mp4\"";
    // Every character of a name survives the split into arguments, quotes included.
    QTest::newRow("batch, quotes in names")
        << QProcess::splitCommand(BuildBatchParamLine("/v/say \"hi\".ts", "-c copy", "/v/\"o\""))
               .join('|')
        << "-y|-i|/v/say \"hi\".ts|-c|copy|/v/\"o\"";
    QTest::newRow("join, quote in the output")
        << QProcess::splitCommand(BuildJoinParamLine("/t/L.txt", "", "/v/a \"b\".mp4")).join('|')
        << "-f|concat|-safe|0|-y|-i|/t/L.txt|/v/a \"b\".mp4";
    QTest::newRow("batch output of .ts") << BatchOutputFileName("/v/a.ts") << "/v/a.mp4";
    QTest::newRow("batch output of .mp4") << BatchOutputFileName("/v/a.mp4") << "/v/a-new.mp4";
}

void TestBatchCommand::parameter_lines_are_exact() {
    QFETCH(QString, line);
    QFETCH(QString, expected);
    QCOMPARE(line, expected);
}

void TestBatchCommand::concat_list_escapes_quotes_in_utf8_data() {
    QTest::addColumn<QStringList>("paths");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("two plain") << QStringList{"/v/a.ts", "/v/b c.ts"}
                               << QByteArray("file '/v/a.ts'\r\nfile '/v/b c.ts'\r\n");
    QTest::newRow("apostrophe") << QStringList{"/v/it's.mp4"}
                                << QByteArray("file '/v/it'\\''s.mp4'\r\n");
    QTest::newRow("chinese in utf-8") << QStringList{QStringLiteral("/v/视频.ts")}
                                      << QByteArray("file '/v/\xe8\xa7\x86\xe9\xa2\x91.ts'\r\n");
    QTest::newRow("empty list") << QStringList{} << QByteArray();
}

void TestBatchCommand::concat_list_escapes_quotes_in_utf8() {
    QFETCH(QStringList, paths);
    QFETCH(QByteArray, text);
    QCOMPARE(ConcatListText(paths), text);
}

void TestBatchCommand::file_percent_follows_ffmpeg_output_data() {
    QTest::addColumn<QByteArrayList>("console");
    QTest::addColumn<QByteArrayList>("progress");
    QTest::addColumn<int>("percent");
    const QByteArray banner = "Input #0, mpegts, from 'a.ts':\n  Duration: 00:00:10.00, start: ";
    QTest::newRow("half") << QByteArrayList{banner} << QByteArrayList{"out_time_us=5000000\n"}
                          << 50;
    QTest::newRow("pieces") << QByteArrayList{"Input #0\n  Dura", "tion: 00:01:", "40.00, st"}
                            << QByteArrayList{"frame=1\nout_time_", "us=25000000\nprogress=c"}
                            << 25;
    QTest::newRow("past the end is 100")
        << QByteArrayList{banner} << QByteArrayList{"out_time_us=12000000\n"} << 100;
    QTest::newRow("no duration yet") << QByteArrayList{} << QByteArrayList{"out_time_us=1\n"} << -1;
    QTest::newRow("duration N/A") << QByteArrayList{"  Duration: N/A, bitrate: N/A\n"}
                                  << QByteArrayList{"out_time_us=1\n"} << -1;
    QTest::newRow("no position yet") << QByteArrayList{banner} << QByteArrayList{"frame=1\n"} << -1;
}

void TestBatchCommand::file_percent_follows_ffmpeg_output() {
    QFETCH(QByteArrayList, console);
    QFETCH(QByteArrayList, progress);
    QFETCH(int, percent);
    FfmpegProgress reader;
    for (const QByteArray &piece : console)
        reader.FeedConsole(piece);
    for (const QByteArray &piece : progress)
        reader.FeedProgress(piece);
    QCOMPARE(reader.Percent(), percent);
}

void TestBatchCommand::run_counts_only_with_status_zero_and_bytes_data() {
    QTest::addColumn<bool>("normal");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("output");  // "-" for no file
    QTest::addColumn<bool>("done");
    QTest::newRow("status 0 and bytes") << true << 0 << QByteArray("x") << true;
    QTest::newRow("status 0, empty file") << true << 0 << QByteArray() << false;
    QTest::newRow("status 0, no file") << true << 0 << QByteArray("-") << false;
    QTest::newRow("status 1 with a file") << true << 1 << QByteArray("partial") << false;
    QTest::newRow("crashed with a file") << false << 0 << QByteArray("partial") << false;
}

void TestBatchCommand::run_counts_only_with_status_zero_and_bytes() {
    QFETCH(bool, normal);
    QFETCH(int, code);
    QFETCH(QByteArray, output);
    QFETCH(bool, done);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.mp4"));
    if (output != "-") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(output);
    }
    QCOMPARE(RunProducedOutput(normal, code, path), done);
}

QTEST_MAIN(TestBatchCommand)
#include "tst_batchcommand.moc"
