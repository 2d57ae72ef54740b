#include "workbench/WorkbenchPage.h"

#include "ui_WorkbenchPage.h"

WorkbenchPage::WorkbenchPage(QWidget *parent) : QWidget(parent), m_ui(new Ui::WorkbenchPage) {
    m_ui->setupUi(this);
}

WorkbenchPage::~WorkbenchPage() = default;
