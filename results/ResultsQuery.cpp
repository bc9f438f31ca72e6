// Reading the results back: the list of runs with its filters, one run in full, CSV export.
#include "ResultsQuery.h"

#include "CalPoints.h"
#include "RunWords.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <algorithm>
#include <utility>

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

// Each point's reading as taken, the value written into the supply (mV or mA), whether the meter
// gave it or it was typed, and whether it was marked unusual; then what the run's certificate
// rests on. After the meter's columns, for the same reason.
QStringList PointColumns(bool asSelected)
{
    const std::pair<const char*, const char*> fields[] = {
        {"reading", "typed"}, {"written", "value_sent"}, {"source", "source"}, {"unusual", "unusual"}};
    QStringList columns;
    for (int point = 1; point <= CalPointCount; ++point) {
        for (const auto& [name, column] : fields) {
            const QString header = QStringLiteral("p%1_%2").arg(point).arg(QLatin1String(name));
            columns << (asSelected ? QStringLiteral("r%1.%2 AS %3").arg(point).arg(QLatin1String(column), header) : header);
        }
    }
    return columns;
}

const QStringList CertificateColumns{QStringLiteral("certificate_no"), QStringLiteral("meter_asset_id"),
                                     QStringLiteral("meter_calibration_due"), QStringLiteral("plausibility_pct")};

const QStringList ExportColumns = Columns + MeterColumns + PointColumns(false) + CertificateColumns;
const QStringList ExportSelected = Columns + MeterColumns + PointColumns(true) + CertificateColumns;

// Each point's row beside its run's, one look into the readings' key each.
QString PointJoins()
{
    QString joins;
    for (int point = 1; point <= CalPointCount; ++point)
        joins += QStringLiteral(" LEFT JOIN TestReading r%1 ON r%1.run_id = TestResult.id AND r%1.point = %1").arg(point);
    return joins;
}

// More runs than this named by the index are listed sooner by reading the newest runs until a
// page is full; fewer are fetched by the index and put in order.
constexpr int IndexedRunsAtMost = 5000;
// A text held by this many different pieces is in most serial numbers.
constexpr int PiecesAtMost = 400;

bool OnServer(const QSqlDatabase& db) { return db.driverName() == QLatin1String("QPSQL"); }

// A text as one phrase of the index's query language: its pieces in a row.
QString Phrase(QString text) { return QLatin1Char('"') + text.replace(QLatin1Char('"'), QLatin1String("\"\"")) + QLatin1Char('"'); }

// A LIKE pattern (ESCAPE '\\') of the text anywhere in a value, its own wildcards taken as they are.
QString Anywhere(const QString& text)
{
    QString pattern = text;
    pattern.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('%'), QLatin1String("\\%"))
        .replace(QLatin1Char('_'), QLatin1String("\\_"));
    return QLatin1Char('%') + pattern + QLatin1Char('%');
}

// The runs whose serial numbers hold the text.
QString SerialLike(const QString& text, QVariantList* binds)
{
    *binds << Anywhere(text) << Anywhere(text);
    return QStringLiteral("(serial_written LIKE ? ESCAPE '\\' OR serial_read LIKE ? ESCAPE '\\')");
}

// How many runs a count over `sql` (which ends in LIMIT ?) finds, up to one more than the index
// is worth; -1 when it cannot tell.
int CountNamed(const QSqlDatabase& db, const QString& sql, QVariantList binds)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    binds << IndexedRunsAtMost + 1;
    if (!RunQuery(q, QStringLiteral("SELECT count(*) FROM (") + sql + QStringLiteral(") named"), binds, nullptr) || !q.next()) return -1;
    return q.value(0).toInt();
}

// The file's index and the list of pieces fold letters by their own rules, the filter's LIKE only
// A to Z: a text of other letters is read the long way, where all agree.
bool IsAscii(const QString& text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

// The pieces that hold a text shorter than a piece, each as a phrase of the file's index query.
// `nothing` when no piece holds it; none listed either when the list cannot tell (a number longer
// than it goes).
QStringList PiecesHolding(const QSqlDatabase& db, const QString& text, bool* nothing)
{
    *nothing = false;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!RunQuery(q, QStringLiteral("SELECT piece FROM SerialPiece WHERE piece = '' OR piece LIKE ? ESCAPE '\\'"), {Anywhere(text.toLower())}, nullptr))
        return {};
    QStringList pieces;
    while (q.next()) {
        if (q.value(0).toString().isEmpty()) return {};
        pieces << Phrase(q.value(0).toString());
    }
    if (q.lastError().isValid()) return {};
    *nothing = pieces.isEmpty();
    return pieces;
}

// A column as the filter tests it and the list orders by it. The few runs the serial index names
// are taken as they are and put in order: the other columns' indexes, which would have the
// database read every run of a result or a span of days instead, are not to be used for them.
QString Column(const RunFilter& filter, const char* name)
{
    const QString column = QLatin1String(name);
    if (filter.serialLookup != SerialLookup::Index) return column;
    return column == QLatin1String("started_ms") ? QStringLiteral("(started_ms + 0)") : QStringLiteral("(%1 || '')").arg(column);
}

QString Started(const RunFilter& filter) { return Column(filter, "started_ms"); }

// The WHERE clause of a filter.
QString WhereClause(const RunFilter& filter, QVariantList* binds)
{
    QStringList terms;
    if (!filter.serial.isEmpty()) {
        if (filter.serialLookup == SerialLookup::Nothing) {
            terms << QStringLiteral("1 = 0");
        } else {
            if (!filter.serialMatch.isEmpty()) {
                terms << QStringLiteral("id IN (SELECT rowid FROM SerialSearch WHERE SerialSearch MATCH ?)");
                *binds << filter.serialMatch;
            }
            terms << SerialLike(filter.serial, binds);
        }
    }
    if (filter.from.isValid()) {
        terms << Started(filter) + QStringLiteral(" >= ?");
        *binds << QDateTime(filter.from, QTime(0, 0)).toMSecsSinceEpoch();
    }
    if (filter.to.isValid()) {
        terms << Started(filter) + QStringLiteral(" < ?");
        *binds << QDateTime(filter.to.addDays(1), QTime(0, 0)).toMSecsSinceEpoch();
    }
    if (!filter.result.isEmpty()) {
        terms << Column(filter, "result") + QStringLiteral(" = ?");
        *binds << filter.result;
    }
    if (!filter.bench.isEmpty()) {
        terms << Column(filter, "bench") + QStringLiteral(" = ?");
        *binds << filter.bench;
    }
    return terms.isEmpty() ? QString() : QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
}

QString OrderBy(const RunFilter& filter) { return QStringLiteral(" ORDER BY %1 DESC, id DESC").arg(Started(filter)); }

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

RunFilter PlanRunFilter(const QSqlDatabase& db, RunFilter filter)
{
    filter.serialLookup = SerialLookup::Scan;
    filter.serialMatch.clear();
    const QString& text = filter.serial;
    if (text.isEmpty() || !IsAscii(text)) return filter;
    const bool server = OnServer(db);
    QString match = Phrase(text);
    if (text.size() < 3) {
        bool nothing = false;
        const QStringList pieces = PiecesHolding(db, text, &nothing);
        if (nothing) filter.serialLookup = SerialLookup::Nothing;
        // A server's index of pieces cannot be asked for a list of them: such a text is read the
        // long way there, as in any number longer than the list goes.
        if (nothing || server || pieces.isEmpty() || pieces.size() > PiecesAtMost) return filter;
        match = pieces.join(QStringLiteral(" OR "));
    }
    QVariantList binds{match};
    QString named = QStringLiteral("SELECT rowid FROM SerialSearch WHERE SerialSearch MATCH ? LIMIT ?");
    if (server) {
        // The index of pieces may be missing on a server.
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("SELECT 1 FROM pg_indexes WHERE schemaname = current_schema() AND indexname = 'testresult_serial_written_trgm'")) ||
            !q.next())
            return filter;
        binds.clear();
        named = QStringLiteral("SELECT 1 FROM TestResult WHERE ") + SerialLike(text, &binds) + QStringLiteral(" LIMIT ?");
    }
    const int count = CountNamed(db, named, binds);
    if (count < 0 || count > IndexedRunsAtMost) return filter;
    filter.serialLookup = SerialLookup::Index;
    if (!server) filter.serialMatch = match;
    return filter;
}

QString RunListSql(const RunFilter& filter, QVariantList* binds, const RunKey* after, int limit)
{
    QString where = WhereClause(filter, binds);
    if (after) {
        where += where.isEmpty() ? QStringLiteral(" WHERE ") : QStringLiteral(" AND ");
        where += QStringLiteral("%1 <= ? AND (%1 < ? OR id < ?)").arg(Started(filter));
        *binds << after->startedMs << after->startedMs << after->id;
    }
    QString sql = QStringLiteral(
                      "SELECT id, replace(substr(started_at, 1, 19), 'T', ' ') AS date,"
                      " COALESCE(serial_written, serial_read, '') AS serial, model, operator, result,"
                      " CASE WHEN ended_ms IS NULL THEN NULL ELSE (ended_ms - started_ms) / 1000.0 END AS duration_s, kind,"
                      " started_ms FROM TestResult") +
                  where + OrderBy(filter);
    if (limit > 0) {
        sql += QStringLiteral(" LIMIT ?");
        *binds << limit;
    }
    return sql;
}

RunSummary RunSummaryOf(const QSqlQuery& q)
{
    RunSummary r;
    r.id = q.value(0).toLongLong();
    r.date = q.value(1).toString();
    r.serial = q.value(2).toString();
    r.model = q.value(3).toString();
    r.operatorName = q.value(4).toString();
    r.result = q.value(5).toString();
    r.durationS = q.value(6).isNull() ? -1.0 : q.value(6).toDouble();
    r.kind = q.value(7).toString();
    r.startedMs = q.value(8).toLongLong();
    return r;
}

bool ListRuns(const QSqlDatabase& db, const RunFilter& asked, std::vector<RunSummary>* runs, QString* error)
{
    const RunFilter filter = PlanRunFilter(db, asked);
    QVariantList binds;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!RunQuery(q, RunListSql(filter, &binds), binds, error)) return false;
    runs->clear();
    while (q.next()) runs->push_back(RunSummaryOf(q));
    return Finished(q, error);
}

bool LoadRun(const QSqlDatabase& db, qint64 id, RunDetails* run, QString* error)
{
    QSqlQuery q(db);
    if (!RunQuery(q, QStringLiteral("SELECT %1 FROM TestResult WHERE id = ?").arg(RunColumns().join(QStringLiteral(", "))), {id}, error))
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
    run->meterAccuracy = text("meter_accuracy");

    if (!RunQuery(q, QStringLiteral("SELECT %1 FROM TestReading WHERE run_id = ? ORDER BY point").arg(ReadingColumns().join(QStringLiteral(", "))),
             {id}, error))
        return false;
    while (q.next())
        run->readings.push_back({q.value(0).toInt(), q.value(1).toString(), q.value(2).toString(), q.value(3).toString(),
                                 q.value(4).toLongLong(), q.value(5).toString(), q.value(6).toInt() != 0,
                                 q.value(7).isNull() ? 0 : q.value(7).toInt(), q.value(8).toDouble(), q.value(9).toDouble()});
    if (!Finished(q, error)) return false;
    if (!RunQuery(q, QStringLiteral("SELECT step, state, sends, at FROM TestStep WHERE run_id = ? ORDER BY step"), {id}, error))
        return false;
    while (q.next())
        run->steps.push_back({q.value(0).toInt(), q.value(1).toString(), q.value(2).toInt(), q.value(3).toString()});
    return Finished(q, error);
}

QString CsvField(const QString& text)
{
    // A spreadsheet takes a cell that begins like this for a formula, which a meter's identity or
    // an operator's entry must never become; a number, a negative one among them, stays a number.
    bool number = false;
    text.toDouble(&number);
    const bool formula = !text.isEmpty() && !number && QStringLiteral("=+-@\t\r").contains(text[0]);
    if (!formula && !text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')) &&
        !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = formula ? QLatin1Char('\'') + text : text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

bool ExportCsv(const QSqlDatabase& db, const RunFilter& asked, QIODevice& out, QString* error, qint64* runs, ByteOrderMark mark)
{
    const RunFilter filter = PlanRunFilter(db, asked);
    QVariantList binds;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const QString sql = QStringLiteral("SELECT ") + ExportSelected.join(QStringLiteral(", ")) + QStringLiteral(" FROM TestResult") +
                        PointJoins() + WhereClause(filter, &binds) + OrderBy(filter);
    if (!RunQuery(q, sql, binds, error)) return false;
    auto line = [&out](const QStringList& fields) {
        QStringList quoted;
        for (const QString& f : fields) quoted << CsvField(f);
        const QByteArray bytes = (quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n")).toUtf8();
        return out.write(bytes) == bytes.size();
    };
    // Without the mark a spreadsheet takes the file for the desk's own code page and garbles ± and °.
    bool ok = mark == ByteOrderMark::Without || out.write("\xEF\xBB\xBF", 3) == 3;
    ok = ok && line(ExportColumns);
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
