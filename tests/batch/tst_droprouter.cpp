// The window-wide drop hook: real drop events with file URLs, sent through the application so the
// hook sees them as it would see a drop from the desktop.

#include "batch/DropRouter.h"

#include <QApplication>
#include <QDropEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <QVBoxLayout>
#include <QWidget>

#include <memory>

namespace {

// Sends DragEnter then Drop to `widget`, as the desktop does; returns whether the drop was taken.
bool DropOn(QWidget *widget, const QMimeData *mime) {
    const QPointF at(2, 2);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &enter);
    QDropEvent drop(at, Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &drop);
    return drop.isAccepted() && enter.isAccepted();
}

QMimeData *FileDrop(const QStringList &paths) {
    auto *mime = new QMimeData;
    QList<QUrl> urls;
    for (const QString &path : paths)
        urls << QUrl::fromLocalFile(path);
    mime->setUrls(urls);
    return mime;
}

}  // namespace

class TestDropRouter : public QObject {
    Q_OBJECT
private slots:
    void drops_reach_the_nearest_registered_widget();
    void drops_without_local_files_are_left_alone();
};

void TestDropRouter::drops_reach_the_nearest_registered_widget() {
    QWidget window;
    auto *page = new QWidget(&window);
    auto *layout = new QVBoxLayout(page);
    auto *field = new QLineEdit(page);       // registered on its own
    auto *plain = new QLineEdit(page);       // not registered: its page answers
    auto *outside = new QLineEdit(&window);  // in no registered widget
    layout->addWidget(field);
    layout->addWidget(plain);

    QStringList pageGot, fieldGot;
    DropRouter router;
    router.AddTarget(page, [&](const QStringList &paths) { pageGot << paths; });
    router.AddTarget(field, [&](const QStringList &paths) { fieldGot << paths; });
    router.Install();
    QVERIFY(page->acceptDrops());

    const QStringList two{QStringLiteral("/tmp/a b.mp4"), QStringLiteral("/tmp/视频.ts")};
    std::unique_ptr<QMimeData> mime(FileDrop(two));

    QVERIFY(DropOn(field, mime.get()));
    QCOMPARE(fieldGot, two);
    QVERIFY(pageGot.isEmpty());
    QVERIFY2(field->text().isEmpty(), "the edit must not paste the addresses as text");

    QVERIFY(DropOn(plain, mime.get()));
    QCOMPARE(pageGot, two);
    QVERIFY(plain->text().isEmpty());

    pageGot.clear();
    fieldGot.clear();
    DropOn(outside, mime.get());
    QVERIFY(pageGot.isEmpty() && fieldGot.isEmpty());

    // A widget that goes away takes its route with it.
    delete field;
    QVERIFY(DropOn(plain, mime.get()));
    QCOMPARE(pageGot, two);
}

void TestDropRouter::drops_without_local_files_are_left_alone() {
    QWidget page;
    int calls = 0;
    DropRouter router;
    router.AddTarget(&page, [&](const QStringList &) { ++calls; });
    router.Install();

    QMimeData text;
    text.setText(QStringLiteral("http://127.0.0.1/a.m3u8"));
    DropOn(&page, &text);
    QMimeData remote;
    remote.setUrls({QUrl(QStringLiteral("http://127.0.0.1/a.m3u8"))});
    DropOn(&page, &remote);
    QCOMPARE(calls, 0);
}

QTEST_MAIN(TestDropRouter)
#include "tst_droprouter.moc"
