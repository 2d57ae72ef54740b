#pragma once
// The settings page (TabSheet4).

#include <QWidget>
#include <memory>

namespace Ui {
class SettingsPage;
}

class SettingsPage : public QWidget {
    Q_OBJECT
public:
    explicit SettingsPage(QWidget *parent = nullptr);
    ~SettingsPage() override;

private:
    std::unique_ptr<Ui::SettingsPage> m_ui;
};
