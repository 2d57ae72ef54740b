#pragma once
// The read-only viewer of the program's help texts.

#include <QDialog>

#include <memory>

namespace Ui {
class TfrmManual;
}
class QPlainTextEdit;

class TfrmManual : public QDialog {
    Q_OBJECT

public:
    explicit TfrmManual(QWidget *parent = nullptr);
    ~TfrmManual() override;

    void ShowText(const QString &text);
    QPlainTextEdit *Memo1() const;

private:
    void FormCreate();

    std::unique_ptr<Ui::TfrmManual> m_ui;
};
