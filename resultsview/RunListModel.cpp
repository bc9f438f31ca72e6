// The results window's list of runs, read from the record a page at a time as it is scrolled.
#include "RunListModel.h"

#include "BenchTime.h"

#include <QLocale>
#include <QSqlError>
#include <QSqlQuery>

namespace {

const QStringList Titles{QStringLiteral("Id"),       QStringLiteral("Date"),     QStringLiteral("Serial"),
                         QStringLiteral("Model"),    QStringLiteral("Operator"), QStringLiteral("Result"),
                         QStringLiteral("Duration (s)"), QStringLiteral("Kind")};

}  // namespace

bool RunListModel::setFilter(const QSqlDatabase& db, RunFilter filter, QString* error)
{
    beginResetModel();
    db_ = db;
    filter_ = PlanRunFilter(db_, std::move(filter));
    rows_.clear();
    atEnd_ = false;
    const bool ok = readPage(error);
    // Nothing of a list that could not be read is shown, nor fetched later.
    if (!ok) atEnd_ = true;
    endResetModel();
    return ok;
}

void RunListModel::clear()
{
    beginResetModel();
    rows_.clear();
    atEnd_ = true;
    db_ = QSqlDatabase();
    endResetModel();
}

qint64 RunListModel::runId(int row) const
{
    return row >= 0 && row < static_cast<int>(rows_.size()) ? rows_[static_cast<std::size_t>(row)].id : 0;
}

bool RunListModel::readPage(QString* error)
{
    // Each page is a query of its own, started after the last run held: no statement stays open
    // between pages to hold the record's readers back, and a server sends one page at a time.
    RunKey last;
    if (!rows_.empty()) last = {rows_.back().startedMs, rows_.back().id};
    QVariantList binds;
    const QString sql = RunListSql(filter_, &binds, rows_.empty() ? nullptr : &last, PageRows);
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    if (!RunQuery(q, sql, binds, error)) return false;
    std::vector<RunSummary> page;
    while (q.next()) page.push_back(RunSummaryOf(q));
    if (q.lastError().isValid()) return QueryFault(q, error);
    atEnd_ = page.size() < static_cast<std::size_t>(PageRows);
    if (page.empty()) return true;
    const int first = static_cast<int>(rows_.size());
    const bool resetting = rows_.empty();
    if (!resetting) beginInsertRows({}, first, first + static_cast<int>(page.size()) - 1);
    rows_.insert(rows_.end(), page.begin(), page.end());
    if (!resetting) endInsertRows();
    return true;
}

int RunListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : static_cast<int>(rows_.size()); }

int RunListModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Columns; }

QVariant RunListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) return {};
    const RunSummary& r = rows_[static_cast<std::size_t>(index.row())];
    if (role == Qt::TextAlignmentRole && index.column() == ColDuration) return static_cast<int>(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
    switch (index.column()) {
    case ColId: return r.id;
    // From the moment, not the text the writing bench gave it in its own zone.
    case ColDate: return BenchTime(QDateTime::fromMSecsSinceEpoch(r.startedMs));
    case ColSerial: return r.serial;
    case ColModel: return r.model;
    case ColOperator: return r.operatorName;
    case ColResult: return r.result;
    case ColDuration: return r.durationS < 0 ? QString() : QLocale().toString(r.durationS, 'f', 1);
    case ColKind: return r.kind;
    default: return {};
    }
}

QVariant RunListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < Titles.size()) return Titles[section];
    return QAbstractTableModel::headerData(section, orientation, role);
}

bool RunListModel::canFetchMore(const QModelIndex& parent) const { return !parent.isValid() && !atEnd_; }

void RunListModel::fetchMore(const QModelIndex& parent)
{
    if (parent.isValid() || atEnd_) return;
    QString error;
    if (!readPage(&error)) {
        atEnd_ = true;
        emit pageFault(error);
    }
}
