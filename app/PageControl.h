#pragma once
// The window's page control: tabs of one fixed width, each with a 32-pixel icon.

#include <QTabWidget>

class PageControl : public QTabWidget {
    Q_OBJECT
public:
    static constexpr int kTabWidth = 160;
    static constexpr int kIconSize = 32;

    explicit PageControl(QWidget *parent = nullptr);
};
