#include "batch/BatchPage.h"

#include "app/AppTitle.h"
#include "app/MessageService.h"
#include "app/config/Settings.h"
#include "app/notify/Notices.h"
#include "batch/BatchCommand.h"
#include "batch/DropRouter.h"
#include "resources/KorviResources.h"
#include "support/FfmpegProgress.h"
#include "support/FileUtils.h"
#include "support/ProcessUtils.h"
#include "support/gui/FileDialogs.h"
#include "support/gui/ListViewWidgets.h"
#include "ui_BatchPage.h"
#include "workbench/WorkbenchCommand.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLayout>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QSaveFile>
#include <QStandardItemModel>

#include <algorithm>

const QString BatchPage::kIdleCaption = QStringLiteral("批量转码");
const QString BatchPage::kRunningCaption = QStringLiteral("停止转码");

namespace {

constexpr int kCodecBoxRightGap = 20;
constexpr int kFileBalloonMs = 1000;
constexpr int kJoinBalloonMs = 5000;

enum class Glyph { Add, Remove, Up, Down, Clear };

// The small buttons' pictures, drawn here so they follow the style's colours at any scale.
QIcon DrawGlyph(Glyph glyph, const QColor &ink) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(ink, 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    switch (glyph) {
        case Glyph::Add:
            p.drawLine(16, 6, 16, 26);
            p.drawLine(6, 16, 26, 16);
            break;
        case Glyph::Remove:
            p.drawLine(6, 16, 26, 16);
            break;
        case Glyph::Up:
        case Glyph::Down: {
            const bool up = glyph == Glyph::Up;
            QPainterPath arrow;
            arrow.moveTo(6, up ? 18 : 14);
            arrow.lineTo(16, up ? 8 : 24);
            arrow.lineTo(26, up ? 18 : 14);
            p.drawPath(arrow);
            p.drawLine(16, up ? 10 : 6, 16, up ? 26 : 22);
            break;
        }
        case Glyph::Clear:
            p.drawLine(8, 8, 24, 24);
            p.drawLine(24, 8, 8, 24);
            break;
    }
    return QIcon(pixmap);
}

// A run's output before it starts, so a failed run removes only what it wrote itself.
struct OutputBefore {
    bool existed = false;
    qint64 size = -1;
    QDateTime modified;

    static OutputBefore Of(const QString &path) {
        const QFileInfo info(path);
        return {info.exists(), info.size(), info.lastModified()};
    }
    bool Unchanged(const QString &path) const {
        const QFileInfo info(path);
        return existed && info.exists() && info.size() == size && info.lastModified() == modified;
    }
};

// True when the output of a row is the file of a row of the same batch (one already done, the
// one running, or one still to come).
bool OverwritesAnInput(const QString &output, const QStringList &inputs) {
    if (!QFileInfo::exists(output))
        return false;
    return std::any_of(inputs.begin(), inputs.end(),
                       [&output](const QString &input) { return SameFile(input, output); });
}

}  // namespace

BatchPage::BatchPage(QWidget *parent)
    : QWidget(parent),
      m_ui(new Ui::BatchPage),
      m_model(new QStandardItemModel(0, BatchColumnCount, this)),
      m_listMenu(new QMenu(this)) {
    InitKorviResources();
    m_ui->setupUi(this);
    // The preset box keeps its gap to the group's right edge whatever frame the style draws.
    QLayout *rows = m_ui->gbBat->layout();
    QMargins margins = rows->contentsMargins();
    margins.setRight(std::max(0, kCodecBoxRightGap - m_ui->gbBat->contentsMargins().right()));
    rows->setContentsMargins(margins);

    m_model->setHorizontalHeaderLabels({QStringLiteral("序号"), QStringLiteral("文件")});
    QTableView *list = m_ui->lvwBList;
    list->setModel(m_model);
    list->setColumnWidth(BatchColNumber, 60);
    list->horizontalHeader()->setSectionsClickable(true);
    list->horizontalHeader()->setHighlightSections(false);
    list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 6);
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    list->installEventFilter(this);

    for (const BatchPreset &preset : BatchPresets())
        m_ui->cboBCodec->addItem(preset.caption);
    m_ui->cboBCodec->setCurrentIndex(-1);
    m_ui->edtBCodec->setText(kBatchDefaultCodec);

    SetGlyphs();
    SetRecodecLook(false);
    BuildListMenu();
    connectSignals();
}

BatchPage::~BatchPage() = default;

void BatchPage::connectSignals() {
    connect(m_ui->btnBLvwAdd, &QToolButton::clicked, this, &BatchPage::btnBLvwAddClick);
    connect(m_ui->btnBLvwDel, &QToolButton::clicked, this, &BatchPage::btnBLvwDelClick);
    connect(m_ui->btnBLvwUp, &QToolButton::clicked, this, &BatchPage::btnBLvwUpClick);
    connect(m_ui->btnBLvwDown, &QToolButton::clicked, this, &BatchPage::btnBLvwDownClick);
    connect(m_ui->btnBLvwClear, &QToolButton::clicked, this, &BatchPage::btnBLvwClearClick);
    connect(m_ui->lvwBList->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &BatchPage::lvwBListColumnClick);
    connect(m_ui->lvwBList, &QWidget::customContextMenuRequested, this, [this](const QPoint &at) {
        m_listMenu->popup(m_ui->lvwBList->viewport()->mapToGlobal(at));
    });
    connect(m_ui->cboBCodec, &QComboBox::activated, this, &BatchPage::cboBCodecChange);
    connect(m_ui->btnBJoin, &QPushButton::clicked, this, &BatchPage::btnBJoinClick);
    connect(m_ui->btnBRecodec, &QPushButton::clicked, this, &BatchPage::btnBRecodecClick);
}

void BatchPage::BuildListMenu() {
    m_listMenu->setObjectName(QStringLiteral("pMenuBList"));
    // Each item clicks its button, so the button's handler is the only one.
    const struct {
        const char *name;
        const char *caption;
        QAbstractButton *button;
    } items[] = {
        {"N18", "添加文件", m_ui->btnBLvwAdd},   {"N20", "删除文件", m_ui->btnBLvwDel},
        {"N21", "上移", m_ui->btnBLvwUp},        {"N22", "下移", m_ui->btnBLvwDown},
        {"N19", "清空列表", m_ui->btnBLvwClear},
    };
    for (const auto &item : items) {
        QAction *action = m_listMenu->addAction(QString::fromUtf8(item.caption));
        action->setObjectName(QString::fromLatin1(item.name));
        QAbstractButton *button = item.button;
        connect(action, &QAction::triggered, button, [button] { button->click(); });
    }
}

void BatchPage::SetGlyphs() {
    const QColor ink = palette().color(QPalette::ButtonText);
    m_ui->btnBLvwAdd->setIcon(DrawGlyph(Glyph::Add, ink));
    m_ui->btnBLvwDel->setIcon(DrawGlyph(Glyph::Remove, ink));
    m_ui->btnBLvwUp->setIcon(DrawGlyph(Glyph::Up, ink));
    m_ui->btnBLvwDown->setIcon(DrawGlyph(Glyph::Down, ink));
    m_ui->btnBLvwClear->setIcon(DrawGlyph(Glyph::Clear, ink));
    m_ui->btnBJoin->setIcon(QIcon(PictureResourcePath(QStringLiteral("BATRECODE"))));
}

void BatchPage::RegisterDropTargets(DropRouter &router) {
    const auto append = [this](const QStringList &paths) { AppendFiles(paths); };
    router.AddTarget(m_ui->lvwBList, append);
    // Drops from the desktop land on the list's viewport.
    m_ui->lvwBList->viewport()->setAcceptDrops(true);
    router.AddTarget(this, append);
}

bool BatchPage::eventFilter(QObject *watched, QEvent *event) {
    if (watched == m_ui->lvwBList && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete) {
        btnBLvwDelClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

FileDialogs &BatchPage::Dialogs() {
    if (m_dialogs)
        return *m_dialogs;
    if (!m_ownDialogs)
        m_ownDialogs = std::make_unique<SharedFileDialogs>(this);
    return *m_ownDialogs;
}

void BatchPage::ShowMessage(const QString &text) {
    MessageService &messages = m_messages ? *m_messages : DefaultMessageService();
    messages.ShowInformation(window(), QString::fromLatin1(kAppTitle), text);
}

void BatchPage::SetStatus(int panel, const QString &text) {
    if (m_services.setStatusText)
        m_services.setStatusText(panel, text);
}

void BatchPage::ShowProgress(unsigned percent) {
    if (m_services.showProgress)
        m_services.showProgress(percent);
}

void BatchPage::AppendFiles(const QStringList &paths) {
    AppendBatchRows(m_model, paths);
}

int BatchPage::SelectedRow() const {
    const QModelIndexList rows = m_ui->lvwBList->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return -1;
    const QModelIndex current = m_ui->lvwBList->currentIndex();
    if (current.isValid() && m_ui->lvwBList->selectionModel()->isRowSelected(current.row()))
        return current.row();
    return rows.first().row();
}

void BatchPage::btnBLvwAddClick() {
    FileDialogRequest request;
    request.filter = ToQtNameFilter(kBatchOpenFilter);
    request.mustExist = true;
    AppendFiles(Dialogs().AskOpenFiles(this, request));
}

void BatchPage::btnBLvwDelClick() {
    QList<int> rows;
    for (const QModelIndex &index : m_ui->lvwBList->selectionModel()->selectedRows())
        rows << index.row();
    if (rows.isEmpty())
        return;
    RemoveBatchRows(m_model, rows);
}

void BatchPage::btnBLvwUpClick() {
    MoveListItem(m_ui->lvwBList, SelectedRow(), MoveDirection::Up, true);
    RenumberColumn(m_model, BatchColNumber + 1);
}

void BatchPage::btnBLvwDownClick() {
    MoveListItem(m_ui->lvwBList, SelectedRow(), MoveDirection::Down, true);
    RenumberColumn(m_model, BatchColNumber + 1);
}

void BatchPage::btnBLvwClearClick() {
    m_model->removeRows(0, m_model->rowCount());
}

void BatchPage::lvwBListColumnClick(int column) {
    if (m_model->rowCount() == 0)
        return;
    SortDescending = !SortDescending;
    SortColumn = column;
    SortBatchRows(m_model, SortColumn, SortDescending);
    m_ui->lvwBList->horizontalHeader()->setSortIndicatorShown(true);
    m_ui->lvwBList->horizontalHeader()->setSortIndicator(
        column, SortDescending ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void BatchPage::cboBCodecChange(int index) {
    m_ui->edtBCodec->setText(BatchPresetText(index, m_ui->edtBCodec->text()));
}

void BatchPage::btnBJoinClick() {
    if (m_model->rowCount() == 0)
        return;
    FileDialogRequest request;
    request.filter = ToQtNameFilter(kWorkbenchSaveFilter);
    request.defaultSuffix = QStringLiteral("mp4");
    request.confirmOverwrite = true;
    QString out = Dialogs().AskSave(this, request);
    if (out.isEmpty())
        return;
    out = QFileInfo(out).absoluteFilePath();
    const QStringList inputs = BatchRowPaths(m_model);
    // The old output is deleted before the join, and ffmpeg would write over what it reads.
    for (const QString &input : inputs) {
        if (SameFile(input, out)) {
            ShowMessage(QStringLiteral("输出文件不能是列表中要合并的文件:\n") + out);
            return;
        }
    }
    if (QFileInfo::exists(out))
        QFile::remove(out);

    const QString tempDir = m_appTempDir.isEmpty() ? GetTempDir() : m_appTempDir;
    const QString listFile = tempDir + QLatin1Char('/') + GenRandomStr(8) + QStringLiteral(".txt");
    QSaveFile list(listFile);
    if (!list.open(QIODevice::WriteOnly) || list.write(ConcatListText(inputs)) < 0 ||
        !list.commit()) {
        MessageService &messages = m_messages ? *m_messages : DefaultMessageService();
        messages.ShowError(window(), QString::fromLatin1(kAppTitle),
                           QStringLiteral("无法写入文件 %1: %2")
                               .arg(QDir::toNativeSeparators(listFile), list.errorString()));
        return;
    }

    QPointer<BatchPage> alive(this);
    SetStatus(1, QStringLiteral("合并 %1 个文件...").arg(inputs.size()));
    const ProcessRun run = RunProcessWithStatus(
        m_ffmpegPath, BuildJoinParamLine(listFile, m_ui->edtBCodec->text(), out),
        QFileInfo(out).absolutePath());
    QFile::remove(listFile);
    if (run.processId != 0 && !run.ended) {
        // The program is quitting and the run was cut short: nothing of it may pass for a join.
        // A run that never started falls through to the failure notice.
        QFile::remove(out);
        return;
    }
    if (!alive)
        return;
    SetStatus(1, QString());

    NoticeDoneSound();
    if (RunProducedOutput(run.exitedNormally, run.exitCode, out)) {
        if (BalloonHint)
            NoticeJoinFinished(out);
        else
            ShowMessage(QStringLiteral("合并成功:\n") + out);
        m_model->removeRows(0, m_model->rowCount());
        return;
    }
    // A failed run must not leave a partial file that looks like the join.
    QFile::remove(out);
    if (BalloonHint)
        ShowBalloon(QStringLiteral("文件合并失败!"), out, kJoinBalloonMs);
    else
        ShowMessage(QStringLiteral("文件合并失败!"));
}

void BatchPage::SetRecodecLook(bool running) {
    m_ui->btnBRecodec->setText(running ? kRunningCaption : kIdleCaption);
    m_ui->btnBRecodec->setIcon(QIcon(
        PictureResourcePath(running ? QStringLiteral("STOPDL") : QStringLiteral("BATRECODE"))));
}

void BatchPage::btnBRecodecClick() {
    if (m_model->rowCount() == 0)
        return;
    if (m_ui->btnBRecodec->text() != kIdleCaption) {
        StopBatch = true;
        return;
    }
    if (m_ui->edtBCodec->text().isEmpty()) {
        ShowMessage(QStringLiteral("编码参数未设置!"));
        return;
    }
    const QString params = m_ui->edtBCodec->text();
    int succeeded = 0;
    int failed = 0;
    StopBatch = false;
    SetRecodecLook(true);
    QPointer<BatchPage> alive(this);
    QStringList consumed;
    QStringList written;

    while (true) {
        if (StopBatch) {
            SetRecodecLook(false);
            ShowProgress(0);
            SetStatus(1, QString());
            SetStatus(2, QString());
            return;
        }
        const QString input = m_model->index(0, BatchColFile).data().toString();
        const QString output = BatchOutputFileName(input);
        SetStatus(1, QStringLiteral("转码 ") + QFileInfo(input).fileName());
        const int done = succeeded + failed;
        const unsigned before = BatchPercentBefore(done, m_model->rowCount());
        ShowProgress(before);
        const QString overall = QString::number(before) + QLatin1Char('%');
        SetStatus(2, overall);
        m_model->removeRows(0, 1);
        consumed << input;
        // a.mkv would become a.mp4 over the a.mp4 of the same list, and a.ts would become the
        // a.mp4 that a.mkv of this batch has just written: either file stays, and the row counts
        // as failed.
        const bool clash = OverwritesAnInput(output, consumed + BatchRowPaths(m_model)) ||
                           std::any_of(written.begin(), written.end(),
                                       [&output](const QString &w) { return SameFile(w, output); });
        bool converted = false;
        if (!clash) {
            // The file's own percent, from ffmpeg's machine-readable progress.
            FfmpegProgress progress;
            ProcessRunOptions options;
            options.leadingArguments = {QStringLiteral("-progress"), QStringLiteral("pipe:1"),
                                        QStringLiteral("-nostats")};
            options.onStandardError = [&progress](const QByteArray &bytes) {
                progress.FeedConsole(bytes);
            };
            options.onStandardOutput = [this, alive, &progress, overall](const QByteArray &bytes) {
                progress.FeedProgress(bytes);
                if (alive && progress.Percent() >= 0)
                    SetStatus(
                        2,
                        QStringLiteral("%1 (当前文件 %2%)").arg(overall).arg(progress.Percent()));
            };
            const OutputBefore stale = OutputBefore::Of(output);
            const ProcessRun run =
                RunProcessWithStatus(m_ffmpegPath, BuildBatchParamLine(input, params, output),
                                     QFileInfo(input).absolutePath(), options);
            converted = RunProducedOutput(run.exitedNormally, run.exitCode, output);
            if (!converted && !stale.Unchanged(output))
                QFile::remove(output);
            // A run cut short means the program is quitting. A run that never started (no
            // ffmpeg, the input's folder gone) is just this file's failure.
            if (!alive || (run.processId != 0 && !run.ended))
                return;
        }
        if (converted) {
            ++succeeded;
            written << output;
        } else {
            ++failed;
        }
        ShowProgress(BatchPercentAfter(succeeded + failed, m_model->rowCount()));
        if (converted)
            NoticeTranscodeFileDone(output);
        else if (BalloonHint)
            ShowBalloon(QStringLiteral("转码失败"), input, kFileBalloonMs);
        if (m_model->rowCount() > 0)
            continue;

        NoticeDoneSound();
        ShowMessage(QStringLiteral("所有转码任务完成\n") + BatchSummaryText(succeeded, failed));
        if (!alive)
            return;
        ShowProgress(0);
        SetStatus(1, QString());
        SetStatus(2, QString());
        NoticeTranscodeAllDone(succeeded, failed);
        SetRecodecLook(false);
        return;
    }
}
