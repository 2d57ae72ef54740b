#include "app/help/UnitFormManual.h"

#include "ui_UnitFormManual.h"

#include <QFontDatabase>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QScreen>

namespace {

bool HasFamily(const QString &family) {
    return QFontDatabase::families().contains(family, Qt::CaseInsensitive);
}

// An open book, drawn rather than shipped.
QIcon ManualIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x37, 0x47, 0x4f), 1.5));
    p.setBrush(QColor(0xff, 0xf8, 0xe1));
    p.drawRect(QRectF(3, 6, 12.5, 20));
    p.drawRect(QRectF(16.5, 6, 12.5, 20));
    p.setPen(QPen(QColor(0x1e, 0x88, 0xe5), 1.2));
    for (int y = 11; y <= 21; y += 5) {
        p.drawLine(QPointF(6, y), QPointF(13, y));
        p.drawLine(QPointF(19, y), QPointF(26, y));
    }
    return QIcon(pixmap);
}

}  // namespace

TfrmManual::TfrmManual(QWidget *parent) : QDialog(parent), m_ui(new Ui::TfrmManual) {
    m_ui->setupUi(this);
    // Close and maximise, no minimise: the viewer lives only while it is looked at.
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(ManualIcon());
    FormCreate();
}

TfrmManual::~TfrmManual() = default;

void TfrmManual::FormCreate() {
    QFont font = this->font();
    if (HasFamily(QStringLiteral("微软雅黑"))) {
        font.setFamily(QStringLiteral("微软雅黑"));
    } else if (HasFamily(QStringLiteral("宋体"))) {
        font.setFamily(QStringLiteral("宋体"));
    }
    font.setPointSize(11);
    setFont(font);
    m_ui->Memo1->setFont(font);
    resize(759, 513);
    const QWidget *owner = parentWidget() ? parentWidget()->window() : nullptr;
    const QRect area =
        owner ? owner->frameGeometry() : (screen() ? screen()->availableGeometry() : QRect());
    if (area.isValid()) {
        move(area.center() - rect().center());
    }
}

void TfrmManual::ShowText(const QString &text) {
    m_ui->Memo1->setPlainText(text);
}

QPlainTextEdit *TfrmManual::Memo1() const {
    return m_ui->Memo1;
}
