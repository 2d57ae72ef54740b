#include "support/gui/FileDialogs.h"

#include <QFileDialog>

SharedFileDialogs::SharedFileDialogs(QWidget *owner)
    : m_open(new QFileDialog(owner)), m_save(new QFileDialog(owner)) {
    m_open->setObjectName(QStringLiteral("OpenDialog1"));
    m_open->setAcceptMode(QFileDialog::AcceptOpen);
    m_save->setObjectName(QStringLiteral("SaveDialog1"));
    m_save->setAcceptMode(QFileDialog::AcceptSave);
}

// The dialogs are children of the owner window, which deletes them.
SharedFileDialogs::~SharedFileDialogs() = default;

QString SharedFileDialogs::AskOpen(QWidget *, const FileDialogRequest &request) {
    m_open->setFileMode(request.mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    return Ask(m_open, request).value(0);
}

QStringList SharedFileDialogs::AskOpenFiles(QWidget *, const FileDialogRequest &request) {
    m_open->setFileMode(QFileDialog::ExistingFiles);
    return Ask(m_open, request);
}

QString SharedFileDialogs::AskSave(QWidget *, const FileDialogRequest &request) {
    m_save->setFileMode(QFileDialog::AnyFile);
    m_save->setOption(QFileDialog::DontConfirmOverwrite, !request.confirmOverwrite);
    return Ask(m_save, request).value(0);
}

QStringList SharedFileDialogs::Ask(QFileDialog *dialog, const FileDialogRequest &request) {
    dialog->setOption(QFileDialog::ReadOnly, false);
    dialog->setSizeGripEnabled(true);
    dialog->setNameFilter(request.filter);
    dialog->setDefaultSuffix(request.defaultSuffix);
    QStringList chosen;
    if (dialog->exec() == QDialog::Accepted)
        chosen = dialog->selectedFiles();
    dialog->selectFile(QString());
    return chosen;
}
