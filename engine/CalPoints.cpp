// The seven calibration points of a run and what is derived from them.
#include "CalPoints.h"

#include "OPCPublic.h"

#include <cmath>

namespace {

// The voltage prompts differ only in their number words and levels, yet each is what the bench
// has always read, blanks included: they are kept whole rather than assembled.
const std::array<CalPoint, CalPointCount> Points{{
    {1, Quantity::Voltage, 4, 5, 6, WiringPicture::Millivolts, 4, "Calibrate the 1st voltage point",
     "100mV", 0.1,
     "1.Calibrate the 1st VOLTAGE point. The output VOLTAGE is about %1. Please select proper VOLTAGE range of "
     "the multimeter, then connect the two probes to the output terminals of the power supply."},
    {2, Quantity::Voltage, 7, 8, 9, WiringPicture::Volts, 5, "Calibrate the 2nd voltage point",
     "3.999V", 3.999,
     "2.Calibrate the 2nd VOLTAGE point. The output VOLTAGE is about %1. Please select proper VOLTAGE range of "
     "the multimeter, then connect the two probes to the output terminals of the power supply. "},
    {3, Quantity::Voltage, 10, 11, 12, WiringPicture::Volts, 6, "Calibrate the 3rd voltage point",
     "4.00V", 4.0,
     "3.Calibrate the 3rd VOLTAGE point. The output VOLTAGE is about %1. Please select proper VOLTAGE range of "
     "the multimeter, then connect the two probes to the output terminals of the power supply."},
    {4, Quantity::Voltage, 13, 14, 15, WiringPicture::Volts, 7, "Calibrate the 4th voltage point",
     nullptr, 0,
     "4.Calibrate the 4th VOLTAGE point. The output VOLTAGE is about %1 . Please select proper VOLTAGE range of "
     "the multimeter, then connect the two probes to the output terminals of the power supply. "},
    {5, Quantity::Voltage, 16, 17, 18, WiringPicture::Volts, 8, "Calibrate the 5th voltage point",
     nullptr, 0,
     "5.Calibrate the 5th VOLTAGE point. The output VOLTAGE is about %1 . Please select proper VOLTAGE range of "
     "the multimeter, then connect the two probes to the output terminals of the power supply. "},
    {6, Quantity::Current, 19, 20, 21, WiringPicture::Milliamperes, 9, "Calibrate the 1st current point",
     "100mA", 0.1,
     "6.Calibrate the 1st CURRENT point. The output CURRENT is about %1. Please select proper CURRENT range of "
     "the multimeter, then connect the two probes to the output terminals of the power supply."},
    {7, Quantity::Current, 22, 23, 24, WiringPicture::Amperes, 10, "Calibrate the 2st current point",
     nullptr, 0,
     "7.Calibrate the 2nd CURRENT point. The output CURRENT is about %1 . Please select proper CURRENT range of "
     "the multimeter, then connect the two probes to the output terminals of the power supply"},
}};

}  // namespace

const std::array<CalPoint, CalPointCount>& CalPoints() { return Points; }

const CalPoint* PointAtStep(int step)
{
    for (const CalPoint& p : Points)
        if (step >= p.selectStep && step <= p.valueStep) return &p;
    return nullptr;
}

const CalPoint* PointOfMeterStep(int meterStep)
{
    const CalPoint* p = PointAtStep(meterStep);
    return p && p->meterStep == meterStep ? p : nullptr;
}

const CalPoint* PointNumbered(int number)
{
    for (const CalPoint& p : CalPoints())
        if (p.number == number) return &p;
    return nullptr;
}

QString NominalLevel(const CalPoint& point, std::uint8_t model)
{
    if (point.level) return QString::fromLatin1(point.level);
    // A model's own level is named with the model, "37.0V(7212B)", as the bench has always read it.
    const double value = NominalValue(point, model);
    if (value == 0.0) return QString();
    return QStringLiteral("%1%2(%3)")
        .arg(value, 0, 'f', 1)
        .arg(point.quantity == Quantity::Current ? QLatin1Char('A') : QLatin1Char('V'))
        .arg(QLatin1String(ModelFactsOf(model)->name));
}

QString BareLevel(const CalPoint& point, std::uint8_t model)
{
    return NominalLevel(point, model).section(QLatin1Char('('), 0, 0).trimmed();
}

double NominalValue(const CalPoint& point, std::uint8_t model)
{
    if (point.level) return point.levelValue;
    if (model >= OfferedModelCount) return 0.0;
    return ModelFactsOf(model)->levels[static_cast<std::size_t>(point.number - 1)];
}

QString PromptText(const CalPoint& point, std::uint8_t model)
{
    return QString::fromLatin1(point.prompt).arg(NominalLevel(point, model));
}

int CalPointOfMeterStep(int meterStep)
{
    const CalPoint* p = PointOfMeterStep(meterStep);
    return p ? p->number : 0;
}

bool IsCurrentPoint(int meterStep)
{
    const CalPoint* p = PointOfMeterStep(meterStep);
    return p && p->quantity == Quantity::Current;
}

QString NominalLevel(int meterStep, std::uint8_t model)
{
    const CalPoint* p = PointOfMeterStep(meterStep);
    return p ? NominalLevel(*p, model) : QString();
}

double NominalValue(int meterStep, std::uint8_t model)
{
    const CalPoint* p = PointOfMeterStep(meterStep);
    return p ? NominalValue(*p, model) : 0.0;
}

PlausibleBand PlausibleBandOf(const CalPoint& point, std::uint8_t model, double share)
{
    const double nominal = NominalValue(point, model);
    if (nominal == 0.0) return {};
    // A hair of slack, so that a reading exactly at the edge is not lost to rounding.
    const double reach = share * std::fabs(nominal) * (1.0 + 1e-9);
    return {true, nominal - reach, nominal + reach};
}

bool IsPlausibleReading(double value, int meterStep, std::uint8_t model, double share)
{
    const CalPoint* p = PointOfMeterStep(meterStep);
    if (!p) return true;
    const PlausibleBand band = PlausibleBandOf(*p, model, share);
    if (!band.bounded) return true;
    if ((value < 0) != (NominalValue(*p, model) < 0)) return false;
    return value >= band.low && value <= band.high;
}
