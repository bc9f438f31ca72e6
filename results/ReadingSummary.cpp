// The readings of ended calibrations summed up per model, point, bench, result and day.
#include "ReadingSummary.h"

#include "CalPoints.h"
#include "ControlChartData.h"
#include "OPCPublic.h"
#include "ResultsStats.h"
#include "RunWords.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimeZone>
#include <QVariant>

#include <map>
#include <tuple>

namespace {

struct Key {
    QString model, bench, result, day;
    int point = 0;
    bool operator<(const Key& o) const
    {
        return std::tie(model, point, bench, result, day) < std::tie(o.model, o.point, o.bench, o.result, o.day);
    }
};

}  // namespace

bool SummaryHoldsResult(const QString& result)
{
    return result == ResultWord(RecordResult::Finished) || result == ResultWord(RecordResult::Failed) ||
           result == ResultWord(RecordResult::Aborted);
}

bool AddToReadingSummary(const QSqlDatabase& db, qint64 runId, QString* error)
{
    const bool server = db.driverName() == QLatin1String("QPSQL");
    // The day as the filters draw it: the local date of the run's start where the record is read.
    // One run's day is this bench's own; a server filling its sums from the rows there is told the
    // bench's time zone, and keeps its own where it knows no zone of that name.
    QString runDay;
    if (runId > 0) {
        QSqlQuery start(db);
        if (!start.prepare(QStringLiteral("SELECT started_ms FROM TestResult WHERE id = ?"))) return QueryFault(start, error);
        start.addBindValue(runId);
        if (!start.exec()) return QueryFault(start, error);
        if (!start.next()) return true;
        runDay = QDateTime::fromMSecsSinceEpoch(start.value(0).toLongLong()).date().toString(Qt::ISODate);
    }
    const QString day = runId > 0 ? QStringLiteral("CAST(? AS TEXT)")
                        : server  ? QStringLiteral("to_char(to_timestamp(t.started_ms / 1000.0) AT TIME ZONE COALESCE("
                                                   "(SELECT name FROM pg_timezone_names WHERE name = ?), current_setting('TimeZone')),"
                                                   " 'YYYY-MM-DD')")
                                  : QStringLiteral("date(t.started_ms / 1000, 'unixepoch', 'localtime')");
    QString sql = QStringLiteral("SELECT COALESCE(t.model, ''), r.point, COALESCE(t.bench, ''), t.result, %1,"
                                 " COALESCE(t.plausibility_pct, 0), r.value_sent, count(*), sum(r.unusual), r.typed"
                                 " FROM TestResult t JOIN TestReading r ON r.run_id = t.id"
                                 " WHERE t.kind = 'calibration' AND t.ended_ms IS NOT NULL AND t.result IN (?, ?, ?)"
                                 " AND r.value_sent IS NOT NULL")
                      .arg(day);
    if (runId > 0) sql += QStringLiteral(" AND t.id = ?");
    sql += QStringLiteral(" GROUP BY 1, 2, 3, 4, 5, 6, 7, 10");
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(sql)) return QueryFault(q, error);
    if (runId > 0)
        q.addBindValue(runDay);
    else if (server)
        q.addBindValue(QString::fromLatin1(QTimeZone::systemTimeZoneId()));
    for (RecordResult r : {RecordResult::Finished, RecordResult::Failed, RecordResult::Aborted})
        q.addBindValue(ResultWord(r));
    if (runId > 0) q.addBindValue(runId);
    if (!q.exec()) return QueryFault(q, error);
    // A model and point hold few distinct readings, so each is read and asked of the band each run
    // was held to once.
    std::map<Key, ReadingSums> sums;
    while (q.next()) {
        Key key{q.value(0).toString(), q.value(2).toString(), q.value(3).toString(), q.value(4).toString(),
                q.value(1).toInt()};
        const double percent = q.value(5).toDouble();
        const qint64 value = q.value(6).toLongLong();
        const qint64 count = q.value(7).toLongLong();
        const CalPoint* point = PointNumbered(key.point);
        if (!point) continue;
        const double taken = ReadingValue(q.value(9).toString(), value);
        ReadingSums& s = sums[key];
        s.Add(value, taken, SummedLevel(key.model, *point), count);
        s.unusual += q.value(8).toLongLong();
        // A run with the check off was held to no band: its readings are neither inside nor outside one.
        const BandCheck check = CheckBand(key.model, *point, taken, percent / 100.0);
        if (check != BandCheck::Unchecked) s.checked += count;
        if (check == BandCheck::Outside) s.outside += count;
    }
    if (q.lastError().isValid()) return QueryFault(q, error);
    q.finish();
    const QString lowest = server ? QStringLiteral("LEAST") : QStringLiteral("min");
    const QString highest = server ? QStringLiteral("GREATEST") : QStringLiteral("max");
    QSqlQuery add(db);
    if (!add.prepare(QStringLiteral("INSERT INTO ReadingSummary (model, point, bench, result, day, n, total, squares,"
                                    " lowest, highest, outside, unusual, checked, offsets, offset_squares, lowest_taken, highest_taken)"
                                    " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"
                                    " ON CONFLICT (model, point, bench, result, day) DO UPDATE SET"
                                    " n = ReadingSummary.n + excluded.n, total = ReadingSummary.total + excluded.total,"
                                    " squares = ReadingSummary.squares + excluded.squares,"
                                    " lowest = %1(ReadingSummary.lowest, excluded.lowest),"
                                    " highest = %2(ReadingSummary.highest, excluded.highest),"
                                    " outside = ReadingSummary.outside + excluded.outside,"
                                    " unusual = ReadingSummary.unusual + excluded.unusual,"
                                    " checked = ReadingSummary.checked + excluded.checked,"
                                    " offsets = ReadingSummary.offsets + excluded.offsets,"
                                    " offset_squares = ReadingSummary.offset_squares + excluded.offset_squares,"
                                    " lowest_taken = %1(ReadingSummary.lowest_taken, excluded.lowest_taken),"
                                    " highest_taken = %2(ReadingSummary.highest_taken, excluded.highest_taken)")
                         .arg(lowest, highest)))
        return QueryFault(add, error);
    for (const auto& [key, s] : sums) {
        for (const QVariant& v : {QVariant(key.model), QVariant(key.point), QVariant(key.bench), QVariant(key.result),
                                  QVariant(key.day), QVariant(s.n), QVariant(s.sum), QVariant(s.squares),
                                  QVariant(s.minimum), QVariant(s.maximum), QVariant(s.outside), QVariant(s.unusual),
                                  QVariant(s.checked), QVariant(s.offsets), QVariant(s.offsetSquares),
                                  QVariant(s.lowestTaken), QVariant(s.highestTaken)})
            add.addBindValue(v);
        if (!add.exec()) return QueryFault(add, error);
    }
    return true;
}
