#include "batch/BatchPage.h"

#include "ui_BatchPage.h"

#include <QLayout>
#include <algorithm>

namespace {
constexpr int kCodecBoxRightGap = 20;
}  // namespace

BatchPage::BatchPage(QWidget *parent) : QWidget(parent), m_ui(new Ui::BatchPage) {
    m_ui->setupUi(this);
    // The preset box keeps its gap to the group's right edge whatever frame the style draws.
    QLayout *row = m_ui->gbBat->layout();
    QMargins margins = row->contentsMargins();
    margins.setRight(std::max(0, kCodecBoxRightGap - m_ui->gbBat->contentsMargins().right()));
    row->setContentsMargins(margins);
}

BatchPage::~BatchPage() = default;
