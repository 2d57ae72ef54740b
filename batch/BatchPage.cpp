#include "batch/BatchPage.h"

#include "ui_BatchPage.h"

BatchPage::BatchPage(QWidget *parent) : QWidget(parent), m_ui(new Ui::BatchPage) {
    m_ui->setupUi(this);
}

BatchPage::~BatchPage() = default;
