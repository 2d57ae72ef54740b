#pragma once
// The read-only details of one task row: output file, address and headers block.

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class TfrmTaskInfo;
}

class TfrmTaskInfo : public QDialog {
    Q_OBJECT
public:
    explicit TfrmTaskInfo(QWidget *parent = nullptr);
    ~TfrmTaskInfo() override;

    // The failure reason shows under the address; an empty one hides its line.
    void ShowTask(const QString &file, const QString &url, const QString &headers,
                  const QString &reason = QString());

private:
    std::unique_ptr<Ui::TfrmTaskInfo> m_ui;
};
