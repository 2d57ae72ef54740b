#pragma once
// Row moves and running numbers on the ordered lists (unit ListViewFuncs), on any item model.
// The widget half (selection, focus, scrolling) is in gui/ListViewWidgets.h.

class QAbstractItemModel;

enum class MoveDirection { Up, Down };

// Swaps `row` with its neighbour in `direction`, carrying every column and role of the row.
// Returns the row's new index, or -1 when nothing moved (no row, first row up, last row down).
int MoveListRow(QAbstractItemModel *model, int row, MoveDirection direction);

// Writes 1, 2, ... into column `column` (1-based) of every row. Nothing happens for an empty
// list, column 0 or a column past the last.
void RenumberColumn(QAbstractItemModel *model, unsigned column);
