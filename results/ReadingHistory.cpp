// How a point's readings on finished calibrations of one model usually lie, and whether a new
// reading lies far outside that: noticed during the run, marked in the record.
#include "ReadingHistory.h"

#include "CalPoints.h"
#include "IniFile.h"
#include "OPCPublic.h"
#include "ResultsQuery.h"
#include "RunWords.h"

#include <QLocale>
#include <QSqlError>
#include <QSqlQuery>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

// As the reading is written into the supply: halves to even.
std::int64_t Milli(double value) { return static_cast<std::int64_t>(std::nearbyint(value * 1000.0)); }

// Enough decimals to show the spread with at least one figure of its own, never fewer than two.
int Decimals(double sd)
{
    int decimals = 2;
    while (decimals < 6 && sd > 0.0 && sd < 0.5 * std::pow(10.0, -decimals)) ++decimals;
    return decimals;
}

}  // namespace

QualitySettings LoadQualitySettings(const QString& iniPath)
{
    const IniFile ini(iniPath);
    const QString section = QStringLiteral("Quality");
    QualitySettings s;
    const int history = ini.ReadInteger(section, QStringLiteral("History"), s.history);
    if (history >= ReadingHistory::MinimumRuns && history <= 100000) s.history = history;
    bool ok = false;
    const double sigma = ini.ReadString(section, QStringLiteral("OutlierSigma"), QString()).trimmed().toDouble(&ok);
    if (ok && sigma >= 0.0 && sigma <= 100.0) s.outlierSigma = sigma;
    return s;
}

ReadingHistory::ReadingHistory(const ResultsDb& record, QualitySettings settings)
    : record_(record), settings_(settings)
{
}

std::optional<PointHistory> ReadingHistory::Load(const QSqlDatabase& db, const QString& model, int point, int history)
{
    // Newest first along the model's index; only runs that finished wrote their readings to the supply.
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!RunQuery(q,
                  QStringLiteral("SELECT r.value_sent FROM TestResult t JOIN TestReading r ON r.run_id = t.id AND r.point = ?"
                                 " WHERE t.model = ? AND t.kind = 'calibration' AND t.result = ?"
                                 " ORDER BY t.started_ms DESC LIMIT ?"),
                  {point, model, ResultWord(RecordResult::Finished), history}, nullptr))
        return std::nullopt;
    std::vector<double> values;
    while (q.next()) values.push_back(q.value(0).toLongLong() / 1000.0);
    if (q.lastError().isValid() || values.size() < static_cast<std::size_t>(MinimumRuns)) return std::nullopt;
    PointHistory h;
    h.count = static_cast<int>(values.size());
    for (double v : values) h.mean += v;
    h.mean /= h.count;
    double squares = 0.0;
    for (double v : values) squares += (v - h.mean) * (v - h.mean);
    h.sd = std::sqrt(squares / (h.count - 1));
    return h;
}

bool ReadingHistory::IsUnusual(double value, const PointHistory& history, double sigma)
{
    if (sigma <= 0.0) return false;
    // Readings are taken to the thousandth: a history that never varied makes any other value unusual.
    const double spread = std::max(history.sd, 0.0005);
    return std::abs(value - history.mean) > sigma * spread;
}

QString ReadingHistory::Notice(int meterStep, std::uint8_t model, double value, const QString& shown)
{
    last_.reset();
    const CalPoint* point = PointOfMeterStep(meterStep);
    if (!point || settings_.outlierSigma <= 0.0 || !record_.isOpen()) return {};
    const QString name = ModelName(model);
    const std::optional<PointHistory> h = Load(record_.database(), name, point->number, settings_.history);
    if (!h) return {};
    const bool unusual = IsUnusual(value, *h, settings_.outlierSigma);
    last_ = Verdict{meterStep, model, Milli(value), unusual};
    if (!unusual) return {};
    const QString unit = point->quantity == Quantity::Current ? QStringLiteral("A") : QStringLiteral("V");
    const int decimals = Decimals(h->sd);
    const QLocale c = QLocale::c();
    return QStringLiteral("Unusual for a %1 at point %2: %3 %4; the last %5 read %6 \u00B1 %7 %4")
        .arg(name)
        .arg(point->number)
        .arg(shown, unit)
        .arg(h->count)
        .arg(c.toString(h->mean, 'f', decimals), c.toString(h->sd, 'f', decimals));
}

bool ReadingHistory::WasUnusual(int meterStep, std::uint8_t model, std::int64_t milliValue) const
{
    return last_ && last_->unusual && last_->meterStep == meterStep && last_->model == model && last_->milli == milliValue;
}
