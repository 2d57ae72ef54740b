#include "tasks/page/UnitFormClipboard.h"

#include "resources/KorviResources.h"
#include "support/gui/GuiUtils.h"
#include "tasks/import/BrowserRequest.h"
#include "tasks/import/ListImport.h"

#include "ui_UnitFormClipboard.h"

#include <QClipboard>
#include <QEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QUrl>

TfrmClipboard::TfrmClipboard(AddTask addTask, Notice notice, QWidget *parent)
    : QDialog(parent),
      m_ui(new Ui::TfrmClipboard),
      m_addTask(std::move(addTask)),
      m_notice(std::move(notice)) {
    m_ui->setupUi(this);
    connectSignals();
    FormCreate();
}

TfrmClipboard::~TfrmClipboard() = default;

void TfrmClipboard::connectSignals() {
    connect(m_ui->btnImport, &QAbstractButton::clicked, this, &TfrmClipboard::btnImportClick);
    connect(m_ui->btnPaste, &QAbstractButton::clicked, this, &TfrmClipboard::btnPasteClick);
    // Double clicks arrive through eventFilter (the memo's through its viewport).
    m_ui->Memo1->viewport()->installEventFilter(this);
    m_ui->edtPreName->installEventFilter(this);
}

void TfrmClipboard::FormCreate() {
    QFont font = this->font();
    if (IsFontInstalled(QStringLiteral("微软雅黑")))
        font.setFamily(QStringLiteral("微软雅黑"));
    else if (IsFontInstalled(QStringLiteral("宋体")))
        font.setFamily(QStringLiteral("宋体"));
    font.setPointSize(10);
    setFont(font);
    // The clipboard picture of the button that opens it, so the dialog is told apart in the task
    // bar from the main window.
    InitKorviResources();
    setWindowIcon(QIcon(PictureResourcePath(QStringLiteral("LVWCLIPBRD"))));
    if (parentWidget()) {
        QRect frame = geometry();
        frame.moveCenter(parentWidget()->window()->geometry().center());
        move(frame.topLeft());
    }
    btnPasteClick();
}

void TfrmClipboard::btnPasteClick() {
    m_ui->Memo1->clear();
    m_ui->Memo1->setPlainText(QGuiApplication::clipboard()->text());
}

void TfrmClipboard::Memo1DblClick() {
    if (!m_ui->Memo1->toPlainText().isEmpty())
        m_ui->Memo1->clear();
    else
        m_ui->Memo1->setPlainText(QGuiApplication::clipboard()->text());
}

void TfrmClipboard::edtPreNameDblClick() {
    if (!m_ui->edtPreName->text().isEmpty())
        m_ui->edtPreName->clear();
    else
        m_ui->edtPreName->setText(QGuiApplication::clipboard()->text());
}

void TfrmClipboard::btnImportClick() {
    const QString text = m_ui->Memo1->toPlainText();
    if (text.isEmpty())
        return;
    QString folder;
    if (!SelectFolder(this, folder, QStringLiteral("选择保存位置")))
        return;
    int handed = 0;
    QStringList refused;
    QStringList names;
    const QChar first =
        m_ui->edtDelimiter->text().isEmpty() ? QLatin1Char('$') : m_ui->edtDelimiter->text().at(0);
    for (QString entry : ClipboardEntries(text, first)) {
        // Read afresh for every line: adding a task may let events run.
        const QString delimiter = m_ui->edtDelimiter->text();
        const QChar d = delimiter.isEmpty() ? QLatin1Char('$') : delimiter.at(0);
        const QString prefix = m_ui->edtPreName->text();
        QString name = TakeRequestName(entry, d);
        BrowserRequest request;
        QString problem;
        const RequestParse parse = ParseBrowserRequest(entry, request, problem);
        if (parse == RequestParse::Refused) {
            refused << problem;
            continue;
        }
        if (parse == RequestParse::Parsed) {
            if (name.isEmpty())
                name = QFileInfo(QUrl(request.url).path()).completeBaseName();
            // Requests for many "index.m3u8" must not all write one file.
            const QString base = SafeNamePart(name);
            name = base;
            for (int n = 2; names.contains(name); ++n)
                name = base + QStringLiteral("_%1").arg(n);
            names << name;
            m_addTask(request.url, folder + SafeNamePart(prefix) + name + QStringLiteral(".mp4"),
                      RequestHeadersBlock(request));
            ++handed;
            continue;
        }
        ImportedTask task;
        if (!ClipboardLineTask(entry, d, prefix, folder, task))
            continue;
        m_addTask(task.url, task.outFile, QString());
        ++handed;
    }
    if ((handed > 0 || !refused.isEmpty()) && m_notice) {
        QString message =
            QStringLiteral("共尝试添加 ") + QString::number(handed) + QStringLiteral(" 个任务");
        if (!refused.isEmpty())
            message += QStringLiteral("\n%1 个请求无法读取: %2")
                           .arg(refused.size())
                           .arg(refused.join(QStringLiteral("; ")));
        m_notice(this, QStringLiteral("导入完毕"), message);
    }
}

bool TfrmClipboard::eventFilter(QObject *watched, QEvent *event) {
    if (event->type() == QEvent::MouseButtonDblClick) {
        if (watched == m_ui->Memo1->viewport()) {
            Memo1DblClick();
            return true;
        }
        if (watched == m_ui->edtPreName) {
            edtPreNameDblClick();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
