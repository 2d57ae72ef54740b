#include "support/ListViewFuncs.h"
#include "support/gui/ListViewWidgets.h"

#include <QApplication>
#include <QStandardItemModel>
#include <QStringListModel>
#include <QTest>
#include <QTreeView>

#include <memory>

namespace {

constexpr int kDataRole = Qt::UserRole + 1;

// Three columns like the batch list: number, file, size; each row carries an object reference
// in a data role, a check state and a tool tip.
std::unique_ptr<QStandardItemModel> MakeModel(int rows) {
    auto model = std::make_unique<QStandardItemModel>(rows, 3);
    for (int r = 0; r < rows; ++r) {
        const QString name = QStringLiteral("file%1.ts").arg(r + 1);
        model->setData(model->index(r, 0), QString::number(r + 1));
        model->setData(model->index(r, 0), QVariant::fromValue<qulonglong>(1000 + r), kDataRole);
        model->setData(model->index(r, 0), r % 2 ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole);
        model->setData(model->index(r, 1), name);
        model->setData(model->index(r, 1), QStringLiteral("tip ") + name, Qt::ToolTipRole);
        model->setData(model->index(r, 2), QStringLiteral("%1 KB").arg((r + 1) * 10));
    }
    return model;
}

QStringList Column(const QAbstractItemModel &model, int column, int role = Qt::DisplayRole) {
    QStringList texts;
    for (int r = 0; r < model.rowCount(); ++r)
        texts.append(model.index(r, column).data(role).toString());
    return texts;
}

QList<int> SelectedRows(const QAbstractItemView &view) {
    QList<int> rows;
    const QModelIndexList indexes = view.selectionModel()->selectedRows();
    for (const QModelIndex &index : indexes)
        rows.append(index.row());
    return rows;
}

}  // namespace

class ListHelpersTest : public QObject {
    Q_OBJECT
private slots:
    void init();

    void second_of_three_down_swaps_and_stays_selected();
    void renumbering_after_a_move_reads_one_two_three();
    void moving_up_swaps_with_the_predecessor();
    void first_up_and_last_down_change_nothing_data();
    void first_up_and_last_down_change_nothing();
    void no_row_changes_nothing();
    void focus_is_given_only_when_asked();
    void other_roles_travel_with_the_row();
    void role_only_one_row_has_moves_with_it();
    void models_with_move_support_move_their_rows();

    void renumber_column_two_rewrites_only_that_column();
    void renumber_past_the_last_column_changes_nothing();
    void renumber_column_zero_or_empty_list_changes_nothing();

private:
    std::unique_ptr<QStandardItemModel> m_model;
    std::unique_ptr<QTreeView> m_view;
};

void ListHelpersTest::init() {
    m_model = MakeModel(3);
    m_view = std::make_unique<QTreeView>();
    m_view->setObjectName(QStringLiteral("lvwBList"));
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setModel(m_model.get());
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
}

void ListHelpersTest::second_of_three_down_swaps_and_stays_selected() {
    // Another row selected beforehand must not stay selected.
    m_view->selectionModel()->select(m_model->index(0, 0),
                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
    MoveListItem(m_view.get(), 1, MoveDirection::Down, true);
    QCOMPARE(Column(*m_model, 1), QStringList({"file1.ts", "file3.ts", "file2.ts"}));
    QCOMPARE(Column(*m_model, 0), QStringList({"1", "3", "2"}));
    QCOMPARE(SelectedRows(*m_view), QList<int>{2});
    QCOMPARE(m_view->currentIndex().row(), 2);
    // The whole row is selected, every column of it.
    QCOMPARE(m_view->selectionModel()->selectedIndexes().size(), 3);
}

void ListHelpersTest::renumbering_after_a_move_reads_one_two_three() {
    MoveListItem(m_view.get(), 1, MoveDirection::Down, false);
    RenumberColumn(m_model.get(), 1);
    QCOMPARE(Column(*m_model, 0), QStringList({"1", "2", "3"}));
    QCOMPARE(Column(*m_model, 1), QStringList({"file1.ts", "file3.ts", "file2.ts"}));
}

void ListHelpersTest::moving_up_swaps_with_the_predecessor() {
    MoveListItem(m_view.get(), 2, MoveDirection::Up, false);
    QCOMPARE(Column(*m_model, 1), QStringList({"file1.ts", "file3.ts", "file2.ts"}));
    QCOMPARE(SelectedRows(*m_view), QList<int>{1});
    QCOMPARE(MoveListRow(m_model.get(), 1, MoveDirection::Up), 0);
    QCOMPARE(Column(*m_model, 1), QStringList({"file3.ts", "file1.ts", "file2.ts"}));
}

void ListHelpersTest::first_up_and_last_down_change_nothing_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("down");
    QTest::newRow("first up") << 0 << false;
    QTest::newRow("last down") << 2 << true;
    QTest::newRow("past the end") << 3 << false;
    QTest::newRow("negative") << -1 << true;
}

void ListHelpersTest::first_up_and_last_down_change_nothing() {
    QFETCH(int, row);
    QFETCH(bool, down);
    const MoveDirection direction = down ? MoveDirection::Down : MoveDirection::Up;
    m_view->setCurrentIndex(m_model->index(1, 0));
    MoveListItem(m_view.get(), row, direction, true);
    QCOMPARE(Column(*m_model, 1), QStringList({"file1.ts", "file2.ts", "file3.ts"}));
    QCOMPARE(m_view->currentIndex().row(), 1);
    QCOMPARE(MoveListRow(m_model.get(), row, direction), -1);
}

void ListHelpersTest::no_row_changes_nothing() {
    QStandardItemModel empty(0, 3);
    QTreeView view;
    view.setModel(&empty);
    MoveListItem(&view, 0, MoveDirection::Down, true);
    MoveListItem(nullptr, 0, MoveDirection::Down, true);
    QCOMPARE(MoveListRow(&empty, 0, MoveDirection::Up), -1);
    QCOMPARE(MoveListRow(nullptr, 0, MoveDirection::Up), -1);
    QCOMPARE(empty.rowCount(), 0);
}

void ListHelpersTest::focus_is_given_only_when_asked() {
    const auto model = MakeModel(3);
    QWidget window;
    auto *list = new QTreeView(&window);
    list->setObjectName(QStringLiteral("lvwMList"));
    list->setModel(model.get());
    auto *other = new QTreeView(&window);
    other->setObjectName(QStringLiteral("other"));
    window.show();
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    other->setFocus();
    QTRY_VERIFY(other->hasFocus());

    MoveListItem(list, 0, MoveDirection::Down, false);
    QVERIFY(other->hasFocus());
    MoveListItem(list, 1, MoveDirection::Down, true);
    QTRY_VERIFY(list->hasFocus());
    QCOMPARE(Column(*model, 1), QStringList({"file2.ts", "file3.ts", "file1.ts"}));
}

void ListHelpersTest::other_roles_travel_with_the_row() {
    MoveListItem(m_view.get(), 0, MoveDirection::Down, false);
    const QModelIndex moved0 = m_model->index(1, 0);
    QCOMPARE(moved0.data(kDataRole).toULongLong(), 1000ull);
    QCOMPARE(moved0.data(Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QCOMPARE(m_model->index(1, 1).data(Qt::ToolTipRole).toString(), QStringLiteral("tip file1.ts"));
    QCOMPARE(m_model->index(1, 2).data().toString(), QStringLiteral("10 KB"));
    const QModelIndex neighbour = m_model->index(0, 0);
    QCOMPARE(neighbour.data(kDataRole).toULongLong(), 1001ull);
    QCOMPARE(neighbour.data(Qt::CheckStateRole).toInt(), int(Qt::Checked));
    QCOMPARE(m_model->index(0, 1).data(Qt::ToolTipRole).toString(), QStringLiteral("tip file2.ts"));
}

void ListHelpersTest::role_only_one_row_has_moves_with_it() {
    m_model->setData(m_model->index(1, 2), QStringLiteral("only row 2"), Qt::StatusTipRole);
    MoveListItem(m_view.get(), 1, MoveDirection::Up, false);
    QCOMPARE(m_model->index(0, 2).data(Qt::StatusTipRole).toString(), QStringLiteral("only row 2"));
    QVERIFY(!m_model->index(1, 2).data(Qt::StatusTipRole).isValid());
}

void ListHelpersTest::models_with_move_support_move_their_rows() {
    QStringListModel model({"a", "b", "c", "d"});
    QCOMPARE(MoveListRow(&model, 1, MoveDirection::Down), 2);
    QCOMPARE(model.stringList(), QStringList({"a", "c", "b", "d"}));
    QCOMPARE(MoveListRow(&model, 3, MoveDirection::Up), 2);
    QCOMPARE(model.stringList(), QStringList({"a", "c", "d", "b"}));
    QCOMPARE(MoveListRow(&model, 3, MoveDirection::Down), -1);
    QCOMPARE(model.stringList(), QStringList({"a", "c", "d", "b"}));
}

void ListHelpersTest::renumber_column_two_rewrites_only_that_column() {
    // The task list: hidden ID, number, status.
    QStandardItemModel model(3, 3);
    for (int r = 0; r < 3; ++r) {
        model.setData(model.index(r, 0), QStringLiteral("id%1").arg(r));
        model.setData(model.index(r, 1), QStringLiteral("x"));
        model.setData(model.index(r, 2), QStringLiteral("下载中"));
    }
    RenumberColumn(&model, 2);
    QCOMPARE(Column(model, 0), QStringList({"id0", "id1", "id2"}));
    QCOMPARE(Column(model, 1), QStringList({"1", "2", "3"}));
    QCOMPARE(Column(model, 2), QStringList({"下载中", "下载中", "下载中"}));
}

void ListHelpersTest::renumber_past_the_last_column_changes_nothing() {
    m_model->setData(m_model->index(0, 0), QStringLiteral("7"));
    RenumberColumn(m_model.get(), 4);
    RenumberColumn(m_model.get(), 100);
    QCOMPARE(Column(*m_model, 0), QStringList({"7", "2", "3"}));
    QCOMPARE(Column(*m_model, 2), QStringList({"10 KB", "20 KB", "30 KB"}));
    RenumberColumn(m_model.get(), 3);
    QCOMPARE(Column(*m_model, 2), QStringList({"1", "2", "3"}));
}

void ListHelpersTest::renumber_column_zero_or_empty_list_changes_nothing() {
    m_model->setData(m_model->index(0, 0), QStringLiteral("7"));
    RenumberColumn(m_model.get(), 0);
    QCOMPARE(Column(*m_model, 0), QStringList({"7", "2", "3"}));
    QStandardItemModel empty(0, 2);
    RenumberColumn(&empty, 1);
    QCOMPARE(empty.rowCount(), 0);
    RenumberColumn(nullptr, 1);
}

QTEST_MAIN(ListHelpersTest)
#include "tst_listhelpers.moc"
