#include "tasks/page/UnitFormHeaders.h"

#include "support/gui/GuiUtils.h"
#include "tasks/headers/HeadersBlock.h"

#include "ui_UnitFormHeaders.h"

#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>

namespace {

// The double-click rule of the editors: clear what is there, else paste.
template <typename Edit>
void ClearOrPaste(Edit *edit, const QString &text, bool trimmed) {
    if (!(trimmed ? text.trimmed() : text).isEmpty())
        edit->clear();
    else if constexpr (std::is_same_v<Edit, QLineEdit>)
        edit->setText(QGuiApplication::clipboard()->text());
    else
        edit->setPlainText(QGuiApplication::clipboard()->text());
}

}  // namespace

TfrmHeaders::TfrmHeaders(SetBlock setBlock, QWidget *parent)
    : QDialog(parent), m_ui(new Ui::TfrmHeaders), m_setBlock(std::move(setBlock)) {
    m_ui->setupUi(this);
    QFont font = this->font();
    if (IsFontInstalled(QStringLiteral("微软雅黑")))
        font.setFamily(QStringLiteral("微软雅黑"));
    font.setPixelSize(13);
    setFont(font);
    if (parent) {
        QRect frame = geometry();
        frame.moveCenter(parent->window()->geometry().center());
        move(frame.topLeft());
    }
    connectSignals();
}

TfrmHeaders::~TfrmHeaders() = default;

void TfrmHeaders::connectSignals() {
    connect(m_ui->cboKeys, &QComboBox::currentIndexChanged, this, &TfrmHeaders::cboKeysChange);
    connect(m_ui->btnAddHeader, &QAbstractButton::clicked, this, &TfrmHeaders::btnAddHeaderClick);
    connect(m_ui->mmoHeaders, &QPlainTextEdit::textChanged, this, &TfrmHeaders::mmoHeadersChange);
    connect(m_ui->btnOK, &QAbstractButton::clicked, this, &TfrmHeaders::btnOKClick);
    connect(m_ui->btnCancel, &QAbstractButton::clicked, this, &TfrmHeaders::btnCancelClick);
    // Double clicks and the editor's Enter key arrive through eventFilter.
    m_ui->mmoHeaders->installEventFilter(this);
    m_ui->mmoHeaders->viewport()->installEventFilter(this);
    m_ui->mmoValue->viewport()->installEventFilter(this);
    m_ui->edtKey->installEventFilter(this);
}

void TfrmHeaders::cboKeysChange() {
    m_ui->edtKey->setText(m_ui->cboKeys->currentText());
    m_ui->mmoValue->clear();
}

void TfrmHeaders::btnAddHeaderClick() {
    const QString key = m_ui->edtKey->text();
    const QString value = m_ui->mmoValue->toPlainText();
    if (key.isEmpty() || value.isEmpty())
        return;
    QString text = m_ui->mmoHeaders->toPlainText();
    if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    m_ui->mmoHeaders->setPlainText(text + key + QStringLiteral(": ") + value);
}

void TfrmHeaders::mmoHeadersChange() {
    m_ui->lblKeyCount->setText(
        QStringLiteral("字段数: ") +
        QString::number(HeaderLines(m_ui->mmoHeaders->toPlainText()).size()));
}

void TfrmHeaders::btnOKClick() {
    QString block;
    if (NormaliseHeaders(m_ui->mmoHeaders->toPlainText(), block) && m_setBlock)
        m_setBlock(block);
    accept();
}

void TfrmHeaders::btnCancelClick() {
    reject();
}

bool TfrmHeaders::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == m_ui->mmoHeaders->viewport()) {
            ClearOrPaste(m_ui->mmoHeaders, m_ui->mmoHeaders->toPlainText(), true);
            return true;
        }
        if (watched == m_ui->edtKey) {
            ClearOrPaste(m_ui->edtKey, m_ui->edtKey->text(), true);
            return true;
        }
        if (watched == m_ui->mmoValue->viewport()) {
            ClearOrPaste(m_ui->mmoValue, m_ui->mmoValue->toPlainText(), false);
            return true;
        }
    }
    if (watched == m_ui->mmoHeaders && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        // Line breaks arrive by paste or by the add button only.
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            return true;
    }
    return QDialog::eventFilter(watched, event);
}
