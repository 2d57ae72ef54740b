#include "batch/DropRouter.h"

#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

DropRouter::DropRouter(QObject *parent) : QObject(parent) {}

DropRouter::~DropRouter() {
    if (m_installed && QCoreApplication::instance())
        QCoreApplication::instance()->removeEventFilter(this);
}

void DropRouter::AddTarget(QWidget *target, Handler handler) {
    if (!target)
        return;
    target->setAcceptDrops(true);
    if (!m_handlers.contains(target)) {
        // A widget that goes away must not leave a dangling key behind.
        connect(target, &QObject::destroyed, this, [this, target] { m_handlers.remove(target); });
    }
    m_handlers.insert(target, std::move(handler));
}

void DropRouter::Install() {
    if (m_installed || !QCoreApplication::instance())
        return;
    QCoreApplication::instance()->installEventFilter(this);
    m_installed = true;
}

QStringList DropRouter::LocalPaths(const QMimeData *mime) {
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl &url : mime->urls()) {
        if (url.isLocalFile())
            paths << QDir::toNativeSeparators(url.toLocalFile());
    }
    return paths;
}

QWidget *DropRouter::TargetFor(QObject *object) const {
    if (m_handlers.isEmpty() || !object || !object->isWidgetType())
        return nullptr;
    for (auto *widget = static_cast<QWidget *>(object); widget; widget = widget->parentWidget()) {
        if (m_handlers.contains(widget))
            return widget;
        if (widget->isWindow())
            break;
    }
    return nullptr;
}

bool DropRouter::eventFilter(QObject *watched, QEvent *event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop)
        return false;
    QWidget *target = TargetFor(watched);
    if (!target)
        return false;
    auto *drop = static_cast<QDropEvent *>(event);
    const QStringList paths = LocalPaths(drop->mimeData());
    if (paths.isEmpty())
        return false;
    // Taken here, so an edit under the drop does not also paste the addresses as text.
    drop->acceptProposedAction();
    if (type == QEvent::Drop) {
        const Handler handler = m_handlers.value(target);
        if (handler)
            handler(paths);
    }
    return true;
}
