#include "support/gui/RunWindow.h"

#include "support/ExternalTools.h"
#include "support/ProcessUtils.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QProcess>
#include <QVBoxLayout>

#include <utility>

namespace {

void PresentInRunWindow(QProcess *process) {
    RunWindow::Present(process);
}

bool IsFfmpeg(const QString &program) {
    return QFileInfo(program).baseName().compare(QStringLiteral("ffmpeg"), Qt::CaseInsensitive) ==
           0;
}

}  // namespace

void InstallRunWindow() {
    SetConsolePresenter(PresentInRunWindow);
}

RunWindow::RunWindow(QProcess *process)
    : QWidget(nullptr, Qt::Window), m_process(process), m_console(new QPlainTextEdit(this)) {
    setObjectName(QStringLiteral("frmRun"));
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_ShowWithoutActivating);
    // A failed run left open must not keep the program alive once the main window has closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    m_process->setParent(this);
    m_console->setObjectName(QStringLiteral("mmoRunConsole"));
    m_console->setReadOnly(true);
    m_console->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_console->setMaximumBlockCount(5000);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_console);
    resize(640, 360);
    m_outputName = QFileInfo(OutputOf(*m_process)).fileName();
    if (m_outputName.isEmpty())
        m_outputName = QFileInfo(m_process->program()).fileName();
}

RunWindow::~RunWindow() {
    // Never a blocking wait here: the window goes at once and the tools are ended behind it.
    EndProcessLater(m_probe);
    m_probe = nullptr;
    HandOverProcess();
}

bool RunWindow::Running() const {
    return m_process && m_process->state() != QProcess::NotRunning;
}

QList<RunWindow *> RunWindow::RunningWindows() {
    QList<RunWindow *> windows;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *run = qobject_cast<RunWindow *>(widget);
        if (run && run->Running())
            windows.append(run);
    }
    return windows;
}

void RunWindow::EndRun() {
    close();
}

void RunWindow::HandOverProcess() {
    QProcess *process = std::exchange(m_process, nullptr);
    if (!process)
        return;
    const bool running = process->state() != QProcess::NotRunning;
    const QString output = OutputOf(*process);
    const QString workDir = process->workingDirectory();
    EndProcessLater(process);
    if (running && !output.isEmpty()) {
        // A cut-off run leaves a broken file; the reaper emits finished even at the program's end.
        const QString path =
            QDir(workDir.isEmpty() ? QDir::currentPath() : workDir).absoluteFilePath(output);
        connect(process, &QProcess::finished, process, [path] { QFile::remove(path); });
    }
}

bool RunWindow::Present(QProcess *process) {
    auto *window = new RunWindow(process);
    if (!window->Start()) {
        delete window;
        return false;
    }
    window->showMinimized();
    return true;
}

QString RunWindow::OutputOf(const QProcess &process) {
    const QStringList args = process.arguments();
    return args.isEmpty() ? QString() : args.last();
}

QString RunWindow::InputOf(const QProcess &process) {
    const QStringList args = process.arguments();
    const int at = args.indexOf(QStringLiteral("-i"));
    if (at < 0 || at + 1 >= args.size())
        return QString();
    const QString dir =
        process.workingDirectory().isEmpty() ? QDir::currentPath() : process.workingDirectory();
    return QDir(dir).absoluteFilePath(args.at(at + 1));
}

QString RunWindow::ConsoleText() const {
    return m_console->toPlainText();
}

bool RunWindow::Start() {
    const bool ffmpeg = IsFfmpeg(m_process->program());
    if (ffmpeg) {
        // Machine-readable progress on standard output; the console text stays on standard error.
        m_process->setArguments(QStringList{QStringLiteral("-progress"), QStringLiteral("pipe:1")} +
                                m_process->arguments());
    }
    m_process->setStandardInputFile(QProcess::nullDevice());
    connect(m_process, &QProcess::readyReadStandardError, this, &RunWindow::ReadConsole);
    connect(m_process, &QProcess::readyReadStandardOutput, this, &RunWindow::ReadProgress);
    connect(m_process, &QProcess::finished, this,
            [this](int code, QProcess::ExitStatus status) { Finished(code, int(status)); });
    UpdateTitle();
    m_process->start();
    if (!m_process->waitForStarted(-1))
        return false;
    if (ffmpeg)
        ProbeDuration();
    return true;
}

void RunWindow::ProbeDuration() {
    const QString input = InputOf(*m_process);
    if (input.isEmpty())
        return;
    // ffprobe comes with ffmpeg: look beside it first.
    QString ffprobe = QFileInfo(m_process->program()).dir().filePath(QStringLiteral("ffprobe"));
    if (!QFileInfo(ffprobe).isExecutable())
        ffprobe = ExternalTools::Instance().Find(QStringLiteral("ffprobe"));
    if (ffprobe.isEmpty())
        return;
    m_probe = new QProcess(this);
    EndWithParent(m_probe);
    m_probe->setStandardInputFile(QProcess::nullDevice());
    m_probe->setStandardErrorFile(QProcess::nullDevice());
    connect(m_probe, &QProcess::finished, this, [this] {
        bool ok = false;
        const double seconds =
            QString::fromUtf8(m_probe->readAllStandardOutput()).trimmed().toDouble(&ok);
        if (ok && seconds > 0)
            m_progress.SetDurationUs(qint64(seconds * 1e6));
        m_probe->deleteLater();
        m_probe = nullptr;
        UpdateTitle();
    });
    m_probe->start(ffprobe, {QStringLiteral("-v"), QStringLiteral("error"),
                             QStringLiteral("-show_entries"), QStringLiteral("format=duration"),
                             QStringLiteral("-of"), QStringLiteral("default=nw=1:nk=1"), input});
}

void RunWindow::ReadConsole() {
    const QByteArray bytes = m_process->readAllStandardError();
    // Until ffprobe has answered, the console's own "Duration:" line gives the percent.
    m_progress.FeedConsole(bytes);
    QString text = m_decoder(bytes);
    // ffmpeg redraws its status line with carriage returns; show each state on its own line.
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    m_console->moveCursor(QTextCursor::End);
    m_console->insertPlainText(text);
    m_console->moveCursor(QTextCursor::End);
    UpdateTitle();
}

void RunWindow::ReadProgress() {
    m_progress.FeedProgress(m_process->readAllStandardOutput());
    UpdateTitle();
}

void RunWindow::Finished(int exitCode, int exitStatus) {
    ReadConsole();
    if (exitStatus == QProcess::NormalExit && exitCode == 0) {
        close();
        return;
    }
    m_failed = true;
    const QString status = exitStatus == QProcess::NormalExit
                               ? QStringLiteral("运行失败,退出代码 %1").arg(exitCode)
                               : QStringLiteral("异常终止");
    m_console->appendPlainText(
        QStringLiteral("\n%1 %2").arg(QFileInfo(m_process->program()).fileName(), status));
    setWindowTitle(m_outputName + QStringLiteral(" - ") + status);
}

void RunWindow::UpdateTitle() {
    const int percent = m_progress.Percent();
    if (m_failed || (percent == m_percent && !windowTitle().isEmpty()))
        return;
    m_percent = percent;
    setWindowTitle(percent < 0 ? m_outputName
                               : QStringLiteral("%1 - %2%").arg(m_outputName).arg(percent));
}

void RunWindow::closeEvent(QCloseEvent *event) {
    // Closing the window ends the run, as closing a console window does.
    HandOverProcess();
    event->accept();
}
