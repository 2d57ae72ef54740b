#include "app/MessageService.h"

#include <QMessageBox>

void BoxMessageService::ShowError(QWidget *owner, const QString &caption, const QString &text) {
    QMessageBox::critical(owner, caption, text, QMessageBox::Ok);
}

void BoxMessageService::ShowWarning(QWidget *owner, const QString &caption, const QString &text) {
    QMessageBox::warning(owner, caption, text, QMessageBox::Ok);
}

void BoxMessageService::ShowInformation(QWidget *owner, const QString &caption,
                                        const QString &text) {
    QMessageBox::information(owner, caption, text, QMessageBox::Ok);
}

bool MessageService::AskYesNo(QWidget *owner, const QString &caption, const QString &text) {
    return QMessageBox::question(owner, caption, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

MessageService &DefaultMessageService() {
    static BoxMessageService service;
    return service;
}
