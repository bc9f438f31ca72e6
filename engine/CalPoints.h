// The seven calibration points of a run: the one table that everything needing a point reads.
#pragma once

#include <QString>

#include <array>
#include <cstdint>

enum class Quantity { Voltage, Current };

// The four wiring pictures of the information window.
enum class WiringPicture { Millivolts = 1, Volts = 2, Milliamperes = 3, Amperes = 4 };

constexpr int CalPointCount = 7;
// The models the settings offer, by their codes 0..2.
constexpr int OfferedModelCount = 3;

struct CalPoint {
    int number;          // 1..7
    Quantity quantity;
    int selectStep;      // makes the supply output the point's level
    int meterStep;       // the operator reads the meter
    int valueStep;       // writes the reading into the supply
    WiringPicture picture;
    int gridRow;         // the row of the step grid that shows the value step
    const char* gridText;
    // The level as the prompt names it and in volts or amperes, where it is every model's; null
    // where each model has its own (the model table holds it).
    const char* level;
    double levelValue;
    // The prompt; %1 is the level.
    const char* prompt;
};

const std::array<CalPoint, CalPointCount>& CalPoints();

// The point whose select, meter or value step `step` is; null for any other step.
const CalPoint* PointAtStep(int step);
// The point whose meter step `meterStep` is; null for any other step.
const CalPoint* PointOfMeterStep(int meterStep);
// The point of number 1..7, as the record keeps it; null for any other number.
const CalPoint* PointNumbered(int number);

// The level the supply outputs at a point for `model`, as the prompt names it ("100mV",
// "37.0V(7212B)"); empty where the model has none.
QString NominalLevel(const CalPoint& point, std::uint8_t model);
// The same level without the model it is told apart by ("37.0V"), as it is shown beside the model.
QString BareLevel(const CalPoint& point, std::uint8_t model);
// The same level as a number in volts or amperes; 0 where there is none.
double NominalValue(const CalPoint& point, std::uint8_t model);
// The operator's prompt at the point for `model`.
QString PromptText(const CalPoint& point, std::uint8_t model);

// By meter step, for the parts that know only the step: the point's number 1..7 (0 for any other
// step), whether it reads a current, and its level as above.
int CalPointOfMeterStep(int meterStep);
bool IsCurrentPoint(int meterStep);
QString NominalLevel(int meterStep, std::uint8_t model);
double NominalValue(int meterStep, std::uint8_t model);
// The readings in volts or amperes that can be the level of a point: at most `share` (0.10 for
// 10 %) of the level away from it. Unbounded where the model has no level at the point.
struct PlausibleBand {
    bool bounded = false;
    double low = 0.0, high = 0.0;
};
PlausibleBand PlausibleBandOf(const CalPoint& point, std::uint8_t model, double share);
// Whether a reading in volts or amperes can be the level of its point: of the level's sign and
// within its band. A step without a level takes any value.
bool IsPlausibleReading(double value, int meterStep, std::uint8_t model, double share);
