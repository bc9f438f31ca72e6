// The results window's list of runs, read from the record a page at a time as it is scrolled.
#pragma once

#include "ResultsQuery.h"

#include <QAbstractTableModel>
#include <QSqlDatabase>

#include <vector>

class RunListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // The columns, in this order.
    enum Column { ColId, ColDate, ColSerial, ColModel, ColOperator, ColResult, ColDuration, ColKind, Columns };
    static constexpr int PageRows = 256;

    using QAbstractTableModel::QAbstractTableModel;

    // Lists what `filter` selects in `db`, its first page read at once; false with the driver's
    // error. The filter's serial lookup is chosen here.
    bool setFilter(const QSqlDatabase& db, RunFilter filter, QString* error);
    // Empties the list and lets go of the database.
    void clear();
    qint64 runId(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

signals:
    // A later page could not be read; the list stays as far as it got.
    void pageFault(const QString& error);

private:
    // The next page after the rows held, appended; false with the error.
    bool readPage(QString* error);

    QSqlDatabase db_;
    RunFilter filter_;
    std::vector<RunSummary> rows_;
    bool atEnd_ = true;
};
