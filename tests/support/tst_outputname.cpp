#include "support/FileUtils.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

class OutputNameTest : public QObject {
    Q_OBJECT
private slots:
    void output_name_data();
    void output_name();
    void temp_dir_has_no_trailing_separator_data();
    void temp_dir_has_no_trailing_separator();
    void desktop_dir_has_no_trailing_separator();
    void program_dir_without_application_object_is_the_programs_folder();
};

void OutputNameTest::output_name_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("ext");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<QString>("output");

    QTest::newRow("ts to mp4") << "D:\\v\\Clip.TS"
                               << "mp4"
                               << "-new"
                               << "D:\\v\\Clip.mp4";
    QTest::newRow("same ext gets suffix") << "D:\\v\\Clip.MP4"
                                          << "mp4"
                                          << "-new"
                                          << "D:\\v\\Clip-new.mp4";
    QTest::newRow("dotted upper ext") << "D:\\v\\song.flac"
                                      << ".MP3"
                                      << "-new"
                                      << "D:\\v\\song.mp3";
    QTest::newRow("no extension") << "D:\\v\\noext"
                                  << "mp4"
                                  << "-new"
                                  << "D:\\v\\noext.mp4";
    QTest::newRow("both extensions empty") << "D:\\v\\noext"
                                           << ""
                                           << "-x"
                                           << "D:\\v\\noext-x";
    QTest::newRow("both empty, default suffix") << "D:\\v\\noext"
                                                << ""
                                                << ""
                                                << "D:\\v\\noext-new";
    QTest::newRow("dot in folder only") << "D:\\a.b\\clip"
                                        << "mp4"
                                        << "-new"
                                        << "D:\\a.b\\clip.mp4";
    QTest::newRow("case of base kept") << "D:\\V\\Clip.AVI"
                                       << "mp4"
                                       << "-new"
                                       << "D:\\V\\Clip.mp4";
    QTest::newRow("same ext other case") << "x.MP4"
                                         << "mp4"
                                         << "-new"
                                         << "x-new.mp4";
    QTest::newRow("empty input") << ""
                                 << "mp4"
                                 << "-new"
                                 << "";
    QTest::newRow("empty suffix becomes -new") << "D:\\v\\a.mp4"
                                               << "mp4"
                                               << ""
                                               << "D:\\v\\a-new.mp4";
    QTest::newRow("empty new ext keeps old, lower") << "D:\\v\\a.MKV"
                                                    << ""
                                                    << "-new"
                                                    << "D:\\v\\a-new.mkv";
    QTest::newRow("drive only") << "D:clip.ts"
                                << "mp4"
                                << "-new"
                                << "D:clip.mp4";
    QTest::newRow("only last dot counts") << "D:\\v\\a.b.c.ts"
                                          << "mp4"
                                          << "-new"
                                          << "D:\\v\\a.b.c.mp4";

    QTest::newRow("slash ts to mp4") << "/v/Clip.TS"
                                     << "mp4"
                                     << "-new"
                                     << "/v/Clip.mp4";
    QTest::newRow("slash same ext") << "/v/Clip.MP4"
                                    << "mp4"
                                    << "-new"
                                    << "/v/Clip-new.mp4";
    QTest::newRow("slash flac") << "/v/song.flac"
                                << ".MP3"
                                << "-new"
                                << "/v/song.mp3";
    QTest::newRow("slash no ext") << "/v/noext"
                                  << "mp4"
                                  << "-new"
                                  << "/v/noext.mp4";
    QTest::newRow("slash dot in folder") << "/home/u/a.b/clip"
                                         << "mp4"
                                         << "-new"
                                         << "/home/u/a.b/clip.mp4";
    QTest::newRow("slash case kept") << "/V/Clip.AVI"
                                     << "mp4"
                                     << "-new"
                                     << "/V/Clip.mp4";
    QTest::newRow("slash blanks and chinese") << "/视频/我的 片段.Ts"
                                              << "mp4"
                                              << "-new"
                                              << "/视频/我的 片段.mp4";
    QTest::newRow("non-ascii letters not lowered") << "/v/a.ÄVI"
                                                   << "ÉXT"
                                                   << "-new"
                                                   << "/v/a.Éxt";
    QTest::newRow("relative name") << "clip.webm"
                                   << "mp3"
                                   << "-new"
                                   << "clip.mp3";
}

void OutputNameTest::output_name() {
    QFETCH(QString, input);
    QFETCH(QString, ext);
    QFETCH(QString, suffix);
    QFETCH(QString, output);
    QCOMPARE(MakeOutputFileName(input, ext, suffix), output);
}

void OutputNameTest::temp_dir_has_no_trailing_separator_data() {
    QTest::addColumn<QString>("separator");
    QTest::newRow("with trailing slash") << QStringLiteral("/");
    QTest::newRow("without") << QString();
}

void OutputNameTest::temp_dir_has_no_trailing_separator() {
#ifndef Q_OS_UNIX
    QSKIP("TMPDIR names the temporary folder on Unix only");
#else
    QFETCH(QString, separator);
    QTemporaryDir shared;
    QVERIFY(shared.isValid());
    const QByteArray saved = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(shared.path() + separator));
    const QString dir = GetTempDir();
    qputenv("TMPDIR", saved);
    // The user's own folder inside the shared one.
    QCOMPARE(dir, shared.path() + QStringLiteral("/korvi-") + QString::number(getuid()));
#endif
}

void OutputNameTest::desktop_dir_has_no_trailing_separator() {
    const QString dir = GetDesktopDir();
    QVERIFY(!dir.isEmpty());
    QVERIFY(QDir::isAbsolutePath(dir));
    QVERIFY(!dir.endsWith(QLatin1Char('/')));
}

void OutputNameTest::program_dir_without_application_object_is_the_programs_folder() {
#ifndef Q_OS_LINUX
    QSKIP("found through /proc on Linux only");
#endif
    // Test programs are built straight into the build folder.
    QCOMPARE(ProgramDir(), QDir(QStringLiteral(KORVI_BINARY_DIR)).canonicalPath());
}

QTEST_APPLESS_MAIN(OutputNameTest)
#include "tst_outputname.moc"
