#pragma once
// The completion sound: program resources of type "WAVE" played in the background.

#include <QString>
#include <QtGlobal>

#include <functional>

// Plays the named sound resource. Nothing plays when the resource is missing, and a sound that
// is still playing is never cut off: the new one is dropped. With `wait` false the call returns
// at once; with `wait` true it returns when the sound has ended, letting events run meanwhile.
// True when the sound was started.
bool PlayResSound(const QString &resType, const QString &resName, bool wait);

// The resource path of a sound ("WAVE", "DONE" gives ":/korvi/sounds/DONE.wav").
QString SoundResourcePath(const QString &resType, const QString &resName);

// Length in milliseconds of a PCM WAV file held in `bytes`; -1 when it is no such file.
qint64 WavDurationMs(const QByteArray &bytes);

// The clock that decides whether a sound still plays (milliseconds, monotonic). A sound
// server may keep reporting a sound as playing for ever, so the program keeps its own deadline
// from the sound's length. Tests install their own clock; an empty function restores the real
// one.
void SetSoundClock(std::function<qint64()> clock);
