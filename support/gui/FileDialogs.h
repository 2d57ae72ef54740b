#pragma once
// The window's shared open and save dialogs behind an interface: pages describe what they ask
// for, tests answer without a modal dialog.

#include <QString>
#include <QStringList>

class QFileDialog;
class QWidget;

struct FileDialogRequest {
    QString filter;                 // Qt's "desc (*.a *.b);;..." form
    QString defaultSuffix;          // without the dot
    bool mustExist = false;         // open: the file must exist
    bool confirmOverwrite = false;  // save: ask before overwriting
};

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // The chosen path, or empty on cancel.
    virtual QString AskOpen(QWidget *owner, const FileDialogRequest &request) = 0;
    virtual QString AskSave(QWidget *owner, const FileDialogRequest &request) = 0;
    // Several existing files at once, in the order the dialog returns them; empty on cancel.
    virtual QStringList AskOpenFiles(QWidget *owner, const FileDialogRequest &request) {
        const QString chosen = AskOpen(owner, request);
        return chosen.isEmpty() ? QStringList() : QStringList{chosen};
    }
};

// One open and one save dialog, reused by every page: each use sets every property anew and
// clears the remembered file name afterwards, so the next use starts empty.
class SharedFileDialogs : public FileDialogs {
public:
    explicit SharedFileDialogs(QWidget *owner);
    ~SharedFileDialogs() override;

    QString AskOpen(QWidget *owner, const FileDialogRequest &request) override;
    QString AskSave(QWidget *owner, const FileDialogRequest &request) override;
    QStringList AskOpenFiles(QWidget *owner, const FileDialogRequest &request) override;

    QFileDialog *OpenDialog() const { return m_open; }
    QFileDialog *SaveDialog() const { return m_save; }

private:
    QStringList Ask(QFileDialog *dialog, const FileDialogRequest &request);

    QFileDialog *m_open;
    QFileDialog *m_save;
};
