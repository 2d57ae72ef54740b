#include "support/ExternalTools.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool MakeTool(const QString &folder, const QString &name, bool executable) {
    QFile file(QDir(folder).filePath(name));
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("#!/bin/sh\nexit 0\n");
    file.close();
    QFileDevice::Permissions permissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    if (executable)
        permissions |= QFileDevice::ExeOwner;
    return file.setPermissions(permissions);
}

}  // namespace

class ExternalToolsTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void program_folder_comes_before_the_search_path();
    void search_path_is_used_when_the_program_folder_lacks_the_tool();
    void search_path_folders_are_tried_in_order();
    void non_executable_file_is_not_found();
    void empty_search_path_hides_system_tools();
    void folder_named_like_the_tool_is_not_found();
    void reset_searches_path_again();

private:
    QTemporaryDir m_root;
    QString m_program;
    QString m_path1;
    QString m_path2;
};

void ExternalToolsTest::init() {
    QVERIFY(m_root.isValid());
    m_program = m_root.filePath(QStringLiteral("program"));
    m_path1 = m_root.filePath(QStringLiteral("bin1"));
    m_path2 = m_root.filePath(QStringLiteral("bin2"));
    for (const QString &dir : {m_program, m_path1, m_path2}) {
        QDir(dir).removeRecursively();
        QVERIFY(QDir().mkpath(dir));
    }
}

void ExternalToolsTest::cleanup() {
    ExternalTools::Instance().Reset();
}

void ExternalToolsTest::program_folder_comes_before_the_search_path() {
    QVERIFY(MakeTool(m_program, QStringLiteral("ffmpeg"), true));
    QVERIFY(MakeTool(m_path1, QStringLiteral("ffmpeg"), true));
    ExternalTools &tools = ExternalTools::Instance();
    tools.SetProgramDir(m_program);
    tools.SetSearchPath({m_path1});
    QCOMPARE(tools.FFmpegPath(), m_program + QStringLiteral("/ffmpeg"));
    QCOMPARE(tools.ProgramDirectory(), m_program);
}

void ExternalToolsTest::search_path_is_used_when_the_program_folder_lacks_the_tool() {
    QVERIFY(MakeTool(m_program, QStringLiteral("ffmpeg"), true));
    QVERIFY(MakeTool(m_path1, QStringLiteral("aria2c"), true));
    ExternalTools &tools = ExternalTools::Instance();
    tools.SetProgramDir(m_program);
    tools.SetSearchPath({m_path1});
    QCOMPARE(tools.Aria2Path(), m_path1 + QStringLiteral("/aria2c"));
    QCOMPARE(tools.FFmpegPath(), m_program + QStringLiteral("/ffmpeg"));
}

void ExternalToolsTest::search_path_folders_are_tried_in_order() {
    QVERIFY(MakeTool(m_path1, QStringLiteral("aria2c"), true));
    QVERIFY(MakeTool(m_path2, QStringLiteral("aria2c"), true));
    ExternalTools &tools = ExternalTools::Instance();
    tools.SetProgramDir(m_program);
    tools.SetSearchPath({m_root.filePath(QStringLiteral("missing")), m_path2, m_path1});
    QCOMPARE(tools.Aria2Path(), m_path2 + QStringLiteral("/aria2c"));
}

void ExternalToolsTest::non_executable_file_is_not_found() {
    QVERIFY(MakeTool(m_program, QStringLiteral("ffmpeg"), false));
    QVERIFY(MakeTool(m_path1, QStringLiteral("ffmpeg"), true));
    ExternalTools &tools = ExternalTools::Instance();
    tools.SetProgramDir(m_program);
    tools.SetSearchPath({m_path1});
    QCOMPARE(tools.FFmpegPath(), m_path1 + QStringLiteral("/ffmpeg"));
    tools.SetSearchPath({});
    QCOMPARE(tools.FFmpegPath(), QString());
}

void ExternalToolsTest::empty_search_path_hides_system_tools() {
    ExternalTools &tools = ExternalTools::Instance();
    tools.SetProgramDir(m_program);
    tools.SetSearchPath({});
    QCOMPARE(tools.FFmpegPath(), QString());
    QCOMPARE(tools.Aria2Path(), QString());
}

void ExternalToolsTest::folder_named_like_the_tool_is_not_found() {
    QVERIFY(QDir().mkpath(m_program + QStringLiteral("/ffmpeg")));
    ExternalTools &tools = ExternalTools::Instance();
    tools.SetProgramDir(m_program);
    tools.SetSearchPath({});
    QCOMPARE(tools.FFmpegPath(), QString());
}

void ExternalToolsTest::reset_searches_path_again() {
    ExternalTools &tools = ExternalTools::Instance();
    tools.SetProgramDir(m_program);
    tools.SetSearchPath({});
    tools.Reset();
    // The machine has the real tools on PATH; after a reset they are found there.
    const QString ffmpeg = tools.FFmpegPath();
    QVERIFY2(!ffmpeg.isEmpty(), "ffmpeg is expected on PATH");
    QVERIFY(QFileInfo(ffmpeg).isExecutable());
    QCOMPARE(QFileInfo(ffmpeg).fileName(), QStringLiteral("ffmpeg"));
    QCOMPARE(tools.ProgramDirectory(), QCoreApplication::applicationDirPath());
}

QTEST_GUILESS_MAIN(ExternalToolsTest)
#include "tst_externaltools.moc"
