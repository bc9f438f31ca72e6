// The readings of the record summed up per model and point: count, mean, spread, the share outside
// the plausibility band and the unusual ones.
#pragma once

#include "CalPoints.h"
#include "ResultsQuery.h"

#include <QSqlDatabase>
#include <QString>

#include <vector>

struct PointStats {
    QString model;    // as the record names it, "7212B"
    int point = 0;    // 1..7
    QString unit;     // "V" or "A"
    QString nominal;  // the level as the prompt names it; empty for a model without one
    qint64 n = 0;
    // In volts or amperes. The standard deviation is the sample's (n - 1); 0 below two readings.
    double mean = 0, standardDeviation = 0, minimum = 0, maximum = 0;
    qint64 outsideBand = 0;  // readings outside the plausibility band
    qint64 unusual = 0;      // readings the run marked unusual
    double outsideShare() const { return n > 0 ? static_cast<double>(outsideBand) / static_cast<double>(n) : 0.0; }
};

// The readings of the calibrations `filter` selects, by model and point in that order. A filter
// without a result takes finished runs only: an aborted run's readings were never all taken and a
// failed one's may be what made it fail. `share` is the half-width of the plausibility band as a
// share of the level (0.10 for 10 %); 0 holds each reading to the band its run was held to (none
// for a run with the check off). Without a band given and a serial number to look for, the answer
// comes from the sums the record keeps per day; otherwise from every reading.
bool ReadingStats(const QSqlDatabase& db, const RunFilter& filter, double share, std::vector<PointStats>* stats,
                  QString* error);
// Readings of one model and point in thousandths, summed in whole numbers so that no rounding piles
// up over a line's lifetime of them.
struct ReadingSums {
    qint64 n = 0, sum = 0, squares = 0, minimum = 0, maximum = 0, outside = 0, unusual = 0;
    // `count` readings of `value`; the outside and unusual ones are counted by the caller.
    void Add(qint64 value, qint64 count)
    {
        if (n == 0 || value < minimum) minimum = value;
        if (n == 0 || value > maximum) maximum = value;
        n += count;
        sum += count * value;
        squares += count * value * value;
    }
};

// Whether a reading in thousandths, of `model` at `point`, lies outside the band of `share` around
// the level; a band of 0 (the check off) holds every reading, and so does an unknown model.
bool OutsideBand(const QString& model, const CalPoint& point, qint64 milliValue, double share);
// The same answer read from every reading, whatever the filter.
bool ScanReadingStats(const QSqlDatabase& db, const RunFilter& filter, double share, std::vector<PointStats>* stats,
                      QString* error);
