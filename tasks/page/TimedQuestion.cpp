#include "tasks/page/TimedQuestion.h"

#include <QMessageBox>
#include <QPointer>
#include <QTimer>

QuestionAnswer AskTimedQuestion(QWidget *owner, const QString &caption, const QString &text,
                                int timeoutMs) {
    QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Question, caption, text,
                                                QMessageBox::Yes | QMessageBox::No, owner);
    box->setObjectName(QStringLiteral("TimedQuestion"));
    box->setDefaultButton(QMessageBox::Yes);
    bool timedOut = false;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, box, [&timedOut, box] {
        timedOut = true;
        box->done(QMessageBox::Yes);
    });
    timer.start(timeoutMs);
    const int result = box->exec();
    timer.stop();
    if (box)
        delete box;
    if (timedOut)
        return QuestionAnswer::TimedOut;
    return result == QMessageBox::Yes ? QuestionAnswer::Yes : QuestionAnswer::No;
}
