#include "tasks/queue/TaskListModel.h"

TaskListModel::TaskListModel(QObject *parent) : QAbstractTableModel(parent) {}

QStringList TaskListModel::Captions() {
    return {QStringLiteral("ID"),    QStringLiteral("序号"), QStringLiteral("状态"),
            QStringLiteral("进度"),  QStringLiteral("文件"), QStringLiteral("m3u8"),
            QStringLiteral("请求头")};
}

int TaskListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : Count();
}

int TaskListModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TaskListModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || !ValidRow(index.row()) || index.column() >= ColumnCount)
        return {};
    switch (role) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            return m_rows[index.row()][index.column()];
        case Qt::TextAlignmentRole:
            if (index.column() >= ColStatus && index.column() <= ColUrl)
                return int(Qt::AlignCenter);
            return int(Qt::AlignLeft | Qt::AlignVCenter);
        case Qt::ToolTipRole:
            if (index.column() == ColStatus && !m_rows[index.row()][kReasonSlot].isEmpty())
                return m_rows[index.row()][kReasonSlot];
            return {};
        default:
            return {};
    }
}

bool TaskListModel::setData(const QModelIndex &index, const QVariant &value, int role) {
    if (!index.isValid() || !ValidRow(index.row()) || index.column() >= ColumnCount)
        return false;
    if (role != Qt::EditRole && role != Qt::DisplayRole)
        return false;
    SetField(index.row(), static_cast<Column>(index.column()), value.toString());
    return true;
}

QVariant TaskListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return Captions().at(section);
}

Qt::ItemFlags TaskListModel::flags(const QModelIndex &index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

bool TaskListModel::insertRows(int row, int count, const QModelIndex &parent) {
    if (parent.isValid() || row < 0 || row > Count() || count <= 0)
        return false;
    beginInsertRows(QModelIndex(), row, row + count - 1);
    m_rows.insert(row, count, Row(ColumnCount + 1));
    endInsertRows();
    return true;
}

bool TaskListModel::removeRows(int row, int count, const QModelIndex &parent) {
    if (parent.isValid() || row < 0 || count <= 0 || row + count > Count())
        return false;
    beginRemoveRows(QModelIndex(), row, row + count - 1);
    m_rows.remove(row, count);
    endRemoveRows();
    return true;
}

bool TaskListModel::moveRows(const QModelIndex &sourceParent, int sourceRow, int count,
                             const QModelIndex &destinationParent, int destinationChild) {
    if (sourceParent.isValid() || destinationParent.isValid() || count <= 0 || sourceRow < 0 ||
        sourceRow + count > Count() || destinationChild < 0 || destinationChild > Count())
        return false;
    // Moving a block into itself or just behind itself changes nothing.
    if (destinationChild >= sourceRow && destinationChild <= sourceRow + count)
        return false;
    if (!beginMoveRows(QModelIndex(), sourceRow, sourceRow + count - 1, QModelIndex(),
                       destinationChild))
        return false;
    const QVector<Row> moved = m_rows.mid(sourceRow, count);
    m_rows.remove(sourceRow, count);
    const int target = destinationChild > sourceRow ? destinationChild - count : destinationChild;
    for (int i = 0; i < count; ++i)
        m_rows.insert(target + i, moved[i]);
    endMoveRows();
    return true;
}

int TaskListModel::AppendRow(const QString &number, const QString &file, const QString &url,
                             const QString &headers) {
    const int row = Count();
    Row values(ColumnCount + 1);
    values[ColNumber] = number;
    values[ColFile] = file;
    values[ColUrl] = url;
    values[ColHeaders] = headers;
    beginInsertRows(QModelIndex(), row, row);
    m_rows.append(values);
    endInsertRows();
    return row;
}

QString TaskListModel::Field(int row, Column column) const {
    if (!ValidRow(row) || column < 0 || column >= ColumnCount)
        return {};
    return m_rows[row][column];
}

void TaskListModel::SetField(int row, Column column, const QString &text) {
    if (!ValidRow(row) || column < 0 || column >= ColumnCount)
        return;
    if (column == ColStatus)
        SetReason(row, QString());
    QString &cell = m_rows[row][column];
    if (cell == text)
        return;
    cell = text;
    const QModelIndex changed = index(row, column);
    emit dataChanged(changed, changed, {Qt::DisplayRole, Qt::EditRole});
}

QString TaskListModel::Reason(int row) const {
    return ValidRow(row) ? m_rows[row][kReasonSlot] : QString();
}

void TaskListModel::SetReason(int row, const QString &reason) {
    if (!ValidRow(row) || m_rows[row][kReasonSlot] == reason)
        return;
    m_rows[row][kReasonSlot] = reason;
    const QModelIndex changed = index(row, ColStatus);
    emit dataChanged(changed, changed, {Qt::ToolTipRole});
}

void TaskListModel::RemoveRow(int row) {
    if (ValidRow(row))
        removeRows(row, 1);
}

void TaskListModel::Clear() {
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

bool TaskListModel::IsRowRunning(int row) const {
    return ValidRow(row) && !m_rows[row][ColId].isEmpty();
}

bool TaskListModel::IsRowQueued(int row) const {
    return ValidRow(row) && m_rows[row][ColStatus].isEmpty();
}
