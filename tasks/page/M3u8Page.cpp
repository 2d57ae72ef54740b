#include "tasks/page/M3u8Page.h"

#include "ui_M3u8Page.h"

M3u8Page::M3u8Page(QWidget *parent) : QWidget(parent), m_ui(new Ui::M3u8Page) {
    m_ui->setupUi(this);
}

M3u8Page::~M3u8Page() = default;
