// A control chart's data: one point's readings of a model's finished calibrations, the baseline's limits and a histogram.
#pragma once

#include "CalPoints.h"

#include <QDate>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>

#include <vector>

// What the centre line and the limits are computed from: the first runs of the model at the point,
// or the runs of a span of days (local time, both days included).
struct ChartBaseline {
    enum class Kind { FirstRuns, Days };
    Kind kind = Kind::FirstRuns;
    int runs = 30;
    QDate from, to;

    bool operator==(const ChartBaseline&) const = default;
};

struct ChartRequest {
    QString model;  // as the record names it: "7212B"
    int point = 1;  // 1..7
    QString bench;  // empty: every bench
    // Only the newest runs are drawn, so that a chart of a line's whole life stays quick.
    int lastRuns = 1000;
    ChartBaseline baseline;
    // The share the plausibility check allows around the level; 0: the check is off and no band is
    // drawn. The band the newest run recorded comes first; this is for runs that recorded none.
    double plausibilityShare = 0.0;
};

struct ChartSample {
    qint64 runId = 0;
    qint64 startedMs = 0;
    double value = 0.0;  // volts or amperes
    bool beyondLimits = false;
    double bandPct = -1.0;  // the plausibility band the run was held to, in percent; 0 off, -1 not recorded
};

// The centre line and the ±3σ limits, σ the sample standard deviation of the baseline. A σ of a
// handful of readings is a guess (two readings gave limits of -162 to +263 V for a 100 mV point),
// so limits are drawn only from MinBaselineRuns readings on; mean and σ are told from two on.
struct ControlLimits {
    static constexpr int MinBaselineRuns = 20;
    int count = 0;  // the baseline's readings
    double mean = 0.0, sigma = 0.0, lower = 0.0, upper = 0.0;
    bool computed() const { return count >= 2; }
    bool valid() const { return count >= MinBaselineRuns; }
};

struct HistogramBin {
    double from = 0.0, to = 0.0;
    int count = 0;
};

struct ControlChartData {
    ChartRequest request;
    Quantity quantity = Quantity::Voltage;
    double nominal = 0.0;  // 0 where the model has no level at the point
    PlausibleBand band;
    std::vector<ChartSample> samples;  // oldest first
    ControlLimits limits;
    int beyond = 0;  // samples beyond the limits
    std::vector<HistogramBin> bins;

    // "V" or "A".
    QString unit() const;
    // "7212B, point 4 (37.0V(7212B)), all benches": what the chart shows, for its title.
    QString title() const;
};

// The value a reading stands for in volts or amperes: as typed (or filled in by the meter), else
// the millivolts or milliamperes sent.
double ReadingValue(const QString& typed, qint64 valueSent);
ControlLimits ComputeLimits(const std::vector<double>& values);
// `count` bins of equal width from `from` to `to`; a value on the last edge counts in the last bin,
// values outside are left out.
std::vector<HistogramBin> Histogram(const std::vector<double>& values, double from, double to, int count);

// The printf format of a value axis's labels from `min` to `max` in `ticks` ticks: as few decimals
// as keep every label apart from its neighbours ("%.3f").
QString TickLabelFormat(double min, double max, int ticks);
// The step of the ticks of an axis of `runs` runs (or counts): a whole number, so that no two ticks
// carry the same label, and no more than `ticks` ticks, so that each can be read.
int RunTickInterval(int runs, int ticks = 10);

// The level of point `point` (1..7) for the model the record names, as the prompt names it
// ("37.0V(7212B)"); empty where there is none.
QString PointLevel(int point, const QString& model);

// The models and the benches the record names, sorted.
bool ChartModels(const QSqlDatabase& db, QStringList* models, QString* error);
// The model of the newest finished calibration, the one a chart is first wanted of; empty when
// there is none.
bool NewestChartModel(const QSqlDatabase& db, QString* model, QString* error);
bool ChartBenches(const QSqlDatabase& db, QStringList* benches, QString* error);

// Reads the series and its baseline and derives the rest; false with an error when the record
// cannot be read. An unknown point gives an error too; no runs give an empty chart.
bool LoadControlChart(const QSqlDatabase& db, const ChartRequest& request, ControlChartData* data, QString* error);

// The baseline the operator chose last, from section [Chart] of Config.Ini (Baseline = runs or
// days, BaselineRuns, BaselineFrom, BaselineTo); unusable values give the defaults.
ChartBaseline LoadChartBaseline(const QString& iniPath);
// Throws AppError when the file cannot be written.
void SaveChartBaseline(const ChartBaseline& baseline, const QString& iniPath);
