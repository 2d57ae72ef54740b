#pragma once
// The M3U8 page (TabSheet3): the download task list and its commands.

#include <QWidget>
#include <memory>

namespace Ui {
class M3u8Page;
}

class M3u8Page : public QWidget {
    Q_OBJECT
public:
    explicit M3u8Page(QWidget *parent = nullptr);
    ~M3u8Page() override;

private:
    std::unique_ptr<Ui::M3u8Page> m_ui;
};
