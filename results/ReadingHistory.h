// How a point's readings on finished calibrations of one model usually lie, and whether a new
// reading lies far outside that: noticed during the run, marked in the record.
#pragma once

#include "ResultsDb.h"

#include <QString>

#include <cstdint>
#include <optional>

struct QualitySettings {
    int history = 200;          // the last runs of the model a reading is compared with
    double outlierSigma = 4.0;  // standard deviations from their mean; 0: no comparison
};
// [Quality] of Config.Ini; a value out of range keeps its default.
QualitySettings LoadQualitySettings(const QString& iniPath);

// The last readings of one point on finished calibrations of one model.
struct PointHistory {
    int count = 0;
    double mean = 0.0;
    double sd = 0.0;  // sample standard deviation
};

class ReadingHistory {
public:
    // Fewer earlier runs than this say too little about a model to call a reading unusual.
    static constexpr int MinimumRuns = 30;

    // Reads `record`'s database, which may be closed or unreadable: then nothing is unusual.
    ReadingHistory(const ResultsDb& record, QualitySettings settings);
    void setSettings(QualitySettings settings) { settings_ = settings; }

    // The notice for a reading in volts or amperes at a meter step, shown as `shown`; empty when
    // it is usual, when the history is too short or cannot be read, or when the check is off.
    QString Notice(int meterStep, std::uint8_t model, double value, const QString& shown);
    // Whether that reading was unusual, as the last Notice() of the same point and value found;
    // the record asks so when the reading is taken.
    bool WasUnusual(int meterStep, std::uint8_t model, std::int64_t milliValue) const;

    // The history of a point, none while it holds fewer than MinimumRuns readings.
    static std::optional<PointHistory> Load(const QSqlDatabase& db, const QString& model, int point, int history);
    static bool IsUnusual(double value, const PointHistory& history, double sigma);

private:
    const ResultsDb& record_;
    QualitySettings settings_;
    struct Verdict {
        int meterStep = 0;
        std::uint8_t model = 0;
        std::int64_t milli = 0;
        bool unusual = false;
    };
    std::optional<Verdict> last_;
};
