#pragma once
// Message boxes that are only recorded, so a test counts them and never blocks on one.

#include "app/MessageService.h"

#include <QList>
#include <QString>

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

    QList<ShownBox> boxes;
};
