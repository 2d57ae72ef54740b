#include "app/settings/SettingsPage.h"

#include "app/FieldLabels.h"
#include "app/config/IniFile.h"
#include "ui_SettingsPage.h"

SettingsPage::SettingsPage(QWidget *parent) : QWidget(parent), m_ui(new Ui::SettingsPage) {
    m_ui->setupUi(this);
    SetLabelGrey(m_ui->lblPayTips);
    m_ui->cboVariant->addItems(VariantItems());
    connectSignals();
}

SettingsPage::~SettingsPage() = default;

void SettingsPage::connectSignals() {
    connect(m_ui->btnSaveConfig, &QPushButton::clicked, this, &SettingsPage::btnSaveConfigClick);
    connect(m_ui->chkUseProxy, &QCheckBox::clicked, this, &SettingsPage::chkUseProxyClick);
}

void SettingsPage::FillTaskLimits() {
    m_ui->cboTasks->clear();
    m_ui->cboTasks->addItems(LimitTaskItems());
}

void SettingsPage::ShowValues(const SettingsValues &v) {
    m_ui->chkSoundTips->setChecked(v.soundTips);
    m_ui->chkBalloonHint->setChecked(v.balloonHint);
    m_ui->cboTasks->setCurrentIndex(int(v.limitTasks) - 1);
    m_ui->spnSegmentJobs->setValue(v.segmentJobs);
    m_ui->chkNoM3uPre->setChecked(v.noM3uPreName);
    m_ui->cboVariant->setCurrentIndex(int(v.variant));
    m_ui->chkRecordLive->setChecked(v.recordLive);
    m_ui->chkUseProxy->setChecked(v.useProxy);
    m_ui->grpProxy->setEnabled(v.useProxy);
    m_ui->cboProxyType->setCurrentIndex(v.proxyType);
    m_ui->edtProxyHost->setText(v.proxyHost);
    m_ui->edtProxyPort->setText(v.proxyPort);
    m_ui->edtProxyUser->setText(v.proxyUser);
    m_ui->edtProxyPwd->setText(v.proxyPwd);
}

SettingsValues SettingsPage::PageValues() const {
    SettingsValues v;
    v.soundTips = m_ui->chkSoundTips->isChecked();
    v.balloonHint = m_ui->chkBalloonHint->isChecked();
    bool ok = false;
    const int limit = m_ui->cboTasks->currentText().toInt(&ok);
    v.limitTasks = LimitTasksFromNumber(ok ? limit : 1);
    v.segmentJobs = m_ui->spnSegmentJobs->value();
    v.noM3uPreName = m_ui->chkNoM3uPre->isChecked();
    v.variant = VariantChoice(qBound(0, m_ui->cboVariant->currentIndex(), 2));
    v.recordLive = m_ui->chkRecordLive->isChecked();
    v.useProxy = m_ui->chkUseProxy->isChecked();
    v.proxyType = m_ui->cboProxyType->currentIndex();
    v.proxyHost = m_ui->edtProxyHost->text();
    v.proxyPort = m_ui->edtProxyPort->text();
    v.proxyUser = m_ui->edtProxyUser->text();
    v.proxyPwd = m_ui->edtProxyPwd->text();
    return v;
}

void SettingsPage::SetSaveTarget(IniFile *ini, std::function<void()> fillNewSlots) {
    m_ini = ini;
    m_fillNewSlots = std::move(fillNewSlots);
}

void SettingsPage::btnSaveConfigClick() {
    if (m_ini == nullptr) {
        return;
    }
    if (!SaveSettings(*m_ini, PageValues(), m_fillNewSlots))
        emit SaveFailed(m_ini->FileName());
}

void SettingsPage::chkUseProxyClick() {
    m_ui->grpProxy->setEnabled(m_ui->chkUseProxy->isChecked());
}
