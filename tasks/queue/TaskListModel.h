#pragma once
// The task rows of the M3U8 page. The list is the download queue: the scheduler reads and writes
// these rows and the page's view shows this very model, so there is never a second copy.

#include <QAbstractTableModel>
#include <QString>
#include <QStringList>
#include <QVector>

class TaskListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Column 0 is hidden in the view; it holds the running task's ID.
    enum Column {
        ColId = 0,
        ColNumber,
        ColStatus,
        ColProgress,
        ColFile,
        ColUrl,
        ColHeaders,
        ColumnCount
    };

    explicit TaskListModel(QObject *parent = nullptr);

    static QStringList Captions();

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool insertRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    bool removeRows(int row, int count, const QModelIndex &parent = QModelIndex()) override;
    bool moveRows(const QModelIndex &sourceParent, int sourceRow, int count,
                  const QModelIndex &destinationParent, int destinationChild) override;

    // Rows are 0-based here; the scheduler's operations speak 1-based positions.
    int Count() const { return static_cast<int>(m_rows.size()); }
    // Appends a queued row and returns its index.
    int AppendRow(const QString &number, const QString &file, const QString &url,
                  const QString &headers);
    QString Field(int row, Column column) const;
    // Setting the status clears the row's failure reason.
    void SetField(int row, Column column, const QString &text);
    // Why a failed row failed: the status cell's tooltip. Never saved.
    QString Reason(int row) const;
    void SetReason(int row, const QString &reason);
    void RemoveRow(int row);
    void Clear();

    // A row whose ID column is set has a task object working on it; that task finds the row by
    // its ID, so the row must stay until the task reports its end.
    bool IsRowRunning(int row) const;
    bool IsRowQueued(int row) const;

private:
    // The columns, then the failure reason.
    using Row = QVector<QString>;
    static constexpr int kReasonSlot = ColumnCount;
    bool ValidRow(int row) const { return row >= 0 && row < Count(); }

    QVector<Row> m_rows;
};
