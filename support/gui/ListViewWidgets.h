#pragma once
// Widget half of the list helpers: moves a row of a view and keeps it selected and visible.

#include "support/ListViewFuncs.h"

class QAbstractItemView;

void MoveListItem(QAbstractItemView *view, int row, MoveDirection direction, bool focus);
