#pragma once
// The workbench page (TabSheet1): one ffmpeg command on one file. The page only translates
// between its controls and the widget-free rules of WorkbenchCommand.

#include <QWidget>
#include <memory>

class DropRouter;
class FileDialogs;
class MessageService;
class QMenu;

namespace Ui {
class WorkbenchPage;
}

class WorkbenchPage : public QWidget {
    Q_OBJECT
public:
    explicit WorkbenchPage(QWidget *parent = nullptr);
    ~WorkbenchPage() override;

    // The window's message boxes and shared dialogs; without them the page uses real boxes and
    // dialogs of its own.
    void SetMessages(MessageService *messages) { m_messages = messages; }
    void SetFileDialogs(FileDialogs *dialogs) { m_dialogs = dialogs; }
    // The media tool the run starts.
    void SetFFmpegPath(const QString &path) { m_ffmpegPath = path; }
    // Drops on the input field and on the page fill the input with the first path.
    void RegisterDropTargets(DropRouter &router);

    QMenu *PresetsMenu() const { return m_presets; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void connectSignals();
    void BuildPresetsMenu();

    void btnFFOpenClick();
    void btnFFSaveClick();
    void btnFFPresetsClick();
    void btnFRecodeContextMenu(const QPoint &at);
    void PresetClick(const QString &paramLine);
    void btnFRecodeClick();
    void edtFFInFileChange();
    void edtFFInFileClick();
    void mmoFFCodecChange();
    void ShowMessage(const QString &text);
    FileDialogs &Dialogs();

    std::unique_ptr<Ui::WorkbenchPage> m_ui;
    QMenu *m_presets;
    MessageService *m_messages = nullptr;
    FileDialogs *m_dialogs = nullptr;
    std::unique_ptr<FileDialogs> m_ownDialogs;
    QString m_ffmpegPath;
    bool m_skipNextRelease = false;
};
