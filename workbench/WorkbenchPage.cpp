#include "workbench/WorkbenchPage.h"

#include "app/AppTitle.h"
#include "app/MessageService.h"
#include "batch/DropRouter.h"
#include "support/FileUtils.h"
#include "support/ProcessUtils.h"
#include "support/gui/FileDialogs.h"
#include "ui_WorkbenchPage.h"
#include "workbench/WorkbenchCommand.h"

#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include <utility>

namespace {

// Blanks and control characters go at both ends, as the user may paste them with a name.
QString TrimName(const QString &text) {
    int begin = 0;
    int end = text.size();
    while (begin < end && text.at(begin).unicode() <= 0x20)
        ++begin;
    while (end > begin && text.at(end - 1).unicode() <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}

}  // namespace

WorkbenchPage::WorkbenchPage(QWidget *parent)
    : QWidget(parent), m_ui(new Ui::WorkbenchPage), m_presets(new QMenu(this)) {
    m_ui->setupUi(this);
    m_ui->mmoFFCodec->installEventFilter(this);
    m_ui->edtFFInFile->installEventFilter(this);
    BuildPresetsMenu();
    connectSignals();
}

WorkbenchPage::~WorkbenchPage() = default;

void WorkbenchPage::connectSignals() {
    connect(m_ui->btnFFOpen, &QPushButton::clicked, this, &WorkbenchPage::btnFFOpenClick);
    connect(m_ui->btnFFSave, &QPushButton::clicked, this, &WorkbenchPage::btnFFSaveClick);
    connect(m_ui->btnFFPresets, &QPushButton::clicked, this, &WorkbenchPage::btnFFPresetsClick);
    connect(m_ui->btnFRecode, &QPushButton::clicked, this, &WorkbenchPage::btnFRecodeClick);
    connect(m_ui->btnFRecode, &QWidget::customContextMenuRequested, this,
            &WorkbenchPage::btnFRecodeContextMenu);
    connect(m_ui->edtFFInFile, &QLineEdit::textChanged, this, &WorkbenchPage::edtFFInFileChange);
    connect(m_ui->mmoFFCodec, &QPlainTextEdit::textChanged, this, &WorkbenchPage::mmoFFCodecChange);
}

void WorkbenchPage::BuildPresetsMenu() {
    m_presets->setObjectName(QStringLiteral("pMenuPresets"));
    QHash<QString, QMenu *> submenus;
    auto menuFor = [&](const QString &name) { return name.isEmpty() ? m_presets : submenus[name]; };
    // Submenus are placed where their first item stands, so the menu reads in table order.
    auto ensureSubmenu = [&](const QString &name, auto &self) -> void {
        if (name.isEmpty() || submenus.contains(name))
            return;
        for (const WorkbenchSubmenu &sub : WorkbenchSubmenus()) {
            if (sub.name != name)
                continue;
            self(sub.parent, self);
            QMenu *menu = menuFor(sub.parent)->addMenu(sub.caption);
            menu->setObjectName(sub.name);
            menu->menuAction()->setObjectName(sub.name);
            submenus.insert(sub.name, menu);
        }
    };
    for (const WorkbenchPreset &preset : WorkbenchPresets()) {
        ensureSubmenu(preset.submenu, ensureSubmenu);
        QAction *item = menuFor(preset.submenu)->addAction(preset.caption);
        item->setObjectName(preset.name);
        item->setProperty("handler", preset.handler);
        const QString line = preset.ParamLine();
        connect(item, &QAction::triggered, this, [this, line] { PresetClick(line); });
    }
    QAction *defaultItem = m_presets->findChild<QAction *>(DefaultWorkbenchPreset().name);
    QFont bold = defaultItem->font();
    bold.setBold(true);
    defaultItem->setFont(bold);
    m_presets->setDefaultAction(defaultItem);
}

void WorkbenchPage::RegisterDropTargets(DropRouter &router) {
    const auto fillInput = [this](const QStringList &paths) {
        m_ui->edtFFInFile->setText(paths.first());
    };
    router.AddTarget(m_ui->edtFFInFile, fillInput);
    router.AddTarget(this, fillInput);
}

bool WorkbenchPage::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_ui->mmoFFCodec && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        // The parameter line is one line: Enter adds no break (Tab already moves the focus).
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            return true;
    }
    const bool dblClick = event->type() == QEvent::MouseButtonDblClick;
    if (watched == m_ui->edtFFInFile && (dblClick || event->type() == QEvent::MouseButtonRelease) &&
        static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        // A double-click is press, release, double-click, release: its first release has acted,
        // so the second one must not undo that.
        if (dblClick)
            m_skipNextRelease = true;
        else if (!std::exchange(m_skipNextRelease, false))
            edtFFInFileClick();
    }
    return QWidget::eventFilter(watched, event);
}

FileDialogs &WorkbenchPage::Dialogs() {
    if (m_dialogs)
        return *m_dialogs;
    if (!m_ownDialogs)
        m_ownDialogs = std::make_unique<SharedFileDialogs>(this);
    return *m_ownDialogs;
}

void WorkbenchPage::btnFFOpenClick() {
    FileDialogRequest request;
    request.filter = ToQtNameFilter(kWorkbenchOpenFilter);
    request.defaultSuffix = QStringLiteral("mp4");
    request.mustExist = true;
    const QString chosen = Dialogs().AskOpen(this, request);
    if (!chosen.isEmpty())
        m_ui->edtFFInFile->setText(chosen);
}

void WorkbenchPage::btnFFSaveClick() {
    FileDialogRequest request;
    request.filter = ToQtNameFilter(kWorkbenchSaveFilter);
    request.defaultSuffix = QStringLiteral("mp4");
    request.confirmOverwrite = true;
    const QString chosen = Dialogs().AskSave(this, request);
    if (!chosen.isEmpty())
        m_ui->edtFFOutFile->setText(chosen);
}

void WorkbenchPage::btnFFPresetsClick() {
    m_presets->popup(QCursor::pos());
}

void WorkbenchPage::btnFRecodeContextMenu(const QPoint &at) {
    m_presets->popup(m_ui->btnFRecode->mapToGlobal(at));
}

void WorkbenchPage::PresetClick(const QString &paramLine) {
    m_ui->mmoFFCodec->setPlainText(paramLine);
}

void WorkbenchPage::edtFFInFileChange() {
    m_ui->edtFFOutFile->setText(MakeOutputFileName(m_ui->edtFFInFile->text(), QStringLiteral("mp4"),
                                                   QStringLiteral("-new")));
}

void WorkbenchPage::edtFFInFileClick() {
    // Clicks alternate: a filled output means a name is in place, so the click clears it.
    if (!TrimName(m_ui->edtFFOutFile->text()).isEmpty())
        m_ui->edtFFInFile->clear();
    else
        m_ui->edtFFInFile->paste();
}

void WorkbenchPage::mmoFFCodecChange() {
    const QString extension = OutputExtensionForParams(m_ui->mmoFFCodec->toPlainText());
    if (!extension.isEmpty())
        m_ui->edtFFOutFile->setText(
            MakeOutputFileName(m_ui->edtFFInFile->text(), extension, QStringLiteral("-new")));
}

void WorkbenchPage::ShowMessage(const QString &text) {
    MessageService &messages = m_messages ? *m_messages : DefaultMessageService();
    messages.ShowInformation(window(), QString::fromLatin1(kAppTitle), text);
}

void WorkbenchPage::btnFRecodeClick() {
    QString input = TrimName(m_ui->edtFFInFile->text());
    QString output = TrimName(m_ui->edtFFOutFile->text());
    if (input.isEmpty() || !QFileInfo(input).isFile()) {
        ShowMessage(QStringLiteral("输入文件不存在！"));
        return;
    }
    if (output.isEmpty()) {
        ShowMessage(QStringLiteral("未设置输出文件名"));
        return;
    }
    if (QFileInfo(output).suffix().isEmpty()) {
        ShowMessage(QStringLiteral("没有扩展名，可能会转码失败"));
        return;
    }
    // ffmpeg runs in the input's folder, so a relative output name means a file there: resolved
    // here, the check, the delete below and ffmpeg all mean the same files.
    input = QFileInfo(input).absoluteFilePath();
    output = QDir(QFileInfo(input).absolutePath()).absoluteFilePath(output);
    if (SameFile(input, output)) {
        ShowMessage(QStringLiteral("输入和输出文件名相同,无法转码"));
        return;
    }
    // A failed run must not leave a stale output behind.
    QFile::remove(output);
    const QString params = BuildWorkbenchParamLine(m_ui->mmoFFCodec->toPlainText(), input, output);
    RunProcess(m_ffmpegPath, params, kShowMinNoActive, false, WorkbenchRunDirectory(input));
}
