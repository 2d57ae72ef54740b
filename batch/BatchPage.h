#pragma once
// The batch page (TabSheet2): a list of files joined or transcoded with one parameter line.

#include <QWidget>
#include <memory>

namespace Ui {
class BatchPage;
}

class BatchPage : public QWidget {
    Q_OBJECT
public:
    explicit BatchPage(QWidget *parent = nullptr);
    ~BatchPage() override;

private:
    std::unique_ptr<Ui::BatchPage> m_ui;
};
