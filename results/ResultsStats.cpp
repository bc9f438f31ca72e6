// The readings of the record summed up per model and point.
#include "ResultsStats.h"

#include "CalPoints.h"
#include "ControlChartData.h"
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
        const double n = static_cast<double>(s.n);
        p.mean = SummedLevel(key.first, point) + s.offsets / n;
        if (s.n > 1) p.standardDeviation = std::sqrt(std::max(0.0, s.offsetSquares - s.offsets * s.offsets / n) / (n - 1.0));
        p.minimum = s.lowestTaken;
        p.maximum = s.highestTaken;
        p.outsideBand = s.outside;
        p.unusual = s.unusual;
        p.checked = s.checked;
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
                  QStringLiteral("SELECT model, point, sum(n), sum(offsets), sum(offset_squares), min(lowest_taken),"
                                 " max(highest_taken), sum(outside), sum(unusual), sum(checked) FROM ReadingSummary WHERE ") +
                      terms.join(QStringLiteral(" AND ")) + QStringLiteral(" GROUP BY model, point"),
                  binds, error))
        return false;
    std::map<std::pair<QString, int>, ReadingSums> sums;
    while (q.next()) {
        ReadingSums& s = sums[{q.value(0).toString(), q.value(1).toInt()}];
        s.n = q.value(2).toLongLong();
        s.offsets = q.value(3).toDouble();
        s.offsetSquares = q.value(4).toDouble();
        s.lowestTaken = q.value(5).toDouble();
        s.highestTaken = q.value(6).toDouble();
        s.outside = q.value(7).toLongLong();
        s.unusual = q.value(8).toLongLong();
        s.checked = q.value(9).toLongLong();
    }
    if (q.lastError().isValid()) return QueryFault(q, error);
    ToPointStats(sums, stats);
    return true;
}

}  // namespace

double SummedLevel(const QString& model, const CalPoint& point)
{
    const std::optional<std::uint8_t> code = ModelCodeOf(model);
    return code ? NominalValue(point, *code) : 0.0;
}

BandCheck CheckBand(const QString& model, const CalPoint& point, double value, double share)
{
    const std::optional<std::uint8_t> code = ModelCodeOf(model);
    if (!(share > 0) || !code || !PlausibleBandOf(point, *code, share).bounded) return BandCheck::Unchecked;
    return IsPlausibleReading(value, point.meterStep, *code, share) ? BandCheck::Inside : BandCheck::Outside;
}

bool ScanReadingStats(const QSqlDatabase& db, const RunFilter& filter, double share, std::vector<PointStats>* stats,
                      QString* error)
{
    QVariantList binds;
    const QString where = CalibrationsSql(PlanRunFilter(db, filter), &binds);
    // A model and point hold few distinct readings, so each is read and asked of the band once.
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // The runs' own bands split the groups only where they are asked for.
    const QString band = share > 0 ? QStringLiteral("0") : QStringLiteral("COALESCE(t.plausibility_pct, 0)");
    const QString sql = QStringLiteral(
                            "SELECT t.model, r.point, r.value_sent, %1, count(*), sum(r.unusual), r.typed"
                            " FROM TestReading r JOIN (SELECT id, model, plausibility_pct FROM TestResult").arg(band) +
                        where +
                        QStringLiteral(") t ON r.run_id = t.id WHERE r.value_sent IS NOT NULL"
                                       " GROUP BY t.model, r.point, r.value_sent, 4, r.typed");
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
        const double taken = ReadingValue(q.value(6).toString(), value);
        ReadingSums& s = sums[{model, number}];
        s.Add(value, taken, SummedLevel(model, *point), count);
        s.unusual += q.value(5).toLongLong();
        const BandCheck check = CheckBand(model, *point, taken, band);
        if (check != BandCheck::Unchecked) s.checked += count;
        if (check == BandCheck::Outside) s.outside += count;
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
