#pragma once
// A status bar made of a fixed row of text panels, each a label whose width the window sets.

#include <QStatusBar>
#include <array>

class QLabel;

class PanelStatusBar : public QStatusBar {
    Q_OBJECT
public:
    static constexpr int kPanelCount = 4;

    explicit PanelStatusBar(QWidget *parent = nullptr);

    int PanelCount() const { return kPanelCount; }
    // The panel's rectangle in the status bar's coordinates; empty for an index out of range.
    QRect PanelRect(int index) const;
    int PanelWidth(int index) const;
    void SetPanelWidth(int index, int width);
    // Gives every panel the same width.
    void SetPanelWidths(int width);
    QString PanelText(int index) const;
    void SetPanelText(int index, const QString &text);
    QLabel *Panel(int index) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void PlacePanels();
    bool IsPanel(int index) const { return index >= 0 && index < kPanelCount; }

    std::array<QLabel *, kPanelCount> m_panels{};
    std::array<int, kPanelCount> m_widths{};
};
