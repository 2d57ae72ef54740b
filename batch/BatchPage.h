#pragma once
// The batch page (TabSheet2): a list of files joined or transcoded with one parameter line. The
// page translates between its controls and the widget-free rules of BatchCommand; ffmpeg runs
// hidden while the window keeps handling events, so clicks re-enter the handlers meanwhile.

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class DropRouter;
class FileDialogs;
class MessageService;
class QMenu;
class QStandardItemModel;

namespace Ui {
class BatchPage;
}

// What the page asks of the main window; whatever is not provided is skipped.
struct BatchWindowServices {
    std::function<void(int panel, const QString &text)> setStatusText;
    std::function<void(unsigned percent)> showProgress;
};

class BatchPage : public QWidget {
    Q_OBJECT
public:
    static const QString kIdleCaption;     // "批量转码"
    static const QString kRunningCaption;  // "停止转码"

    explicit BatchPage(QWidget *parent = nullptr);
    ~BatchPage() override;

    // The window's message boxes and shared dialogs; without them the page uses its own.
    void SetMessages(MessageService *messages) { m_messages = messages; }
    void SetFileDialogs(FileDialogs *dialogs) { m_dialogs = dialogs; }
    void SetFFmpegPath(const QString &path) { m_ffmpegPath = path; }
    // Where the concat lists are written.
    void SetAppTempDir(const QString &dir) { m_appTempDir = dir; }
    void SetWindowServices(const BatchWindowServices &services) { m_services = services; }
    // Drops on the list and on the page append every dropped path.
    void RegisterDropTargets(DropRouter &router);

    QMenu *ListMenu() const { return m_listMenu; }
    QStandardItemModel *Model() const { return m_model; }

    // The column last sorted by and the direction the next header click toggles.
    int SortColumn = 0;
    bool SortDescending = false;
    // Set by a click on the running batch's button; read before each file.
    bool StopBatch = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void connectSignals();
    void BuildListMenu();
    void SetGlyphs();

    void btnBLvwAddClick();
    void btnBLvwDelClick();
    void btnBLvwUpClick();
    void btnBLvwDownClick();
    void btnBLvwClearClick();
    void lvwBListColumnClick(int column);
    void cboBCodecChange(int index);
    void btnBJoinClick();
    void btnBRecodecClick();

    void AppendFiles(const QStringList &paths);
    int SelectedRow() const;
    void SetRecodecLook(bool running);
    void SetStatus(int panel, const QString &text);
    void ShowProgress(unsigned percent);
    void ShowMessage(const QString &text);
    FileDialogs &Dialogs();

    std::unique_ptr<Ui::BatchPage> m_ui;
    QStandardItemModel *m_model;
    QMenu *m_listMenu;
    MessageService *m_messages = nullptr;
    FileDialogs *m_dialogs = nullptr;
    std::unique_ptr<FileDialogs> m_ownDialogs;
    BatchWindowServices m_services;
    QString m_ffmpegPath;
    QString m_appTempDir;
};
