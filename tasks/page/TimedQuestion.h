#pragma once
// A Yes/No question box with the question icon that answers itself after a time-out.

#include "tasks/queue/SchedulerHost.h"

#include <QString>

class QWidget;

// Modal; pending events run while it is open. Closing the box without an answer counts as No.
QuestionAnswer AskTimedQuestion(QWidget *owner, const QString &caption, const QString &text,
                                int timeoutMs);
