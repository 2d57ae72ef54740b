#pragma once
// The workbench page (TabSheet1): one ffmpeg command on one file.

#include <QWidget>
#include <memory>

namespace Ui {
class WorkbenchPage;
}

class WorkbenchPage : public QWidget {
    Q_OBJECT
public:
    explicit WorkbenchPage(QWidget *parent = nullptr);
    ~WorkbenchPage() override;

private:
    std::unique_ptr<Ui::WorkbenchPage> m_ui;
};
