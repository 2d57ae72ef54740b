#pragma once
// The window-wide drop hook: an event filter on the application that hands the local paths of a
// file drop to the handler of the widget under the drop. A drop on a widget that is not itself
// registered goes to its nearest registered ancestor (a control of a page to its page); a drop
// outside every registered widget, or one that carries no local file, is left alone.

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <functional>

class QMimeData;
class QWidget;

class DropRouter : public QObject {
    Q_OBJECT
public:
    // Receives every dropped path, in the order the drop lists them; never an empty list.
    using Handler = std::function<void(const QStringList &paths)>;

    explicit DropRouter(QObject *parent = nullptr);
    ~DropRouter() override;

    // Makes `target` accept drops and routes drops on it (and on its unregistered children) to
    // `handler`. Registering a widget again replaces its handler.
    void AddTarget(QWidget *target, Handler handler);
    // Installs the hook on the application; it is removed again when the router goes.
    void Install();

    // The local file paths of a drop, in native form; empty when it carries none.
    static QStringList LocalPaths(const QMimeData *mime);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The registered widget that answers for a drop on `widget`, or nullptr.
    QWidget *TargetFor(QObject *widget) const;

    QHash<QWidget *, Handler> m_handlers;
    bool m_installed = false;
};
