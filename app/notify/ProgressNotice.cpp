#include "app/notify/ProgressNotice.h"

#include "app/notify/Taskbar.h"

#include <QProgressBar>

unsigned ShowProgressOn(QProgressBar *bar, unsigned percent) {
    const unsigned value = percent % 101;
    TaskbarSetProgress(100, value);
    if (bar) {
        bar->setValue(int(value));
    }
    return value;
}
