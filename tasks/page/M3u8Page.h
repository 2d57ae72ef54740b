#pragma once
// The M3U8 page (TabSheet3): the address and file fields, the headers block, the add and start
// buttons and the task list, which shows the scheduler's own rows. The page only translates
// between widgets and the scheduler; the main window hands it its services.

#include "tasks/page/M3u8Controller.h"
#include "tasks/queue/DownloadTask.h"

#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class DropRouter;
class QAction;
class QMenu;
class QKeyEvent;
class TaskListModel;
class TaskScheduler;

namespace Ui {
class M3u8Page;
}

// The file dialogs behind the open and save buttons. Each returns the chosen path, or empty on
// cancel; tests install their own so no modal dialog blocks them.
struct M3u8PageDialogs {
    using Chooser =
        std::function<QString(QWidget *owner, const QString &filter, const QString &defaultSuffix)>;
    Chooser openFile;
    Chooser saveFile;
    // Opens a folder in the desktop's file manager.
    std::function<void(const QString &folder)> openFolder;
    // A plain box with an OK button and no icon.
    std::function<void(QWidget *owner, const QString &caption, const QString &text)> showNotice;
};

class M3u8Page : public QWidget {
    Q_OBJECT
public:
    explicit M3u8Page(QWidget *parent = nullptr);
    ~M3u8Page() override;

    TaskListModel *Model() const { return m_model.get(); }
    TaskScheduler *Scheduler() const { return m_scheduler.get(); }
    // "下载完后关机", checkable; the window puts it into its M3U8 menu.
    QAction *ShutdownAction() const { return m_n25; }
    // "批量导入m3u8" and "剪贴板批量导入", for the window's M3U8 menu.
    QAction *ImportListAction() const { return m_mnuImportM3u; }
    QAction *ClipboardImportAction() const { return m_n27; }
    QMenu *ListMenu() const { return m_pMenuMList; }

    // Drops on the address field, the list and the page itself.
    void RegisterDropTargets(DropRouter &router);
    // A playlist or address handed over from outside (the command line, a file manager): it
    // goes into the address field as a dropped playlist does.
    void OpenAddress(const QString &address);

    void SetWindowServices(const M3u8WindowServices &services);
    void SetDialogs(const M3u8PageDialogs &dialogs);
    // The download objects of slots created from now on; the engine's by default.
    void SetTaskFactory(DownloadTaskFactory factory);

    // The headers block of the next added task: the memo's lines joined with CR LF.
    QString HeadersBlock() const;

    void SetStartButton(const QString &caption, const QString &glyph);
    void SetStartButtonEnabled(bool enabled);

    void edtMUrlChange();
    void edtMUrlDblClick();
    void btnMOpenClick();
    void btnMSaveClick();
    void btnMAddTaskClick();
    void btnMStartTaskClick();
    void N25Click();
    // The list import: a list file, then a save folder; both dialogs may be cancelled.
    void btnMLvwListClick();
    // The clipboard import dialog, modal.
    void btnMLvwClipbrdClick();
    // Adds the addresses of a list file as tasks named after their titles or numbers.
    void ImportM3uList(const QString &listFile, const QString &saveFolder);
    void lvwMListDrop(const QStringList &paths);

    // The request headers wizard; its result replaces the headers block.
    void btnHeadersClick();
    void mmoHeadersChange();
    void mmoHeadersDblClick();
    // The list commands; none of them touches a running task.
    void btnMLvwClearClick();
    void btnMLvwDelClick();
    void btnMLvwUpClick();
    void btnMLvwDownClick();
    void N24Click();
    void PMenuSaveM3u8Click();
    void pMnuMOpenFolderClick();
    void lvwMListDblClick();
    // Shows the export and open-folder entries as the selected row allows.
    void pMenuMListPopup();
    // Removes the selected row on Delete and renumbers, unless a task is working on the row.
    void lvwMListKeyDown(int key);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void connectSignals();
    void SetUpList();
    void SetUpButtonColumn();
    void SetUpListMenu();
    int SelectedRow() const;
    // A request copied from a browser fills the address and the headers block; a text that looks
    // like one but cannot be read is refused with a message. False for any other text.
    bool TakeBrowserRequest(const QString &text);
    // Says so and returns true when a list file is too large to import.
    bool RefuseLargeList(const QString &listFile);

    std::unique_ptr<Ui::M3u8Page> m_ui;
    // Destroyed in reverse: the scheduler (and its slots) before the rows and the controller.
    std::unique_ptr<TaskListModel> m_model;
    std::unique_ptr<M3u8Controller> m_controller;
    std::unique_ptr<TaskScheduler> m_scheduler;
    M3u8PageDialogs m_dialogs;
    QAction *m_n25;
    QAction *m_mnuImportM3u;
    QAction *m_n27;
    QMenu *m_pMenuMList;
    QAction *m_zyPlayer1;
    QAction *m_n26;
    QAction *m_n23;
    QAction *m_n24;
    QAction *m_pMenuSaveM3u8;
    QAction *m_pMnuMOpenFolder;
};
