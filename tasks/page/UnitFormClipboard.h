#pragma once
// The clipboard import dialog: one "name$address" line or one browser request block per task,
// imported into the queue with an optional file name prefix. Created per use and shown modally.

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

namespace Ui {
class TfrmClipboard;
}

class TfrmClipboard : public QDialog {
    Q_OBJECT
public:
    using AddTask =
        std::function<void(const QString &url, const QString &outFile, const QString &headers)>;
    // The count box, owned by the dialog; tests record it instead of showing it.
    using Notice = std::function<void(QWidget *owner, const QString &caption, const QString &text)>;

    TfrmClipboard(AddTask addTask, Notice notice, QWidget *parent = nullptr);
    ~TfrmClipboard() override;

    void FormCreate();
    void btnImportClick();
    void btnPasteClick();
    void Memo1DblClick();
    void edtPreNameDblClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void connectSignals();

    std::unique_ptr<Ui::TfrmClipboard> m_ui;
    AddTask m_addTask;
    Notice m_notice;
};
