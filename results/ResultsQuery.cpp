// Reading the results back: the list of runs with its filters, one run in full, CSV export.
#include "ResultsQuery.h"

#include "RunWords.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

const QStringList Results = ResultWords();

const QStringList Columns{
    QStringLiteral("id"),          QStringLiteral("kind"),           QStringLiteral("started_at"),
    QStringLiteral("ended_at"),    QStringLiteral("result"),         QStringLiteral("serial_read"),
    QStringLiteral("serial_written"), QStringLiteral("model"),       QStringLiteral("address"),
    QStringLiteral("port"),        QStringLiteral("baud"),           QStringLiteral("test_code"),
    QStringLiteral("date_written"), QStringLiteral("operator"),      QStringLiteral("temperature"),
    QStringLiteral("humidity"),    QStringLiteral("bench"),          QStringLiteral("program_version"),
    QStringLiteral("unit_counter_before"), QStringLiteral("unit_counter_after")};

// The meter that gave the readings, after the run's own columns so that older column positions hold.
const QStringList MeterColumns{QStringLiteral("meter_source"), QStringLiteral("meter_vendor"), QStringLiteral("meter_model"),
                               QStringLiteral("meter_version"), QStringLiteral("meter_serial"), QStringLiteral("meter_connection")};

const QStringList ExportColumns = Columns + MeterColumns;

// The WHERE clause of a filter; LIKE patterns escape their own wildcards.
QString WhereClause(const RunFilter& filter, QVariantList* binds)
{
    QStringList terms;
    if (!filter.serial.isEmpty()) {
        QString pattern = filter.serial;
        pattern.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
            .replace(QLatin1Char('%'), QLatin1String("\\%"))
            .replace(QLatin1Char('_'), QLatin1String("\\_"));
        pattern = QLatin1Char('%') + pattern + QLatin1Char('%');
        terms << QStringLiteral("(serial_written LIKE ? ESCAPE '\\' OR serial_read LIKE ? ESCAPE '\\')");
        *binds << pattern << pattern;
    }
    if (filter.from.isValid()) {
        terms << QStringLiteral("started_ms >= ?");
        *binds << QDateTime(filter.from, QTime(0, 0)).toMSecsSinceEpoch();
    }
    if (filter.to.isValid()) {
        terms << QStringLiteral("started_ms < ?");
        *binds << QDateTime(filter.to.addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
    }
    if (!filter.result.isEmpty()) {
        terms << QStringLiteral("result = ?");
        *binds << filter.result;
    }
    if (!filter.bench.isEmpty()) {
        terms << QStringLiteral("bench = ?");
        *binds << filter.bench;
    }
    return terms.isEmpty() ? QString() : QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
}

// A query that stops early because the file is damaged must not pass for one that was complete.
bool Finished(const QSqlQuery& q, QString* error) { return !q.lastError().isValid() || QueryFault(q, error); }

}  // namespace

bool QueryFault(const QSqlQuery& q, QString* error)
{
    if (error) *error = q.lastError().text();
    return false;
}

bool RunQuery(QSqlQuery& q, const QString& sql, const QVariantList& binds, QString* error)
{
    if (!q.prepare(sql)) return QueryFault(q, error);
    for (const QVariant& v : binds) q.addBindValue(v);
    return q.exec() || QueryFault(q, error);
}

const QStringList& RunResults() { return Results; }
const QStringList& CsvColumns() { return ExportColumns; }

QString RunFilterSql(const RunFilter& filter, QVariantList* binds) { return WhereClause(filter, binds); }

QString RunListSql(const RunFilter& filter, QVariantList* binds)
{
    return QStringLiteral(
               "SELECT id, replace(substr(started_at, 1, 19), 'T', ' ') AS date,"
               " COALESCE(serial_written, serial_read, '') AS serial, model, operator, result,"
               " CASE WHEN ended_ms IS NULL THEN NULL ELSE (ended_ms - started_ms) / 1000.0 END AS duration_s, kind"
               " FROM TestResult") +
           WhereClause(filter, binds) + QStringLiteral(" ORDER BY started_ms DESC, id DESC");
}

bool ListRuns(const QSqlDatabase& db, const RunFilter& filter, std::vector<RunSummary>* runs, QString* error)
{
    QVariantList binds;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!RunQuery(q, RunListSql(filter, &binds), binds, error)) return false;
    runs->clear();
    while (q.next()) {
        RunSummary r;
        r.id = q.value(0).toLongLong();
        r.date = q.value(1).toString();
        r.serial = q.value(2).toString();
        r.model = q.value(3).toString();
        r.operatorName = q.value(4).toString();
        r.result = q.value(5).toString();
        r.durationS = q.value(6).isNull() ? -1.0 : q.value(6).toDouble();
        r.kind = q.value(7).toString();
        runs->push_back(r);
    }
    return Finished(q, error);
}

bool LoadRun(const QSqlDatabase& db, qint64 id, RunDetails* run, QString* error)
{
    QSqlQuery q(db);
    if (!RunQuery(q, QStringLiteral("SELECT ") + Columns.join(QStringLiteral(", ")) + QStringLiteral(", event_log, ") +
                    MeterColumns.join(QStringLiteral(", ")) +
                    QStringLiteral(", meter_asset_id, meter_calibration_due, plausibility_pct, certificate_no FROM TestResult WHERE id = ?"),
             {id}, error))
        return false;
    if (!q.next()) {
        if (error) *error = QStringLiteral("there is no run %1").arg(id);
        return false;
    }
    const QSqlRecord r = q.record();
    auto text = [&](const char* name) { return q.value(r.indexOf(QLatin1String(name))).toString(); };
    *run = RunDetails{};
    run->id = id;
    run->kind = text("kind");
    run->startedAt = text("started_at");
    run->endedAt = text("ended_at");
    run->result = text("result");
    run->serialRead = text("serial_read");
    run->serialWritten = text("serial_written");
    run->model = text("model");
    run->address = text("address").toInt();
    run->port = text("port");
    run->baud = text("baud").toInt();
    run->testCode = text("test_code");
    run->dateWritten = text("date_written");
    run->operatorName = text("operator");
    run->temperature = text("temperature");
    run->humidity = text("humidity");
    run->bench = text("bench");
    run->programVersion = text("program_version");
    run->counterBefore = text("unit_counter_before").toLongLong();
    run->hasCounterAfter = !q.value(r.indexOf(QLatin1String("unit_counter_after"))).isNull();
    run->counterAfter = text("unit_counter_after").toLongLong();
    run->eventLog = text("event_log");
    run->meter = {text("meter_source"), text("meter_vendor"), text("meter_model"),
                  text("meter_version"), text("meter_serial"), text("meter_connection")};
    run->meterAssetId = text("meter_asset_id");
    run->meterCalibrationDue = text("meter_calibration_due");
    const QVariant pct = q.value(r.indexOf(QLatin1String("plausibility_pct")));
    run->plausibilityPct = pct.isNull() ? -1.0 : pct.toDouble();
    run->certificateNo = text("certificate_no");

    if (!RunQuery(q, QStringLiteral("SELECT point, quantity, nominal, typed, value_sent, source, unusual FROM TestReading WHERE run_id = ? ORDER BY point"),
             {id}, error))
        return false;
    while (q.next())
        run->readings.push_back({q.value(0).toInt(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
                                 q.value(4).toLongLong(), q.value(5).toString(), q.value(6).toInt() != 0});
    if (!Finished(q, error)) return false;
    if (!RunQuery(q, QStringLiteral("SELECT step, state, sends, at FROM TestStep WHERE run_id = ? ORDER BY step"), {id}, error))
        return false;
    while (q.next())
        run->steps.push_back({q.value(0).toInt(), q.value(1).toString(), q.value(2).toInt(), q.value(3).toString()});
    return Finished(q, error);
}

QString CsvField(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')) &&
        !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

bool ExportCsv(const QSqlDatabase& db, const RunFilter& filter, QIODevice& out, QString* error, qint64* runs)
{
    QVariantList binds;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const QString sql = QStringLiteral("SELECT ") + ExportColumns.join(QStringLiteral(", ")) + QStringLiteral(" FROM TestResult") +
                        WhereClause(filter, &binds) + QStringLiteral(" ORDER BY started_ms DESC, id DESC");
    if (!RunQuery(q, sql, binds, error)) return false;
    auto line = [&out](const QStringList& fields) {
        QStringList quoted;
        for (const QString& f : fields) quoted << CsvField(f);
        const QByteArray bytes = (quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n")).toUtf8();
        return out.write(bytes) == bytes.size();
    };
    bool ok = line(ExportColumns);
    if (runs) *runs = 0;
    while (ok && q.next()) {
        QStringList fields;
        for (int i = 0; i < ExportColumns.size(); ++i) fields << q.value(i).toString();
        ok = line(fields);
        if (ok && runs) ++*runs;
    }
    if (!ok) {
        if (error) *error = out.errorString();
        return false;
    }
    return Finished(q, error);
}
