#include "MediaProbe.h"

#include <QProcess>
#include <QStandardPaths>

namespace {

// Output of a tool that exited normally with code 0, or a null array.
QByteArray Run(const QString &tool, const QStringList &args) {
    const QString program = QStandardPaths::findExecutable(tool);
    if (program.isEmpty())
        return {};
    QProcess p;
    p.setStandardInputFile(QProcess::nullDevice());
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(program, args);
    if (!p.waitForStarted(10000))
        return {};
    if (!p.waitForFinished(120000)) {
        p.kill();
        p.waitForFinished(2000);
        return {};
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    QByteArray out = p.readAllStandardOutput();
    return out.isNull() ? QByteArray("") : out;
}

QByteArray Probe(const QString &file, const QStringList &args) {
    return Run(QStringLiteral("ffprobe"), QStringList{"-v", "error"} << args << "-i" << file);
}

bool HasStream(const QString &file, const QString &type) {
    const QByteArray out = Probe(file, {"-select_streams", type.left(1), "-show_entries",
                                        "stream=codec_type", "-of", "csv=p=0"});
    return out.split('\n').contains(type.toUtf8());
}

}  // namespace

namespace MediaProbe {

double Duration(const QString &file) {
    const QByteArray out =
        Probe(file, {"-show_entries", "format=duration", "-of", "default=nw=1:nk=1"});
    bool ok = false;
    const double d = out.trimmed().toDouble(&ok);
    return ok ? d : -1;
}

double StreamDuration(const QString &file, const QString &kind) {
    const QByteArray out = Probe(file, {"-select_streams", kind + ":0", "-show_entries",
                                        "stream=duration", "-of", "default=nw=1:nk=1"});
    bool ok = false;
    const double d = out.trimmed().split('\n').first().toDouble(&ok);
    return ok ? d : -1;
}

bool HasVideo(const QString &file) {
    return HasStream(file, QStringLiteral("video"));
}

bool HasAudio(const QString &file) {
    return HasStream(file, QStringLiteral("audio"));
}

QSize VideoSize(const QString &file) {
    const QByteArray out = Probe(
        file, {"-select_streams", "v:0", "-show_entries", "stream=width,height", "-of", "csv=p=0"});
    // MPEG-TS input lists the stream once per program as well: the first line is enough.
    const QList<QByteArray> parts = out.trimmed().split('\n').first().split(',');
    if (parts.size() < 2)
        return {};
    bool okW = false, okH = false;
    const int w = parts.at(0).toInt(&okW);
    const int h = parts.at(1).toInt(&okH);
    return okW && okH ? QSize(w, h) : QSize();
}

QStringList StreamKinds(const QString &file) {
    const QByteArray out = Probe(file, {"-show_entries", "stream=codec_type", "-of", "csv=p=0"});
    QStringList kinds;
    for (const QByteArray &line : out.trimmed().split('\n')) {
        if (!line.trimmed().isEmpty())
            kinds << QString::fromLatin1(line.trimmed());
    }
    return kinds;
}

QStringList VideoFrameMd5(const QString &file) {
    // -allowed_extensions lets a local playlist be checked as well as a single file.
    QStringList args{"-nostdin", "-v", "error"};
    if (file.endsWith(QLatin1String(".m3u8"), Qt::CaseInsensitive))
        args << "-allowed_extensions"
             << "ALL";
    args << "-i" << file << "-map"
         << "0:v:0"
         << "-f"
         << "framemd5"
         << "-";
    const QByteArray out = Run(QStringLiteral("ffmpeg"), args);
    QStringList sums;
    for (const QByteArray &line : out.split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        sums << QString::fromLatin1(line.mid(line.lastIndexOf(',') + 1).trimmed());
    }
    return sums;
}

}  // namespace MediaProbe
