#pragma once
// The progress value of the main window, on its progress bar and its launcher entry.

class QProgressBar;

// Shows `percent` modulo 101 (0 to 100) on `bar` and on the launcher entry; returns the value
// shown.
unsigned ShowProgressOn(QProgressBar *bar, unsigned percent);
