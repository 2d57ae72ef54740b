#include "app/PageControl.h"

#include <QTabBar>

namespace {

class FixedWidthTabBar : public QTabBar {
public:
    explicit FixedWidthTabBar(QWidget *parent) : QTabBar(parent) {}

protected:
    QSize tabSizeHint(int index) const override {
        return QSize(PageControl::kTabWidth, QTabBar::tabSizeHint(index).height());
    }
    QSize minimumTabSizeHint(int index) const override { return tabSizeHint(index); }
};

}  // namespace

PageControl::PageControl(QWidget *parent) : QTabWidget(parent) {
    setTabBar(new FixedWidthTabBar(this));
    setIconSize(QSize(kIconSize, kIconSize));
    setUsesScrollButtons(false);
}
