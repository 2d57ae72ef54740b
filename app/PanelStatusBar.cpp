#include "app/PanelStatusBar.h"

#include <QLabel>
#include <QResizeEvent>
#include <algorithm>

namespace {
constexpr int kDefaultPanelWidth = 100;
// Room above and below the text of a panel.
constexpr int kVerticalPadding = 10;
}  // namespace

PanelStatusBar::PanelStatusBar(QWidget *parent) : QStatusBar(parent) {
    // A size grip would sit on top of the last panel, where the progress bar goes.
    setSizeGripEnabled(false);
    for (int i = 0; i < kPanelCount; ++i) {
        auto *panel = new QLabel(this);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFrameShape(QFrame::StyledPanel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setTextFormat(Qt::PlainText);
        panel->setAlignment(Qt::AlignVCenter | Qt::AlignLeft);
        m_panels[i] = panel;
        m_widths[i] = kDefaultPanelWidth;
    }
    PlacePanels();
}

QRect PanelStatusBar::PanelRect(int index) const {
    if (!IsPanel(index)) {
        return {};
    }
    int left = 0;
    for (int i = 0; i < index; ++i) {
        left += m_widths[i];
    }
    return QRect(left, 0, m_widths[index], height());
}

int PanelStatusBar::PanelWidth(int index) const {
    return IsPanel(index) ? m_widths[index] : 0;
}

void PanelStatusBar::SetPanelWidth(int index, int width) {
    if (!IsPanel(index)) {
        return;
    }
    m_widths[index] = std::max(0, width);
    PlacePanels();
}

void PanelStatusBar::SetPanelWidths(int width) {
    m_widths.fill(std::max(0, width));
    PlacePanels();
}

QString PanelStatusBar::PanelText(int index) const {
    return IsPanel(index) ? m_panels[index]->text() : QString();
}

void PanelStatusBar::SetPanelText(int index, const QString &text) {
    if (IsPanel(index)) {
        m_panels[index]->setText(text);
    }
}

QLabel *PanelStatusBar::Panel(int index) const {
    return IsPanel(index) ? m_panels[index] : nullptr;
}

QSize PanelStatusBar::sizeHint() const {
    const QSize base = QStatusBar::sizeHint();
    return QSize(base.width(), std::max(base.height(), fontMetrics().height() + kVerticalPadding));
}

QSize PanelStatusBar::minimumSizeHint() const {
    const QSize base = QStatusBar::minimumSizeHint();
    return QSize(base.width(), std::max(base.height(), fontMetrics().height() + kVerticalPadding));
}

void PanelStatusBar::resizeEvent(QResizeEvent *event) {
    QStatusBar::resizeEvent(event);
    PlacePanels();
}

void PanelStatusBar::PlacePanels() {
    for (int i = 0; i < kPanelCount; ++i) {
        m_panels[i]->setGeometry(PanelRect(i));
    }
}
