#include "app/notify/SoundPlayer.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QTimer>
#include <QUrl>
#include <QtEndian>

#include <QPointer>

// The sound sits in this static library's resources, which the linker drops unless they are
// referenced.
static void InitSoundResources() {
    Q_INIT_RESOURCE(notify);
}

namespace {

qint64 RealClock() {
    static QElapsedTimer timer;
    if (!timer.isValid()) {
        timer.start();
    }
    return timer.elapsed();
}

struct SoundState {
    std::function<qint64()> clock = RealClock;
    qint64 playingUntil = -1;
    // Owned by the application, so it goes before the audio back end does.
    QPointer<QSoundEffect> effect;
};

SoundState &State() {
    static SoundState state;
    return state;
}

quint32 Le32(const QByteArray &b, qsizetype at) {
    return qFromLittleEndian<quint32>(b.constData() + at);
}

quint16 Le16(const QByteArray &b, qsizetype at) {
    return qFromLittleEndian<quint16>(b.constData() + at);
}

}  // namespace

QString SoundResourcePath(const QString &resType, const QString &resName) {
    if (resType.compare(QLatin1String("WAVE"), Qt::CaseInsensitive) != 0 || resName.isEmpty()) {
        return QString();
    }
    return QLatin1String(":/korvi/sounds/") + resName.toUpper() + QLatin1String(".wav");
}

qint64 WavDurationMs(const QByteArray &bytes) {
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE") {
        return -1;
    }
    quint32 byteRate = 0;
    qsizetype at = 12;
    while (at + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(at, 4);
        const quint32 size = Le32(bytes, at + 4);
        if (id == "fmt " && at + 16 <= bytes.size() && size >= 16) {
            if (Le16(bytes, at + 8) != 1) {
                return -1;  // not PCM
            }
            byteRate = Le32(bytes, at + 16);
        } else if (id == "data") {
            if (byteRate == 0) {
                return -1;
            }
            const quint64 dataSize = qMin<quint64>(size, quint64(bytes.size() - at - 8));
            return qint64(dataSize * 1000 / byteRate);
        }
        at += 8 + qsizetype(size) + (size & 1);
    }
    return -1;
}

void SetSoundClock(std::function<qint64()> clock) {
    State().clock = clock ? std::move(clock) : std::function<qint64()>(RealClock);
    State().playingUntil = -1;
}

bool PlayResSound(const QString &resType, const QString &resName, bool wait) {
    static const bool resourcesReady = (InitSoundResources(), true);
    Q_UNUSED(resourcesReady);
    SoundState &state = State();
    const QString path = SoundResourcePath(resType, resName);
    if (path.isEmpty()) {
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return false;
    }
    const qint64 length = WavDurationMs(file.readAll());
    if (length < 0) {
        return false;
    }
    const qint64 now = state.clock();
    if (state.playingUntil >= 0 && now < state.playingUntil) {
        return false;
    }
    state.playingUntil = now + length;
    // Without an audio device there is nothing to play and nothing to report.
    if (!QMediaDevices::defaultAudioOutput().isNull()) {
        if (!state.effect) {
            state.effect = new QSoundEffect(QCoreApplication::instance());
            state.effect->setSource(QUrl(QLatin1String("qrc") + path));
        } else if (state.effect->source() != QUrl(QLatin1String("qrc") + path)) {
            state.effect->setSource(QUrl(QLatin1String("qrc") + path));
        }
        state.effect->play();
    }
    if (wait && length > 0) {
        QEventLoop loop;
        QTimer::singleShot(int(length), &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}
