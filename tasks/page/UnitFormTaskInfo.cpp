#include "tasks/page/UnitFormTaskInfo.h"

#include "support/gui/GuiUtils.h"

#include "ui_UnitFormTaskInfo.h"

TfrmTaskInfo::TfrmTaskInfo(QWidget *parent) : QDialog(parent), m_ui(new Ui::TfrmTaskInfo) {
    m_ui->setupUi(this);
    QFont font = this->font();
    if (IsFontInstalled(QStringLiteral("微软雅黑")))
        font.setFamily(QStringLiteral("微软雅黑"));
    else if (IsFontInstalled(QStringLiteral("宋体")))
        font.setFamily(QStringLiteral("宋体"));
    font.setPointSize(9);
    setFont(font);
    if (parent) {
        QRect frame = geometry();
        frame.moveCenter(parent->window()->geometry().center());
        move(frame.topLeft());
    }
    connect(m_ui->btnReturn, &QAbstractButton::clicked, this, &QDialog::accept);
}

TfrmTaskInfo::~TfrmTaskInfo() = default;

void TfrmTaskInfo::ShowTask(const QString &file, const QString &url, const QString &headers,
                            const QString &reason) {
    m_ui->edtFile->setText(file);
    m_ui->edtM3u8->setText(url);
    m_ui->lblReason->setText(reason);
    m_ui->lblReason->setVisible(!reason.isEmpty());
    m_ui->mmoHeaders->setPlainText(headers);
}
