#pragma once
// Window seams for tests: a fresh settings file, recorded message boxes and a 64-bit system, so
// no start-up box depends on the machine.

#include "RecordingMessages.h"
#include "app/UnitFormMain.h"

inline MainWindowSeams QuietSeams(RecordingMessages &messages) {
    MainWindowSeams seams;
    seams.iniPath = FreshIniPath();
    seams.messages = &messages;
    seams.isWin64 = [] { return true; };
    return seams;
}
