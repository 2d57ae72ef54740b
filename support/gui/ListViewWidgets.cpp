#include "support/gui/ListViewWidgets.h"

#include <QAbstractItemView>
#include <QItemSelectionModel>

void MoveListItem(QAbstractItemView *view, int row, MoveDirection direction, bool focus) {
    if (!view || !view->model())
        return;
    QAbstractItemModel *model = view->model();
    const int moved = [&] {
        // Repainting waits until the swap is complete.
        view->setUpdatesEnabled(false);
        const int result = MoveListRow(model, row, direction);
        view->setUpdatesEnabled(true);
        return result;
    }();
    if (moved < 0)
        return;

    const QModelIndex index = model->index(moved, 0);
    if (QItemSelectionModel *selection = view->selectionModel()) {
        selection->setCurrentIndex(index,
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    if (focus)
        view->setFocus(Qt::OtherFocusReason);
    view->scrollTo(index, QAbstractItemView::EnsureVisible);
}
