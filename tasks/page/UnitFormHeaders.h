#pragma once
// The request headers wizard: composes a headers block line by line and, on OK, hands the
// normalised block to the window. Created per use and shown modally.

#include <QDialog>
#include <QString>

#include <functional>
#include <memory>

namespace Ui {
class TfrmHeaders;
}

class TfrmHeaders : public QDialog {
    Q_OBJECT
public:
    // Receives the normalised block; not called on Cancel or for an empty editor.
    using SetBlock = std::function<void(const QString &block)>;

    explicit TfrmHeaders(SetBlock setBlock, QWidget *parent = nullptr);
    ~TfrmHeaders() override;

    void cboKeysChange();
    void btnAddHeaderClick();
    void mmoHeadersChange();
    void btnOKClick();
    void btnCancelClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void connectSignals();

    std::unique_ptr<Ui::TfrmHeaders> m_ui;
    SetBlock m_setBlock;
};
