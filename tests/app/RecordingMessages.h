#pragma once
// Message boxes that are only recorded, so a test counts them and never blocks on one.

#include "app/MessageService.h"

#include <QList>
#include <QString>
#include <QTemporaryDir>

struct ShownBox {
    QString kind;
    QString caption;
    QString text;
};

class RecordingMessages : public MessageService {
public:
    void ShowError(QWidget *, const QString &caption, const QString &text) override {
        boxes.append({QStringLiteral("error"), caption, text});
    }
    void ShowWarning(QWidget *, const QString &caption, const QString &text) override {
        boxes.append({QStringLiteral("warning"), caption, text});
    }
    void ShowInformation(QWidget *, const QString &caption, const QString &text) override {
        boxes.append({QStringLiteral("information"), caption, text});
    }

    bool AskYesNo(QWidget *, const QString &caption, const QString &text) override {
        boxes.append({QStringLiteral("question"), caption, text});
        return answerYes;
    }

    QList<ShownBox> boxes;
    bool answerYes = false;
};

// A settings file of its own for every window a test builds, so no run sees what an earlier one
// stored at exit.
inline QString FreshIniPath() {
    static QTemporaryDir dir;
    static int count = 0;
    return dir.filePath(QStringLiteral("korvi-%1.ini").arg(++count));
}
