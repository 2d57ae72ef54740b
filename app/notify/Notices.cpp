#include "app/notify/Notices.h"

#include "app/config/Settings.h"
#include "app/notify/SoundPlayer.h"

#include <QFileInfo>

namespace {

struct BalloonTarget {
    BalloonPresenter presenter = nullptr;
    void *context = nullptr;
};

BalloonTarget &Target() {
    static BalloonTarget target;
    return target;
}

int &LastTimeout() {
    static int timeout = DefaultBalloonTimeoutMs;
    return timeout;
}

class DefaultSink : public NoticeSink {
public:
    void ShowBalloon(const QString &title, const QString &text, int timeoutMs) override {
        const BalloonTarget &t = Target();
        if (t.presenter) {
            t.presenter(t.context, title, text, timeoutMs);
        }
    }
    void PlaySound(const QString &resType, const QString &resName) override {
        PlayResSound(resType, resName, false);
    }
};

NoticeSink *&InstalledSink() {
    static NoticeSink *sink = nullptr;
    return sink;
}

QString FileNameOnly(const QString &path) {
    return QFileInfo(path).fileName();
}

}  // namespace

void SetNoticeSink(NoticeSink *sink) {
    InstalledSink() = sink;
}

NoticeSink &CurrentNoticeSink() {
    static DefaultSink fallback;
    NoticeSink *sink = InstalledSink();
    return sink ? *sink : fallback;
}

void SetBalloonPresenter(BalloonPresenter presenter, void *context) {
    Target() = BalloonTarget{presenter, presenter ? context : nullptr};
}

void ShowBalloon(const QString &title, const QString &text, int timeoutMs) {
    if (timeoutMs >= 0) {
        LastTimeout() = timeoutMs;
    }
    CurrentNoticeSink().ShowBalloon(title, text, LastTimeout());
}

void ResetBalloonTimeout() {
    LastTimeout() = DefaultBalloonTimeoutMs;
}

void NoticeTaskError(const QString &outputFile, const QString &statusText) {
    if (BalloonHint) {
        ShowBalloon(QStringLiteral("任务出错"), FileNameOnly(outputFile) + "\n" + statusText, 3000);
    }
}

void NoticeTaskFinished(const QString &outputFile) {
    if (BalloonHint) {
        ShowBalloon(QStringLiteral("任务完成"), FileNameOnly(outputFile), 3000);
    }
}

void NoticeJoinFinished(const QString &outputPath) {
    if (BalloonHint) {
        ShowBalloon(QStringLiteral("视频合并完成"), outputPath, 5000);
    }
}

void NoticeTranscodeFileDone(const QString &outputName) {
    if (BalloonHint) {
        ShowBalloon(QStringLiteral("转码完成"), outputName, 1000);
    }
}

void NoticeTranscodeAllDone(int succeeded, int failed) {
    if (BalloonHint) {
        ShowBalloon(QStringLiteral("所有转码任务完成"),
                    QStringLiteral("成功 ") + QString::number(succeeded) + QStringLiteral(" 个\n") +
                        QStringLiteral("失败 ") + QString::number(failed) + QStringLiteral(" 个"));
    }
}

void NoticeDoneSound() {
    if (SoundTips) {
        CurrentNoticeSink().PlaySound(QStringLiteral("WAVE"), QStringLiteral("DONE"));
    }
}
