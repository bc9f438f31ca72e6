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
    qint64 checked = 0;      // readings held to a band; the others had the check off or no level
    qint64 unchecked() const { return n - checked; }
    // Of the checked readings only: a reading nobody held to a band lay outside none.
    double outsideShare() const { return checked > 0 ? static_cast<double>(outsideBand) / static_cast<double>(checked) : 0.0; }
};

// The readings of the calibrations `filter` selects, by model and point in that order. A filter
// without a result takes finished runs only: an aborted run's readings were never all taken and a
// failed one's may be what made it fail. `share` is the half-width of the plausibility band as a
// share of the level (0.10 for 10 %); 0 holds each reading to the band its run was held to (none
// for a run with the check off: its readings are counted unchecked). The readings are taken as the
// control chart takes them (ReadingValue). Without a band given and a serial number to look for, the answer
// comes from the sums the record keeps per day; otherwise from every reading.
bool ReadingStats(const QSqlDatabase& db, const RunFilter& filter, double share, std::vector<PointStats>* stats,
                  QString* error);
// Readings of one model and point. The values written, in thousandths, are summed in whole numbers
// so that no rounding piles up over a line's lifetime of them. The readings as taken have the
// meter's own places, which no whole unit holds for every meter: they are summed as their offsets
// from the point's level, whose squares keep the spread's digits where the readings' own would
// bury them.
struct ReadingSums {
    qint64 n = 0, sum = 0, squares = 0, minimum = 0, maximum = 0, outside = 0, unusual = 0;
    qint64 checked = 0;  // held to a band
    double offsets = 0, offsetSquares = 0, lowestTaken = 0, highestTaken = 0;
    // `count` readings written as `sent` and taken as `taken`, of the point whose level is `level`;
    // the outside, unusual and checked ones are counted by the caller.
    void Add(qint64 sent, double taken, double level, qint64 count)
    {
        if (n == 0 || sent < minimum) minimum = sent;
        if (n == 0 || sent > maximum) maximum = sent;
        if (n == 0 || taken < lowestTaken) lowestTaken = taken;
        if (n == 0 || taken > highestTaken) highestTaken = taken;
        n += count;
        sum += count * sent;
        squares += count * sent * sent;
        const double offset = taken - level;
        offsets += static_cast<double>(count) * offset;
        offsetSquares += static_cast<double>(count) * offset * offset;
    }
};

// The level the readings of `model` at `point` are summed around; 0 where it has none.
double SummedLevel(const QString& model, const CalPoint& point);

// Where a reading of `model` at `point` lies against the band of `share` around the level. A band
// of 0 (the check off) or a model without a level there holds it to none.
enum class BandCheck { Unchecked, Inside, Outside };
BandCheck CheckBand(const QString& model, const CalPoint& point, double value, double share);

// The same answer read from every reading, whatever the filter.
bool ScanReadingStats(const QSqlDatabase& db, const RunFilter& filter, double share, std::vector<PointStats>* stats,
                      QString* error);
