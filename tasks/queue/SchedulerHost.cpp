#include "tasks/queue/SchedulerHost.h"

#include <QProcess>
#include <QtGlobal>

ShutdownCommand SystemShutdownCommand() {
#ifdef Q_OS_WIN
    return {
        QStringLiteral("shutdown.exe"),
        {QStringLiteral("/f"), QStringLiteral("/s"), QStringLiteral("/t"), QStringLiteral("30")}};
#else
    return {QStringLiteral("shutdown"), {QStringLiteral("-P"), QStringLiteral("+1")}};
#endif
}

void RunSystemShutdown(const QString &program, const QStringList &arguments) {
    if (qEnvironmentVariableIsSet("KORVI_TEST")) {
        qWarning("Refusing to run the system shut-down under the test harness");
        return;
    }
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.startDetached();
}
