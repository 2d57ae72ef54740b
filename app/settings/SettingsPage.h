#pragma once
// The settings page (TabSheet4): shows the settings and saves them when asked.

#include <QWidget>
#include <functional>
#include <memory>

#include "app/config/Settings.h"

class IniFile;

namespace Ui {
class SettingsPage;
}

class SettingsPage : public QWidget {
    Q_OBJECT
public:
    explicit SettingsPage(QWidget *parent = nullptr);
    ~SettingsPage() override;

    // Fills the task-limit list with "1" to "5".
    void FillTaskLimits();
    // Shows the values read at start-up.
    void ShowValues(const SettingsValues &values);
    // What the page holds now.
    SettingsValues PageValues() const;

    // Where a save goes, and what runs between the task options and the proxy options (new
    // download slots are filled there while downloads run); the hook may be empty.
    void SetSaveTarget(IniFile *ini, std::function<void()> fillNewSlots);

    void btnSaveConfigClick();
    void chkUseProxyClick();

signals:
    // The values were applied, but the settings file did not take them all.
    void SaveFailed(const QString &fileName);

private:
    void connectSignals();

    std::unique_ptr<Ui::SettingsPage> m_ui;
    IniFile *m_ini = nullptr;
    std::function<void()> m_fillNewSlots;
};
