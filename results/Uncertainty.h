// The expanded uncertainty of a reading, from the meter's datasheet accuracy, the reading's last
// digit and the spread of the readings taken at its point.
#pragma once

#include <QString>

#include <optional>
#include <vector>

// One line of a meter's datasheet: ±(share of the reading + a floor) on a function's range. The
// floor is given either in counts of the reading's last digit or in volts or amperes.
struct AccuracyTerm {
    bool current = false;     // DCA; else DCV
    double fullScale = 0.0;   // the range's full scale in V or A; 0: every range of the function
    double readingPct = 0.0;  // percent of the reading
    double counts = 0.0;      // counts of the last digit
    double floor = 0.0;       // V or A
};

struct MeterAccuracy {
    std::vector<AccuracyTerm> terms;
    // The term for a reading of `value`: of the ranges given that hold it, the smallest; else the
    // function's term without a range; null when the datasheet entry has none.
    const AccuracyTerm* TermFor(bool current, double value) const;
};

// "DCV=0.025%+2; DCA=0.15%+2", "DCV:0.2=0.05%+3; DCV=0.025%+2", "DCA:2A=0.2%+0.5mA": entries split
// by ';', a function (DCV, DCA) with an optional range, then percent of reading and a floor in
// counts or in a unit (V, mV, uV, A, mA, uA). Null with `problem` said when the text is not that.
std::optional<MeterAccuracy> ParseAccuracy(const QString& text, QString* problem = nullptr);

// What is known of a reading besides its value.
struct ReadingEvidence {
    double value = 0.0;       // V or A
    int reads = 1;            // readings the meter gave at the point (1 when typed)
    double deviation = 0.0;   // their experimental standard deviation; used from two readings on
    double resolution = 0.0;  // the step of the reading's last digit; 0: not known
};

// A GUM budget: the datasheet's limit (rectangular, limit / √3), the last digit (rectangular over
// half a digit, resolution / 2√3) and the readings' standard deviation, combined in quadrature
// and expanded with k = 2.
struct UncertaintyBudget {
    bool evaluated = false;
    QString why;               // when not: what is missing, for the page
    double accuracyLimit = 0;  // the datasheet's half-width at the reading
    double expanded = 0;       // U
};

UncertaintyBudget EvaluateUncertainty(const MeterAccuracy& accuracy, bool current, const ReadingEvidence& reading);

// U in milli-units to two significant digits, "±0.27 mV".
QString ExpandedText(double expanded, bool current);
