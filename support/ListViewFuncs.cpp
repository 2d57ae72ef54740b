#include "support/ListViewFuncs.h"

#include <QAbstractItemModel>

int MoveListRow(QAbstractItemModel *model, int row, MoveDirection direction) {
    if (!model || row < 0)
        return -1;
    const int rows = model->rowCount();
    if (row >= rows)
        return -1;
    const int target = direction == MoveDirection::Up ? row - 1 : row + 1;
    if (target < 0 || target >= rows)
        return -1;

    // moveRow's destination is the row before which the moved row lands.
    const int destination = direction == MoveDirection::Up ? target : target + 1;
    if (model->moveRow(QModelIndex(), row, QModelIndex(), destination))
        return target;

    // Role by role: setItemData stops at the first role a model refuses, and it only adds roles.
    const int columns = model->columnCount();
    for (int column = 0; column < columns; ++column) {
        const QModelIndex a = model->index(row, column);
        const QModelIndex b = model->index(target, column);
        const QMap<int, QVariant> dataA = model->itemData(a);
        const QMap<int, QVariant> dataB = model->itemData(b);
        QList<int> roles = dataA.keys();
        for (int role : dataB.keys()) {
            if (!dataA.contains(role))
                roles.append(role);
        }
        for (int role : std::as_const(roles)) {
            model->setData(a, dataB.value(role), role);
            model->setData(b, dataA.value(role), role);
        }
    }
    return target;
}

void RenumberColumn(QAbstractItemModel *model, unsigned column) {
    if (!model)
        return;
    const int rows = model->rowCount();
    if (rows == 0 || column == 0 || column > static_cast<unsigned>(model->columnCount()))
        return;
    const int c = static_cast<int>(column) - 1;
    for (int row = 0; row < rows; ++row)
        model->setData(model->index(row, c), QString::number(row + 1));
}
