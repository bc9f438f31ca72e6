// A control chart's data: one point's readings of a model's finished calibrations, the baseline's limits and a histogram.
#include "ControlChartData.h"

#include "IniFile.h"
#include "OPCPublic.h"
#include "ResultsQuery.h"
#include "RunWords.h"

#include <QDateTime>
#include <QLocale>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <cmath>

namespace {

const QString Section = QStringLiteral("Chart");

// The model's code in the point table; past the offered ones where the record names another model,
// which then has only the levels every model shares.
std::uint8_t ModelCode(const QString& name)
{
    const std::optional<std::uint8_t> code = ModelCodeOf(name);
    return code && *code < OfferedModelCount ? *code : static_cast<std::uint8_t>(OfferedModelCount);
}

// The readings of the model's finished calibrations at the point; `tail` adds the order, the span
// and the limit, with their values in `binds`.
bool ReadSeries(const QSqlDatabase& db, const ChartRequest& request, const QString& tail, QVariantList binds,
                std::vector<ChartSample>* samples, QString* error)
{
    QString sql = QStringLiteral(
        "SELECT r.id, r.started_ms, g.typed, g.value_sent, r.plausibility_pct FROM TestResult r"
        " JOIN TestReading g ON g.run_id = r.id AND g.point = ?"
        " WHERE r.model = ? AND r.result = ?");
    binds.prepend(ResultWord(RecordResult::Finished));
    binds.prepend(request.model);
    binds.prepend(request.point);
    if (!request.bench.isEmpty()) {
        sql += QStringLiteral(" AND r.bench = ?");
        binds.insert(3, request.bench);
    }
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!RunQuery(q, sql + tail, binds, error)) return false;
    samples->clear();
    while (q.next())
        samples->push_back({q.value(0).toLongLong(), q.value(1).toLongLong(),
                            ReadingValue(q.value(2).toString(), q.value(3).toLongLong()), false,
                            q.value(4).isNull() ? -1.0 : q.value(4).toDouble()});
    // A query cut short by a damaged file must not pass for a short history.
    return !q.lastError().isValid() || QueryFault(q, error);
}

// The distinct values of an indexed column, one look into the index each: a line's record of a
// million runs holds a handful of models and benches, and reading them must not take a scan.
bool ReadWords(const QSqlDatabase& db, const QString& column, QStringList* words, QString* error)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT %1 FROM TestResult WHERE %1 > ? ORDER BY %1 LIMIT 1").arg(column)))
        return QueryFault(q, error);
    words->clear();
    // Empty, not null: "> NULL" would match nothing.
    QString last = QStringLiteral("");
    for (;;) {
        q.bindValue(0, last);
        if (!q.exec()) return QueryFault(q, error);
        if (!q.next()) break;
        last = q.value(0).toString();
        *words << last;
    }
    return !q.lastError().isValid() || QueryFault(q, error);
}

qint64 DayStartMs(const QDate& day) { return QDateTime(day, QTime(0, 0)).toMSecsSinceEpoch(); }

}  // namespace

QString ControlChartData::unit() const { return quantity == Quantity::Current ? QStringLiteral("A") : QStringLiteral("V"); }

QString ControlChartData::title() const
{
    QString text = QStringLiteral("%1, point %2").arg(request.model, QString::number(request.point));
    const QString level = PointLevel(request.point, request.model);
    if (!level.isEmpty()) text += QStringLiteral(" (%1)").arg(level);
    return text + (request.bench.isEmpty() ? QStringLiteral(", all benches") : QStringLiteral(", bench ") + request.bench);
}

QString PointLevel(int point, const QString& model)
{
    const CalPoint* p = PointNumbered(point);
    return p ? NominalLevel(*p, ModelCode(model)) : QString();
}

double ReadingValue(const QString& typed, qint64 valueSent)
{
    bool ok = false;
    double value = QLocale::c().toDouble(typed.trimmed(), &ok);
    // The value dialog reads what is typed in the bench's own language.
    if (!ok) value = QLocale::system().toDouble(typed.trimmed(), &ok);
    return ok && std::isfinite(value) ? value : double(valueSent) / 1000.0;
}

ControlLimits ComputeLimits(const std::vector<double>& values)
{
    ControlLimits limits;
    limits.count = static_cast<int>(values.size());
    if (!limits.computed()) return limits;
    double sum = 0.0;
    for (double v : values) sum += v;
    limits.mean = sum / limits.count;
    // Around the mean, not from the sum of squares: readings of 37 V that differ in the fourth
    // decimal would lose their spread to rounding.
    double squares = 0.0;
    for (double v : values) squares += (v - limits.mean) * (v - limits.mean);
    limits.sigma = std::sqrt(squares / (limits.count - 1));
    limits.lower = limits.mean - 3.0 * limits.sigma;
    limits.upper = limits.mean + 3.0 * limits.sigma;
    return limits;
}

std::vector<HistogramBin> Histogram(const std::vector<double>& values, double from, double to, int count)
{
    std::vector<HistogramBin> bins;
    if (count < 1 || !(to > from)) return bins;
    const double width = (to - from) / count;
    for (int i = 0; i < count; ++i) bins.push_back({from + i * width, i + 1 == count ? to : from + (i + 1) * width, 0});
    for (double v : values) {
        if (v < from || v > to) continue;
        const int i = std::min(count - 1, static_cast<int>((v - from) / width));
        ++bins[static_cast<std::size_t>(i)].count;
    }
    return bins;
}

QString TickLabelFormat(double min, double max, int ticks)
{
    const double step = ticks > 1 ? (max - min) / (ticks - 1) : 0.0;
    if (!(step > 0.0) || !std::isfinite(step)) return QStringLiteral("%.3f");
    for (int places = std::clamp(static_cast<int>(std::floor(-std::log10(step))), 0, 12); places <= 12; ++places) {
        const QString format = QStringLiteral("%.%1f").arg(places);
        QString last;
        bool apart = true;
        for (int i = 0; i < ticks && apart; ++i) {
            const QString label = QString::asprintf(qPrintable(format), min + i * step);
            apart = label != last;
            last = label;
        }
        if (apart) return format;
    }
    return QStringLiteral("%.12g");
}

int RunTickInterval(int runs, int ticks)
{
    ticks = std::max(1, ticks);
    // 1, 2, 5, 10, 20, 50 ... runs.
    for (int interval = 1; interval < 100000000; interval *= 10)
        for (int factor : {1, 2, 5})
            if (runs <= interval * factor * ticks) return interval * factor;
    return std::max(1, runs / ticks);
}

bool ChartModels(const QSqlDatabase& db, QStringList* models, QString* error)
{
    return ReadWords(db, QStringLiteral("model"), models, error);
}

bool NewestChartModel(const QSqlDatabase& db, QString* model, QString* error)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    model->clear();
    if (!RunQuery(q, QStringLiteral("SELECT model FROM TestResult WHERE result = ? AND model IS NOT NULL ORDER BY started_ms DESC, id DESC LIMIT 1"),
                  {ResultWord(RecordResult::Finished)}, error))
        return false;
    if (q.next()) *model = q.value(0).toString();
    return !q.lastError().isValid() || QueryFault(q, error);
}

bool ChartBenches(const QSqlDatabase& db, QStringList* benches, QString* error)
{
    return ReadWords(db, QStringLiteral("bench"), benches, error);
}

bool LoadControlChart(const QSqlDatabase& db, const ChartRequest& request, ControlChartData* data, QString* error)
{
    const CalPoint* point = PointNumbered(request.point);
    if (!point) {
        if (error) *error = QStringLiteral("there is no point %1 (1 to %2)").arg(request.point).arg(CalPointCount);
        return false;
    }
    *data = ControlChartData{};
    data->request = request;
    data->quantity = point->quantity;
    const std::uint8_t model = ModelCode(request.model);
    data->nominal = NominalValue(*point, model);

    // The newest first, so that the limit keeps the newest; drawn oldest first.
    if (!ReadSeries(db, request, QStringLiteral(" ORDER BY r.started_ms DESC, r.id DESC LIMIT ?"),
                    {std::max(1, request.lastRuns)}, &data->samples, error))
        return false;
    std::reverse(data->samples.begin(), data->samples.end());
    // The band the runs were held to, as the newest recorded it; the bench's own for runs of old.
    const double share = !data->samples.empty() && data->samples.back().bandPct >= 0 ? data->samples.back().bandPct / 100.0
                                                                                      : request.plausibilityShare;
    if (share > 0.0) data->band = PlausibleBandOf(*point, model, share);

    std::vector<ChartSample> baseline;
    const ChartBaseline& b = request.baseline;
    const bool ok = b.kind == ChartBaseline::Kind::FirstRuns
                        ? ReadSeries(db, request, QStringLiteral(" ORDER BY r.started_ms, r.id LIMIT ?"),
                                     {std::max(2, b.runs)}, &baseline, error)
                        : ReadSeries(db, request, QStringLiteral(" AND r.started_ms >= ? AND r.started_ms < ?"),
                                     {DayStartMs(b.from), DayStartMs(b.to.addDays(1))}, &baseline, error);
    if (!ok) return false;
    std::vector<double> values;
    for (const ChartSample& s : baseline) values.push_back(s.value);
    data->limits = ComputeLimits(values);

    values.clear();
    double low = data->samples.empty() ? data->nominal : data->samples.front().value;
    double high = low;
    for (ChartSample& s : data->samples) {
        s.beyondLimits = data->limits.valid() && (s.value < data->limits.lower || s.value > data->limits.upper);
        data->beyond += s.beyondLimits ? 1 : 0;
        values.push_back(s.value);
        low = std::min(low, s.value);
        high = std::max(high, s.value);
    }
    // The histogram spans the readings, the limits and the level, so that each can be drawn on it.
    if (data->limits.valid()) {
        low = std::min(low, data->limits.lower);
        high = std::max(high, data->limits.upper);
    }
    if (data->nominal != 0.0 && !data->samples.empty()) {
        low = std::min(low, data->nominal);
        high = std::max(high, data->nominal);
    }
    if (!(high > low)) {
        const double pad = std::max(std::fabs(low) * 1e-3, 1e-6);
        low -= pad;
        high += pad;
    }
    // Sturges' rule, within what stays readable beside the chart.
    const int count = std::clamp(static_cast<int>(std::ceil(std::log2(std::max<std::size_t>(values.size(), 1)))) + 1, 5, 30);
    data->bins = Histogram(values, low, high, count);
    return true;
}

ChartBaseline LoadChartBaseline(const QString& iniPath)
{
    const IniFile ini(iniPath);
    ChartBaseline b;
    const QString from = ini.ReadString(Section, QStringLiteral("BaselineFrom"), QString());
    const QString to = ini.ReadString(Section, QStringLiteral("BaselineTo"), QString());
    b.from = QDate::fromString(from.trimmed(), Qt::ISODate);
    b.to = QDate::fromString(to.trimmed(), Qt::ISODate);
    const bool days = ini.ReadString(Section, QStringLiteral("Baseline"), QString()).trimmed().compare(QLatin1String("days"), Qt::CaseInsensitive) == 0;
    if (days && b.from.isValid() && b.to.isValid() && b.from <= b.to) b.kind = ChartBaseline::Kind::Days;
    const int runs = ini.ReadInteger(Section, QStringLiteral("BaselineRuns"), b.runs);
    if (runs >= 2 && runs <= 100000) b.runs = runs;
    return b;
}

void SaveChartBaseline(const ChartBaseline& baseline, const QString& iniPath)
{
    IniFile ini(iniPath);
    ini.WriteString(Section, QStringLiteral("Baseline"),
                    baseline.kind == ChartBaseline::Kind::Days ? QStringLiteral("days") : QStringLiteral("runs"));
    ini.WriteInteger(Section, QStringLiteral("BaselineRuns"), baseline.runs);
    ini.WriteString(Section, QStringLiteral("BaselineFrom"), baseline.from.toString(Qt::ISODate));
    ini.WriteString(Section, QStringLiteral("BaselineTo"), baseline.to.toString(Qt::ISODate));
}
