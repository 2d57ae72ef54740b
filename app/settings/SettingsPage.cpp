#include "app/settings/SettingsPage.h"

#include "app/FieldLabels.h"
#include "ui_SettingsPage.h"

SettingsPage::SettingsPage(QWidget *parent) : QWidget(parent), m_ui(new Ui::SettingsPage) {
    m_ui->setupUi(this);
    SetLabelGrey(m_ui->lblPayTips);
}

SettingsPage::~SettingsPage() = default;
