#pragma once
// The notices the program gives when work ends: balloon tips and the completion sound. They all
// pass through one sink, so the window decides how they are shown and tests see what would be.

#include <QString>

inline constexpr int DefaultBalloonTimeoutMs = 3000;

class NoticeSink {
public:
    virtual ~NoticeSink() = default;
    virtual void ShowBalloon(const QString &title, const QString &text, int timeoutMs) = 0;
    virtual void PlaySound(const QString &resType, const QString &resName) = 0;
};

// The sink notices go to; nullptr restores the default, which plays sounds with PlayResSound
// and shows balloons through the balloon presenter below (nothing when none is set).
void SetNoticeSink(NoticeSink *sink);
NoticeSink &CurrentNoticeSink();

// What shows a balloon for the default sink (the tray icon, or the desktop's notification
// service where there is no tray). The window installs it; nullptr removes it.
using BalloonPresenter = void (*)(void *context, const QString &title, const QString &text,
                                  int timeoutMs);
void SetBalloonPresenter(BalloonPresenter presenter, void *context);

// Shows a balloon; a negative `timeoutMs` keeps the display time set by the last notice that
// set one (3000 ms at first). Not gated by any switch.
void ShowBalloon(const QString &title, const QString &text, int timeoutMs = -1);
// Forgets the remembered display time (tests).
void ResetBalloonTimeout();

// The notices of the program, each given only when its switch (BalloonHint or SoundTips) is
// on. The order in which a caller gives them is the caller's.
void NoticeTaskError(const QString &outputFile, const QString &statusText);
void NoticeTaskFinished(const QString &outputFile);
void NoticeJoinFinished(const QString &outputPath);
void NoticeTranscodeFileDone(const QString &outputName);
void NoticeTranscodeAllDone(int succeeded, int failed);
// The "DONE" sound.
void NoticeDoneSound();
