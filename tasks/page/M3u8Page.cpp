#include "tasks/page/M3u8Page.h"

#include "batch/DropRouter.h"
#include "hls/M3u8Helpers.h"
#include "hls/TM3u8Class.h"
#include "resources/KorviResources.h"
#include "support/ListViewFuncs.h"
#include "support/ProcessUtils.h"
#include "support/gui/GuiUtils.h"
#include "support/gui/ListViewWidgets.h"
#include "tasks/import/BrowserRequest.h"
#include "tasks/import/ListImport.h"
#include "tasks/page/UnitFormClipboard.h"
#include "tasks/page/UnitFormHeaders.h"
#include "tasks/page/UnitFormTaskInfo.h"
#include "tasks/queue/TM3u8Task.h"
#include "tasks/queue/TaskListModel.h"
#include "tasks/queue/TaskScheduler.h"

#include "ui_M3u8Page.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <QToolButton>

namespace {

const QString kOpenFilter = QStringLiteral("m3u8列表文件(*.m3u8 *.m3u);;所有文件(*.*)");
const QString kSaveFilter = QStringLiteral("MP4视频(*.mp4);;其它文件格式(*.*)");
const QString kListFilter =
    QStringLiteral("m3u列表文件(m3u) (*.m3u *.txt);;文本文件(*.txt);;所有文件(*.*)");
const QString kFolderTitle = QStringLiteral("选择保存位置");
const QString kExportFilter = QStringLiteral("m3u8列表文件(*.m3u8)");
const QString kHeadersHint = QStringLiteral("请求头数据，一般留空就行了");

QString RunFileDialog(QWidget *owner, const QString &filter, const QString &defaultSuffix,
                      bool save) {
    QFileDialog dialog(owner);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(defaultSuffix);
    if (save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return QDir::toNativeSeparators(dialog.selectedFiles().first());
}

M3u8PageDialogs RealDialogs() {
    M3u8PageDialogs dialogs;
    dialogs.openFile = [](QWidget *owner, const QString &filter, const QString &suffix) {
        return RunFileDialog(owner, filter, suffix, false);
    };
    dialogs.saveFile = [](QWidget *owner, const QString &filter, const QString &suffix) {
        return RunFileDialog(owner, filter, suffix, true);
    };
    dialogs.openFolder = [](const QString &folder) { OpenWithShell(folder); };
    dialogs.showNotice = [](QWidget *owner, const QString &caption, const QString &text) {
        QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner);
        box.exec();
    };
    return dialogs;
}

}  // namespace

M3u8Page::M3u8Page(QWidget *parent)
    : QWidget(parent),
      m_ui(new Ui::M3u8Page),
      m_model(std::make_unique<TaskListModel>()),
      m_controller(std::make_unique<M3u8Controller>(this)),
      m_scheduler(
          std::make_unique<TaskScheduler>(m_model.get(), m_controller.get(), MakeTM3u8Task)),
      m_dialogs(RealDialogs()),
      m_n25(new QAction(QStringLiteral("下载完后关机"), this)),
      m_mnuImportM3u(new QAction(QStringLiteral("批量导入m3u8"), this)),
      m_n27(new QAction(QStringLiteral("剪贴板批量导入"), this)),
      m_pMenuMList(new QMenu(this)),
      m_zyPlayer1(new QAction(QStringLiteral("导入ZYPlayer播放列表"), this)),
      m_n26(new QAction(QStringLiteral("从剪贴板批量导入m3u8"), this)),
      m_n23(new QAction(QStringLiteral("清空列表"), this)),
      m_n24(new QAction(QStringLiteral("清除错误信息"), this)),
      m_pMenuSaveM3u8(new QAction(QStringLiteral("另存为完整网址m3u8"), this)),
      m_pMnuMOpenFolder(new QAction(QStringLiteral("打开保存文件夹"), this)) {
    InitKorviResources();
    m_ui->setupUi(this);
    m_n25->setObjectName(QStringLiteral("N25"));
    m_n25->setCheckable(true);
    m_mnuImportM3u->setObjectName(QStringLiteral("mnuImportM3u"));
    m_n27->setObjectName(QStringLiteral("N27"));
    SetUpButtonColumn();
    SetUpListMenu();
    SetStartButton(QStringLiteral("开始下载"), QStringLiteral("STARTDL"));
    SetUpList();
    connectSignals();
    mmoHeadersChange();
}

M3u8Page::~M3u8Page() {
    // The slots go first: a late event of a task must find the rows still there.
    m_scheduler.reset();
}

void M3u8Page::connectSignals() {
    connect(m_ui->edtMUrl, &QLineEdit::textChanged, this, &M3u8Page::edtMUrlChange);
    connect(m_ui->btnMOpen, &QAbstractButton::clicked, this, &M3u8Page::btnMOpenClick);
    connect(m_ui->btnMSave, &QAbstractButton::clicked, this, &M3u8Page::btnMSaveClick);
    connect(m_ui->btnMAddTask, &QAbstractButton::clicked, this, &M3u8Page::btnMAddTaskClick);
    connect(m_ui->btnMStartTask, &QAbstractButton::clicked, this, &M3u8Page::btnMStartTaskClick);
    connect(m_n25, &QAction::triggered, this, &M3u8Page::N25Click);
    connect(m_ui->btnMLvwList, &QAbstractButton::clicked, this, &M3u8Page::btnMLvwListClick);
    connect(m_mnuImportM3u, &QAction::triggered, this, &M3u8Page::btnMLvwListClick);
    connect(m_zyPlayer1, &QAction::triggered, this, &M3u8Page::btnMLvwListClick);
    connect(m_ui->btnMLvwClipbrd, &QAbstractButton::clicked, this, &M3u8Page::btnMLvwClipbrdClick);
    connect(m_n27, &QAction::triggered, this, &M3u8Page::btnMLvwClipbrdClick);
    connect(m_n26, &QAction::triggered, this, &M3u8Page::btnMLvwClipbrdClick);
    connect(m_ui->lvwMList, &QWidget::customContextMenuRequested, this, [this](const QPoint &p) {
        m_pMenuMList->popup(m_ui->lvwMList->viewport()->mapToGlobal(p));
    });
    connect(m_ui->btnHeaders, &QAbstractButton::clicked, this, &M3u8Page::btnHeadersClick);
    connect(m_ui->mmoHeaders, &QPlainTextEdit::textChanged, this, &M3u8Page::mmoHeadersChange);
    connect(m_ui->btnMLvwClear, &QAbstractButton::clicked, this, &M3u8Page::btnMLvwClearClick);
    connect(m_n23, &QAction::triggered, this, &M3u8Page::btnMLvwClearClick);
    connect(m_ui->btnMLvwDel, &QAbstractButton::clicked, this, &M3u8Page::btnMLvwDelClick);
    connect(m_ui->btnMLvwUp, &QAbstractButton::clicked, this, &M3u8Page::btnMLvwUpClick);
    connect(m_ui->btnMLvwDown, &QAbstractButton::clicked, this, &M3u8Page::btnMLvwDownClick);
    connect(m_n24, &QAction::triggered, this, &M3u8Page::N24Click);
    connect(m_pMenuSaveM3u8, &QAction::triggered, this, &M3u8Page::PMenuSaveM3u8Click);
    connect(m_pMnuMOpenFolder, &QAction::triggered, this, &M3u8Page::pMnuMOpenFolderClick);
    connect(m_ui->lvwMList, &QAbstractItemView::doubleClicked, this, &M3u8Page::lvwMListDblClick);
    m_ui->mmoHeaders->viewport()->installEventFilter(this);
    // Double clicks on the address field and keys on the list arrive through eventFilter.
    m_ui->edtMUrl->installEventFilter(this);
    m_ui->lvwMList->installEventFilter(this);
}

void M3u8Page::SetUpButtonColumn() {
    const struct {
        QToolButton *button;
        const char *picture;
    } buttons[] = {
        {m_ui->btnMLvwClear, "LVWCLEAR"}, {m_ui->btnMLvwDel, "LVWDEL"},
        {m_ui->btnMLvwUp, "LVWUP"},       {m_ui->btnMLvwDown, "LVWDOWN"},
        {m_ui->btnMLvwList, "LVWLIST"},   {m_ui->btnMLvwClipbrd, "LVWCLIPBRD"},
    };
    for (const auto &b : buttons)
        b.button->setIcon(QIcon(PictureResourcePath(QLatin1String(b.picture))));
}

void M3u8Page::SetUpListMenu() {
    m_pMenuMList->setObjectName(QStringLiteral("pMenuMList"));
    m_pMenuMList->setToolTipsVisible(true);
    m_zyPlayer1->setObjectName(QStringLiteral("ZYPlayer1"));
    m_zyPlayer1->setToolTip(QStringLiteral("从文本文件批量导入m3u8网址进行下载"));
    m_n26->setObjectName(QStringLiteral("N26"));
    m_n26->setToolTip(QStringLiteral("从剪贴板批量导入m3u8进行下载"));
    m_n23->setObjectName(QStringLiteral("N23"));
    m_n24->setObjectName(QStringLiteral("N24"));
    m_pMenuSaveM3u8->setObjectName(QStringLiteral("PMenuSaveM3u8"));
    m_pMenuSaveM3u8->setToolTip(QStringLiteral("导出为补全为完整网址的m3u8文件"));
    m_pMnuMOpenFolder->setObjectName(QStringLiteral("pMnuMOpenFolder"));
    m_pMenuMList->addActions(
        {m_zyPlayer1, m_n26, m_n23, m_n24, m_pMenuSaveM3u8, m_pMnuMOpenFolder});
    connect(m_pMenuMList, &QMenu::aboutToShow, this, &M3u8Page::pMenuMListPopup);
    m_ui->lvwMList->setContextMenuPolicy(Qt::CustomContextMenu);
}

void M3u8Page::pMenuMListPopup() {
    m_pMenuSaveM3u8->setVisible(true);
    m_pMnuMOpenFolder->setVisible(true);
    const int row = SelectedRow();
    if (row < 0) {
        m_pMenuSaveM3u8->setVisible(false);
        m_pMnuMOpenFolder->setVisible(false);
        return;
    }
    // A task made from a local playlist has no full-address export.
    m_pMenuSaveM3u8->setVisible(IsUrl(m_model->Field(row, TaskListModel::ColUrl)));
}

void M3u8Page::SetUpList() {
    QTableView *list = m_ui->lvwMList;
    list->setModel(m_model.get());
    QHeaderView *header = list->horizontalHeader();
    header->setMinimumSectionSize(1);
    list->setColumnWidth(TaskListModel::ColId, 1);
    list->setColumnHidden(TaskListModel::ColId, true);
    list->setColumnWidth(TaskListModel::ColNumber, 40);
    list->setColumnWidth(TaskListModel::ColStatus, 90);
    list->setColumnWidth(TaskListModel::ColProgress, 60);
    list->setColumnWidth(TaskListModel::ColUrl, 150);
    list->setColumnWidth(TaskListModel::ColHeaders, 60);
    header->setSectionResizeMode(TaskListModel::ColFile, QHeaderView::Stretch);
    header->setHighlightSections(false);
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
}

void M3u8Page::SetWindowServices(const M3u8WindowServices &services) {
    m_controller->SetServices(services);
}

void M3u8Page::SetDialogs(const M3u8PageDialogs &dialogs) {
    const M3u8PageDialogs real = RealDialogs();
    m_dialogs.openFile = dialogs.openFile ? dialogs.openFile : real.openFile;
    m_dialogs.saveFile = dialogs.saveFile ? dialogs.saveFile : real.saveFile;
    m_dialogs.showNotice = dialogs.showNotice ? dialogs.showNotice : real.showNotice;
    m_dialogs.openFolder = dialogs.openFolder ? dialogs.openFolder : real.openFolder;
}

void M3u8Page::SetTaskFactory(DownloadTaskFactory factory) {
    m_scheduler->SetTaskFactory(std::move(factory));
}

QString M3u8Page::HeadersBlock() const {
    QString text = m_ui->mmoHeaders->toPlainText();
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    text.replace(QLatin1String("\n"), QLatin1String("\r\n"));
    return text;
}

void M3u8Page::SetStartButton(const QString &caption, const QString &glyph) {
    m_ui->btnMStartTask->setText(caption);
    m_ui->btnMStartTask->setIcon(QIcon(PictureResourcePath(glyph)));
}

void M3u8Page::SetStartButtonEnabled(bool enabled) {
    m_ui->btnMStartTask->setEnabled(enabled);
}

void M3u8Page::edtMUrlChange() {
    const QString text = m_ui->edtMUrl->text();
    if (text.right(5).toLower() != QLatin1String(".m3u8"))
        return;
    const QFileInfo file(text);
    if (!file.exists() || !file.isFile())
        return;
    m_ui->edtMPath->setText(text.left(text.size() - 4) + QStringLiteral("mp4"));
}

void M3u8Page::edtMUrlDblClick() {
    if (!m_ui->edtMUrl->text().trimmed().isEmpty()) {
        m_ui->edtMUrl->clear();
        return;
    }
    const QString text = QGuiApplication::clipboard()->text();
    if (!TakeBrowserRequest(text))
        m_ui->edtMUrl->setText(text);
}

bool M3u8Page::TakeBrowserRequest(const QString &text) {
    BrowserRequest request;
    QString problem;
    switch (ParseBrowserRequest(text, request, problem)) {
        case RequestParse::NotARequest:
            return false;
        case RequestParse::Refused:
            m_dialogs.showNotice(window(), QStringLiteral("无法读取复制的请求"), problem);
            return true;
        case RequestParse::Parsed:
            break;
    }
    m_ui->edtMUrl->setText(request.url);
    m_ui->mmoHeaders->setPlainText(RequestHeadersBlock(request));
    return true;
}

void M3u8Page::btnMOpenClick() {
    const QString path = m_dialogs.openFile(this, kOpenFilter, QStringLiteral("m3u8"));
    if (!path.isEmpty())
        m_ui->edtMUrl->setText(path);
}

void M3u8Page::btnMSaveClick() {
    const QString path = m_dialogs.saveFile(this, kSaveFilter, QStringLiteral("mp4"));
    if (!path.isEmpty())
        m_ui->edtMPath->setText(path);
}

void M3u8Page::btnMAddTaskClick() {
    m_scheduler->AddM3u8Task(m_ui->edtMUrl->text(), m_ui->edtMPath->text(), HeadersBlock());
}

void M3u8Page::btnMStartTaskClick() {
    m_scheduler->btnMStartTaskClick();
}

void M3u8Page::N25Click() {
    m_scheduler->ShutdownAfterDownload = m_n25->isChecked();
}

void M3u8Page::lvwMListKeyDown(int key) {
    if (key != Qt::Key_Delete)
        return;
    const int row = SelectedRow();
    if (row < 0 || !m_scheduler->RemoveIdleRow(row))
        return;
    RenumberColumn(m_model.get(), TaskListModel::ColNumber + 1);
}

void M3u8Page::btnMLvwListClick() {
    const QString list = m_dialogs.openFile(this, kListFilter, QStringLiteral("m3u"));
    if (list.isEmpty() || RefuseLargeList(list))
        return;
    QString folder;
    if (!SelectFolder(window(), folder, kFolderTitle))
        return;
    ImportM3uList(list, folder);
}

void M3u8Page::btnMLvwClipbrdClick() {
    TfrmClipboard dialog(
        [this](const QString &url, const QString &outFile, const QString &headers) {
            m_scheduler->AddM3u8Task(url, outFile, headers);
        },
        m_dialogs.showNotice, window());
    dialog.exec();
}

void M3u8Page::ImportM3uList(const QString &listFile, const QString &saveFolder) {
    const auto &services = m_controller->Services();
    const bool noPrefix = services.noM3uPreName && services.noM3uPreName();
    const QList<ImportedTask> tasks = ::ImportM3uList(listFile, saveFolder, noPrefix);
    for (const ImportedTask &task : tasks)
        m_scheduler->AddM3u8Task(task.url, task.outFile, QString());
}

bool M3u8Page::RefuseLargeList(const QString &listFile) {
    if (!ListFileTooLarge(listFile))
        return false;
    m_dialogs.showNotice(window(), QStringLiteral("提示"),
                         QStringLiteral("文件超过 16 MB，不是可导入的播放列表或网址列表:\n") +
                             QDir::toNativeSeparators(listFile));
    return true;
}

void M3u8Page::RegisterDropTargets(DropRouter &router) {
    const auto fillAddress = [this](const QStringList &paths) {
        m_ui->edtMUrl->setText(paths.first());
    };
    router.AddTarget(m_ui->edtMUrl, fillAddress);
    router.AddTarget(this, fillAddress);
    router.AddTarget(m_ui->lvwMList, [this](const QStringList &paths) { lvwMListDrop(paths); });
}

void M3u8Page::OpenAddress(const QString &address) {
    m_ui->edtMUrl->setText(address);
    m_ui->edtMUrl->setFocus();
}

void M3u8Page::lvwMListDrop(const QStringList &paths) {
    const QString first = paths.first();
    if (QFileInfo(first).suffix().toLower() == QLatin1String("m3u8")) {
        m_ui->edtMUrl->setText(first);
        return;
    }
    // Asked once the drop is over, so no modal box runs inside the drop itself.
    QTimer::singleShot(0, this, [this, first] {
        if (RefuseLargeList(first))
            return;
        QString folder;
        if (SelectFolder(window(), folder, kFolderTitle))
            ImportM3uList(first, folder);
    });
}

void M3u8Page::btnHeadersClick() {
    TfrmHeaders dialog([this](const QString &block) { m_ui->mmoHeaders->setPlainText(block); },
                       window());
    dialog.exec();
}

void M3u8Page::mmoHeadersChange() {
    const QString text = m_ui->mmoHeaders->toPlainText();
    m_ui->mmoHeaders->setToolTip(TrimBlanks(text).isEmpty() ? kHeadersHint : text);
}

void M3u8Page::mmoHeadersDblClick() {
    if (!m_ui->mmoHeaders->toPlainText().isEmpty())
        m_ui->mmoHeaders->clear();
    else
        m_ui->mmoHeaders->setPlainText(QGuiApplication::clipboard()->text());
}

void M3u8Page::btnMLvwClearClick() {
    m_scheduler->ClearList();
}

void M3u8Page::btnMLvwDelClick() {
    const int row = SelectedRow();
    if (row >= 0 && m_scheduler->RemoveIdleRow(row))
        RenumberColumn(m_model.get(), TaskListModel::ColNumber + 1);
}

void M3u8Page::btnMLvwUpClick() {
    const int row = SelectedRow();
    if (row <= 0)
        return;
    // The row's ID moves with it, so its task keeps reporting into it.
    MoveListItem(m_ui->lvwMList, row, MoveDirection::Up, true);
    RenumberColumn(m_model.get(), TaskListModel::ColNumber + 1);
}

void M3u8Page::btnMLvwDownClick() {
    const int row = SelectedRow();
    if (row < 0 || row == m_model->Count() - 1)
        return;
    MoveListItem(m_ui->lvwMList, row, MoveDirection::Down, true);
    RenumberColumn(m_model.get(), TaskListModel::ColNumber + 1);
}

void M3u8Page::N24Click() {
    m_scheduler->ClearErrorInfo();
}

void M3u8Page::PMenuSaveM3u8Click() {
    const int row = SelectedRow();
    if (row < 0)
        return;
    // Taken before the dialog: while it is open a row above may finish and leave, and another
    // task's headers must not go to this task's server.
    const QString url = m_model->Field(row, TaskListModel::ColUrl);
    const QString headers = m_model->Field(row, TaskListModel::ColHeaders);
    if (!IsUrl(url))
        return;
    const QString path = m_dialogs.saveFile(this, kExportFilter, QStringLiteral("m3u8"));
    if (path.isEmpty())
        return;
    if (TM3u8::SaveFullUrlM3u8(url, path, headers))
        m_dialogs.showNotice(window(), QStringLiteral("保存成功"), QStringLiteral("m3u8另存成功"));
    else
        m_dialogs.showNotice(window(), QStringLiteral("提示"), QStringLiteral("m3u8另存失败"));
}

void M3u8Page::pMnuMOpenFolderClick() {
    const int row = SelectedRow();
    if (row < 0)
        return;
    const QString file = QDir::fromNativeSeparators(m_model->Field(row, TaskListModel::ColFile));
    m_dialogs.openFolder(QDir::toNativeSeparators(file.left(file.lastIndexOf(QLatin1Char('/')))));
}

void M3u8Page::lvwMListDblClick() {
    const int row = SelectedRow();
    if (row < 0)
        return;
    TfrmTaskInfo dialog(window());
    dialog.ShowTask(m_model->Field(row, TaskListModel::ColFile),
                    m_model->Field(row, TaskListModel::ColUrl),
                    m_model->Field(row, TaskListModel::ColHeaders), m_model->Reason(row));
    dialog.exec();
}

int M3u8Page::SelectedRow() const {
    const QModelIndexList rows = m_ui->lvwMList->selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

bool M3u8Page::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_ui->edtMUrl && event->type() == QEvent::MouseButtonDblClick) {
        edtMUrlDblClick();
        return true;
    }
    if (watched == m_ui->edtMUrl && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->matches(QKeySequence::Paste) &&
        TakeBrowserRequest(QGuiApplication::clipboard()->text()))
        return true;
    if (watched == m_ui->mmoHeaders->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        mmoHeadersDblClick();
        return true;
    }
    if (watched == m_ui->lvwMList && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Delete) {
            lvwMListKeyDown(key);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
