// The task rows as the view and the list commands see them.

#include "support/ListViewFuncs.h"
#include "tasks/queue/TaskListModel.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

using C = TaskListModel;

void AddRows(TaskListModel &model, int count) {
    for (int n = 1; n <= count; ++n)
        model.AppendRow(QString::number(n), QStringLiteral("/v/%1.mp4").arg(n),
                        QStringLiteral("http://h/%1.m3u8").arg(n), QString());
}

QStringList Column(const TaskListModel &model, C::Column column) {
    QStringList values;
    for (int row = 0; row < model.Count(); ++row)
        values << model.data(model.index(row, column)).toString();
    return values;
}

}  // namespace

class TestTaskListModel : public QObject {
    Q_OBJECT
private slots:
    void has_seven_columns_with_their_captions();
    void shows_texts_in_the_display_role();
    void field_changes_are_signalled_to_the_view();
    void move_list_row_carries_the_whole_row();
    void move_past_the_ends_changes_nothing();
    void renumber_writes_the_number_column_only();
    void running_and_queued_rows_are_told_apart();
    void removing_rows_shifts_the_rest();
};

void TestTaskListModel::has_seven_columns_with_their_captions() {
    TaskListModel model;
    QCOMPARE(model.columnCount(), 7);
    const QStringList expected{QStringLiteral("ID"),    QStringLiteral("序号"),
                               QStringLiteral("状态"),  QStringLiteral("进度"),
                               QStringLiteral("文件"),  QStringLiteral("m3u8"),
                               QStringLiteral("请求头")};
    for (int column = 0; column < 7; ++column)
        QCOMPARE(model.headerData(column, Qt::Horizontal).toString(), expected[column]);
}

void TestTaskListModel::shows_texts_in_the_display_role() {
    TaskListModel model;
    model.AppendRow(QStringLiteral("1"), QStringLiteral("/v/a b.mp4"),
                    QStringLiteral("http://h/a.m3u8"), QStringLiteral("Referer: r"));
    model.SetField(0, C::ColStatus, QStringLiteral("分析中"));
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.data(model.index(0, C::ColNumber)).toString(), QStringLiteral("1"));
    QCOMPARE(model.data(model.index(0, C::ColStatus)).toString(), QStringLiteral("分析中"));
    QCOMPARE(model.data(model.index(0, C::ColFile)).toString(), QStringLiteral("/v/a b.mp4"));
    QCOMPARE(model.data(model.index(0, C::ColUrl)).toString(), QStringLiteral("http://h/a.m3u8"));
    QCOMPARE(model.data(model.index(0, C::ColHeaders)).toString(), QStringLiteral("Referer: r"));
    QVERIFY(model.data(model.index(0, C::ColId)).toString().isEmpty());
    QVERIFY(!(model.flags(model.index(0, C::ColFile)) & Qt::ItemIsEditable));
}

void TestTaskListModel::field_changes_are_signalled_to_the_view() {
    TaskListModel model;
    AddRows(model, 2);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    model.SetField(1, C::ColProgress, QStringLiteral("45.50%"));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed[0][0].toModelIndex(), model.index(1, C::ColProgress));
    model.SetField(1, C::ColProgress, QStringLiteral("45.50%"));  // same text
    QCOMPARE(changed.size(), 1);
    model.SetField(5, C::ColProgress, QStringLiteral("x"));  // no such row
    QCOMPARE(changed.size(), 1);
}

void TestTaskListModel::move_list_row_carries_the_whole_row() {
    TaskListModel model;
    AddRows(model, 3);
    model.SetField(1, C::ColId, QStringLiteral("7"));
    model.SetField(1, C::ColStatus, QStringLiteral("下载中"));
    model.SetField(1, C::ColProgress, QStringLiteral("12.50%"));
    model.SetField(1, C::ColHeaders, QStringLiteral("K: v"));

    QCOMPARE(MoveListRow(&model, 1, MoveDirection::Down), 2);
    QCOMPARE(Column(model, C::ColUrl),
             (QStringList{QStringLiteral("http://h/1.m3u8"), QStringLiteral("http://h/3.m3u8"),
                          QStringLiteral("http://h/2.m3u8")}));
    QCOMPARE(model.Field(2, C::ColId), QStringLiteral("7"));
    QCOMPARE(model.Field(2, C::ColStatus), QStringLiteral("下载中"));
    QCOMPARE(model.Field(2, C::ColProgress), QStringLiteral("12.50%"));
    QCOMPARE(model.Field(2, C::ColHeaders), QStringLiteral("K: v"));
    QVERIFY(model.Field(1, C::ColId).isEmpty());

    QCOMPARE(MoveListRow(&model, 2, MoveDirection::Up), 1);
    QCOMPARE(MoveListRow(&model, 1, MoveDirection::Up), 0);
    QCOMPARE(Column(model, C::ColNumber),
             (QStringList{QStringLiteral("2"), QStringLiteral("1"), QStringLiteral("3")}));
    QCOMPARE(model.Field(0, C::ColId), QStringLiteral("7"));
}

void TestTaskListModel::move_past_the_ends_changes_nothing() {
    TaskListModel model;
    AddRows(model, 3);
    const QStringList before = Column(model, C::ColUrl);
    QCOMPARE(MoveListRow(&model, 0, MoveDirection::Up), -1);
    QCOMPARE(MoveListRow(&model, 2, MoveDirection::Down), -1);
    QVERIFY(!model.moveRows(QModelIndex(), 1, 1, QModelIndex(), 1));
    QVERIFY(!model.moveRows(QModelIndex(), 1, 1, QModelIndex(), 2));
    QVERIFY(!model.moveRows(QModelIndex(), 2, 2, QModelIndex(), 0));
    QCOMPARE(Column(model, C::ColUrl), before);
}

void TestTaskListModel::renumber_writes_the_number_column_only() {
    TaskListModel model;
    AddRows(model, 4);
    model.RemoveRow(1);
    model.SetField(0, C::ColId, QStringLiteral("3"));
    QCOMPARE(Column(model, C::ColNumber),
             (QStringList{QStringLiteral("1"), QStringLiteral("3"), QStringLiteral("4")}));
    RenumberColumn(&model, 2);
    QCOMPARE(Column(model, C::ColNumber),
             (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")}));
    QCOMPARE(model.Field(0, C::ColId), QStringLiteral("3"));
    RenumberColumn(&model, 8);
    QCOMPARE(model.Field(0, C::ColHeaders), QString());
}

void TestTaskListModel::running_and_queued_rows_are_told_apart() {
    TaskListModel model;
    AddRows(model, 3);
    model.SetField(0, C::ColId, QStringLiteral("1"));
    model.SetField(0, C::ColStatus, QStringLiteral("下载中"));
    model.SetField(1, C::ColStatus, QStringLiteral("合并失败"));
    QVERIFY(model.IsRowRunning(0));
    QVERIFY(!model.IsRowQueued(0));
    QVERIFY(!model.IsRowRunning(1));
    QVERIFY(!model.IsRowQueued(1));
    QVERIFY(!model.IsRowRunning(2));
    QVERIFY(model.IsRowQueued(2));
    QVERIFY(!model.IsRowRunning(3));
    QVERIFY(!model.IsRowQueued(-1));
    // A status of blanks is not an empty status.
    model.SetField(2, C::ColStatus, QStringLiteral(" "));
    QVERIFY(!model.IsRowQueued(2));
}

void TestTaskListModel::removing_rows_shifts_the_rest() {
    TaskListModel model;
    AddRows(model, 3);
    QVERIFY(!model.removeRows(2, 2));
    model.RemoveRow(0);
    model.RemoveRow(9);
    QCOMPARE(Column(model, C::ColUrl),
             (QStringList{QStringLiteral("http://h/2.m3u8"), QStringLiteral("http://h/3.m3u8")}));
    QVERIFY(model.insertRows(1, 1));
    QCOMPARE(model.Count(), 3);
    QVERIFY(model.Field(1, C::ColUrl).isEmpty());
    model.Clear();
    QCOMPARE(model.rowCount(), 0);
}

QTEST_GUILESS_MAIN(TestTaskListModel)
#include "tst_tasklistmodel.moc"
