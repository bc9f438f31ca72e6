// Builds the 29 steps of a calibration run and rebuilds the serial-number and testing-info steps.
#include "CalList.h"

#include <cmath>

#include "RunState.h"

namespace {

constexpr int SerialStepIndex = 24;       // step 25
constexpr int TestingInfoStepIndex = 25;  // step 26
constexpr int VoltagePoints = 5;
constexpr int CurrentPoints = 2;

const QString MeterQuery = QStringLiteral("Meas:Volt:DC?\n");

TEvent SentStep(const TRunState& state, std::uint8_t command, const QString& description)
{
    TEvent e;
    e.MeterStep = false;
    e.Frame = MakeFrame(state.FAddress, command);
    e.Description = description;
    return e;
}

TEvent MeterStep(const QString& description)
{
    TEvent e;
    e.MeterStep = true;
    e.MeterCommand = MeterQuery;
    e.Description = description;
    return e;
}

TEvent ControlStateStep(const TRunState& state, std::uint8_t value, const QString& description)
{
    TEvent e = SentStep(state, Cmd::ControlState, description);
    e.Frame.data(0) = value;
    SealFrame(e.Frame);
    return e;
}

TEvent CalibrationModeStep(const TRunState& state, bool enter, const QString& description)
{
    TEvent e = SentStep(state, Cmd::CalibrationMode, description);
    PutCalibrationMode(e.Frame, enter);
    SealFrame(e.Frame);
    return e;
}

TEvent PointStep(const TRunState& state, std::uint8_t command, int point, const QString& format)
{
    TEvent e = SentStep(state, command, format.arg(point));
    e.Frame.data(0) = static_cast<std::uint8_t>(point);
    SealFrame(e.Frame);
    return e;
}

TEvent VoltageValueStep(const TRunState& state, int point)
{
    TEvent e = SentStep(state, Cmd::VoltageValue, QStringLiteral("Setting point %1 value for PS").arg(point));
    PutVoltageMv(e.Frame, state.FVoltageMv);
    SealFrame(e.Frame);
    return e;
}

TEvent CurrentValueStep(const TRunState& state, int point)
{
    TEvent e = SentStep(state, Cmd::CurrentValue, QStringLiteral("Setting point %1 value for PS").arg(point));
    PutCurrentMa(e.Frame, state.FCurrentMa);
    SealFrame(e.Frame);
    return e;
}

// An unwritable number leaves the serial field zero: a supply must never receive a serial
// number other than the one meant for it, so the engine refuses to send such a step.
TEvent SerialStep(const TRunState& state, bool* writable)
{
    TEvent e = SentStep(state, Cmd::SerialAndModel, QStringLiteral("Setting serial No."));
    const std::int64_t serial = SerialForStep25(state);
    *writable = IsWritableSerial(serial) &&
                EncodeSerialAndModel(state.FModel, static_cast<std::uint32_t>(serial), e.Frame);
    SealFrame(e.Frame);
    return e;
}

TEvent TestingInfoStep(const TRunState& state, const QDate& today, const QString& description)
{
    TEvent e = SentStep(state, Cmd::TestingInfo, description);
    e.Frame.data(0) = static_cast<std::uint8_t>((state.FTestCode >> 16) & 0xFF);
    e.Frame.data(1) = static_cast<std::uint8_t>((state.FTestCode >> 8) & 0xFF);
    e.Frame.data(2) = static_cast<std::uint8_t>(state.FTestCode & 0xFF);
    e.Frame.data(3) = static_cast<std::uint8_t>(today.year() % 100);
    e.Frame.data(4) = static_cast<std::uint8_t>(today.month());
    e.Frame.data(5) = static_cast<std::uint8_t>(today.day());
    SealFrame(e.Frame);
    return e;
}

bool ListIsBuilt(const TRunState& state) { return state.FCalList.size() == CalStepCount; }

}  // namespace

std::uint32_t TestCodeForModel(std::uint8_t model)
{
    switch (model) {
    case 1: return 0x020102;
    case 2: return 0x020103;
    default: return 0x020101;
    }
}

void BuildCalList(TRunState& state, const QDate& today)
{
    TEventQueue list;
    list.reserve(CalStepCount);

    list.push_back(ControlStateStep(state, 3, QStringLiteral("Control PS control state")));
    list.push_back(CalibrationModeStep(state, true, QStringLiteral("Control PS enabled state")));
    list.push_back(SentStep(state, Cmd::ReadSerial, QStringLiteral("Read serial No.")));

    for (int point = 1; point <= VoltagePoints; ++point) {
        list.push_back(PointStep(state, Cmd::SelectVoltagePoint, point,
                                 QStringLiteral("Calibrating for point %1 voltage ")));
        list.push_back(MeterStep(QStringLiteral("Read value for meter ")));
        list.push_back(VoltageValueStep(state, point));
    }
    for (int point = 1; point <= CurrentPoints; ++point) {
        list.push_back(PointStep(state, Cmd::SelectCurrentPoint, point,
                                 QStringLiteral("Calibrating for point %1 current ")));
        list.push_back(MeterStep(QStringLiteral("Read value from meter ")));
        list.push_back(CurrentValueStep(state, point));
    }

    bool writable = false;
    list.push_back(SerialStep(state, &writable));
    list.push_back(TestingInfoStep(state, today, QStringLiteral("Setting testing info ")));
    list.push_back(CalibrationModeStep(state, false, QStringLiteral("Control PS enaled state")));
    list.push_back(ControlStateStep(state, 2, QStringLiteral("Control PS state")));
    list.push_back(ControlStateStep(state, 0, QStringLiteral("Shurt down output ")));

    state.FCalList = std::move(list);
}

void BuildTestingInfoStep(TRunState& state, const QDate& today)
{
    // Rebuilding one step of a list that was never built would index past its end.
    if (!ListIsBuilt(state)) return;
    state.FCalList[TestingInfoStepIndex] =
        TestingInfoStep(state, today, QStringLiteral("Setting testing info"));
}

bool BuildSerialStep(TRunState& state)
{
    if (!ListIsBuilt(state)) return false;
    bool writable = false;
    state.FCalList[SerialStepIndex] = SerialStep(state, &writable);
    return writable;
}

std::int64_t SerialForStep25(const TRunState& state)
{
    if (state.FReadSerial != 0) return static_cast<std::int64_t>(state.FReadSerial);
    if (state.FSerialFromLine) return static_cast<std::int64_t>(state.FLineSerial);
    return static_cast<std::int64_t>(state.FUnitCounter);
}

bool IsWritableSerial(std::int64_t serial) { return serial >= 1 && serial <= MaxSerialNumber; }

int CalPointOfMeterStep(int meterStep)
{
    if (meterStep < 5 || meterStep > 23 || (meterStep - 5) % 3 != 0) return 0;
    return (meterStep - 5) / 3 + 1;
}

bool IsCurrentPoint(int meterStep) { return CalPointOfMeterStep(meterStep) >= 6; }

QString NominalLevel(int meterStep, std::uint8_t model)
{
    auto byModel = [model](const char* m0, const char* m1, const char* m2) {
        switch (model) {
            case 0: return QString::fromLatin1(m0);
            case 1: return QString::fromLatin1(m1);
            case 2: return QString::fromLatin1(m2);
            default: return QString();
        }
    };
    switch (meterStep) {
        case 5: return QStringLiteral("100mV");
        case 8: return QStringLiteral("3.999V");
        case 11: return QStringLiteral("4.00V");
        case 14: return byModel("19.0V(7211B)", "37.0V(7212B)", "73.0V(7213B)");
        case 17: return byModel("19.0V(7211B)", "20.0V(7212B)", "20.0V(7213B)");
        case 20: return QStringLiteral("100mA");
        case 23: return byModel("5.1A(7211B)", "3.1A(7212B)", "1.6A(7213B)");
        default: return QString();
    }
}

double NominalValue(int meterStep, std::uint8_t model)
{
    QString level = NominalLevel(meterStep, model);
    const int tag = level.indexOf(QLatin1Char('('));
    if (tag >= 0) level.truncate(tag);
    double scale = 1.0;
    if (level.endsWith(QLatin1String("mV")) || level.endsWith(QLatin1String("mA"))) {
        scale = 0.001;
        level.chop(2);
    } else if (level.endsWith(QLatin1Char('V')) || level.endsWith(QLatin1Char('A'))) {
        level.chop(1);
    }
    bool ok = false;
    const double value = level.toDouble(&ok);
    return ok ? value * scale : 0.0;
}

bool IsPlausibleReading(double value, int meterStep, std::uint8_t model, double share)
{
    const double nominal = NominalValue(meterStep, model);
    if (nominal == 0.0) return true;
    if ((value < 0) != (nominal < 0)) return false;
    // A hair of slack, so that a reading exactly at the edge is not lost to rounding.
    return std::fabs(value - nominal) <= share * std::fabs(nominal) * (1.0 + 1e-9);
}
