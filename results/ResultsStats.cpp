// The readings of the record summed up per model and point.
#include "ResultsStats.h"

#include "CalPoints.h"
#include "OPCPublic.h"
#include "ReadingSummary.h"
#include "RunWords.h"

#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace {

// The runs a filter selects for the statistics and charts, as the WHERE clause of TestResult.
QString CalibrationsSql(RunFilter filter, QVariantList* binds)
{
    if (filter.result.isEmpty()) filter.result = ResultWord(RecordResult::Finished);
    QString where = RunFilterSql(filter, binds);
    where += where.isEmpty() ? QStringLiteral(" WHERE ") : QStringLiteral(" AND ");
    return where + QStringLiteral("kind = 'calibration'");
}

// The answer from whole-number sums per model and point.
void ToPointStats(const std::map<std::pair<QString, int>, ReadingSums>& sums, std::vector<PointStats>* stats)
{
    stats->clear();
    for (const auto& [key, s] : sums) {
        const CalPoint* found = PointNumbered(key.second);
        if (!found || s.n == 0) continue;
        const CalPoint& point = *found;
        const int code = ModelCodeOf(key.first).value_or(-1);
        PointStats p;
        p.model = key.first;
        p.point = key.second;
        p.unit = point.quantity == Quantity::Current ? QStringLiteral("A") : QStringLiteral("V");
        if (code >= 0) p.nominal = NominalLevel(point, static_cast<std::uint8_t>(code));
        p.n = s.n;
        const long double n = static_cast<long double>(s.n);
        const long double mean = static_cast<long double>(s.sum) / n;
        p.mean = static_cast<double>(mean / 1000.0L);
        if (s.n > 1) {
            // Whole-number sums: no rounding piles up over a million readings before this one step.
            const long double squares =
                static_cast<long double>(s.squares) - static_cast<long double>(s.sum) * mean;
            p.standardDeviation = static_cast<double>(std::sqrt(std::max(0.0L, squares) / (n - 1.0L)) / 1000.0L);
        }
        p.minimum = static_cast<double>(s.minimum) / 1000.0;
        p.maximum = static_cast<double>(s.maximum) / 1000.0;
        p.outsideBand = s.outside;
        p.unusual = s.unusual;
        stats->push_back(p);
    }
}

// The sums the record keeps per day, added up: a few rows per model, point and day.
bool SummedStats(const QSqlDatabase& db, RunFilter filter, std::vector<PointStats>* stats, QString* error)
{
    if (filter.result.isEmpty()) filter.result = ResultWord(RecordResult::Finished);
    QStringList terms{QStringLiteral("result = ?")};
    QVariantList binds{filter.result};
    if (filter.from.isValid()) {
        terms << QStringLiteral("day >= ?");
        binds << filter.from.toString(Qt::ISODate);
    }
    if (filter.to.isValid()) {
        terms << QStringLiteral("day <= ?");
        binds << filter.to.toString(Qt::ISODate);
    }
    if (!filter.bench.isEmpty()) {
        terms << QStringLiteral("bench = ?");
        binds << filter.bench;
    }
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!RunQuery(q,
                  QStringLiteral("SELECT model, point, sum(n), sum(total), sum(squares), min(lowest), max(highest),"
                                 " sum(outside), sum(unusual) FROM ReadingSummary WHERE ") +
                      terms.join(QStringLiteral(" AND ")) + QStringLiteral(" GROUP BY model, point"),
                  binds, error))
        return false;
    std::map<std::pair<QString, int>, ReadingSums> sums;
    while (q.next()) {
        ReadingSums& s = sums[{q.value(0).toString(), q.value(1).toInt()}];
        s.n = q.value(2).toLongLong();
        s.sum = q.value(3).toLongLong();
        s.squares = q.value(4).toLongLong();
        s.minimum = q.value(5).toLongLong();
        s.maximum = q.value(6).toLongLong();
        s.outside = q.value(7).toLongLong();
        s.unusual = q.value(8).toLongLong();
    }
    if (q.lastError().isValid()) return QueryFault(q, error);
    ToPointStats(sums, stats);
    return true;
}

}  // namespace

bool OutsideBand(const QString& model, const CalPoint& point, qint64 milliValue, double share)
{
    const std::optional<std::uint8_t> code = ModelCodeOf(model);
    return share > 0 && code &&
           !IsPlausibleReading(static_cast<double>(milliValue) / 1000.0, point.meterStep, *code, share);
}

bool ScanReadingStats(const QSqlDatabase& db, const RunFilter& filter, double share, std::vector<PointStats>* stats,
                      QString* error)
{
    QVariantList binds;
    const QString where = CalibrationsSql(PlanRunFilter(db, filter), &binds);
    // value_sent is the reading as the supply received it, in thousandths of a volt or an ampere;
    // the typed text is in the operator's own number format. A model and point hold few distinct
    // values, so the band is asked of each value once, and the sums stay whole numbers.
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // The runs' own bands split the groups only where they are asked for.
    const QString band = share > 0 ? QStringLiteral("0") : QStringLiteral("COALESCE(t.plausibility_pct, 0)");
    const QString sql = QStringLiteral(
                            "SELECT t.model, r.point, r.value_sent, %1, count(*), sum(r.unusual)"
                            " FROM TestReading r JOIN (SELECT id, model, plausibility_pct FROM TestResult").arg(band) +
                        where +
                        QStringLiteral(") t ON r.run_id = t.id WHERE r.value_sent IS NOT NULL"
                                       " GROUP BY t.model, r.point, r.value_sent, 4");
    if (!RunQuery(q, sql, binds, error)) return false;
    std::map<std::pair<QString, int>, ReadingSums> sums;
    while (q.next()) {
        const QString model = q.value(0).toString();
        const int number = q.value(1).toInt();
        const qint64 value = q.value(2).toLongLong();
        // Without a band asked for, each run's own; a run with the check off was held to none.
        const double band = share > 0 ? share : q.value(3).toDouble() / 100.0;
        const qint64 count = q.value(4).toLongLong();
        const CalPoint* point = PointNumbered(number);
        if (!point) continue;
        ReadingSums& s = sums[{model, number}];
        s.Add(value, count);
        s.unusual += q.value(5).toLongLong();
        if (OutsideBand(model, *point, value, band)) s.outside += count;
    }
    if (q.lastError().isValid()) return QueryFault(q, error);
    ToPointStats(sums, stats);
    return true;
}

bool ReadingStats(const QSqlDatabase& db, const RunFilter& filter, double share, std::vector<PointStats>* stats,
                  QString* error)
{
    // The record's sums hold the band each run was held to and no serial numbers; the unfinished
    // results never reach them.
    if (share <= 0 && filter.serial.isEmpty() && (filter.result.isEmpty() || SummaryHoldsResult(filter.result)))
        return SummedStats(db, filter, stats, error);
    return ScanReadingStats(db, filter, share, stats, error);
}
