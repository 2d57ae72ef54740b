#pragma once
// Message boxes reach the user through this interface, so tests can count them without a modal
// box blocking the run.

#include <QString>

class QWidget;

class MessageService {
public:
    virtual ~MessageService() = default;

    // An error box (icon "error", OK button).
    virtual void ShowError(QWidget *owner, const QString &caption, const QString &text) = 0;
    // A warning box (icon "warning", OK button).
    virtual void ShowWarning(QWidget *owner, const QString &caption, const QString &text) = 0;
    // An information box (OK button).
    virtual void ShowInformation(QWidget *owner, const QString &caption, const QString &text) = 0;
    // A question with Yes and No (icon "question"); true for Yes.
    virtual bool AskYesNo(QWidget *owner, const QString &caption, const QString &text);
};

// Real, modal QMessageBox boxes.
class BoxMessageService : public MessageService {
public:
    void ShowError(QWidget *owner, const QString &caption, const QString &text) override;
    void ShowWarning(QWidget *owner, const QString &caption, const QString &text) override;
    void ShowInformation(QWidget *owner, const QString &caption, const QString &text) override;
};

// The process-wide real boxes.
MessageService &DefaultMessageService();
