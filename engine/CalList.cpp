// Builds the 29 steps of a calibration run and rebuilds the serial-number and testing-info steps.
#include "CalList.h"

#include "RunState.h"

namespace {

constexpr int SerialStepIndex = 24;       // step 25
constexpr int TestingInfoStepIndex = 25;  // step 26

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
    // By the code as it is: a code with its top bit set names no model here.
    const ModelFacts* facts = model < Models().size() ? ModelFactsOf(model) : nullptr;
    return facts ? facts->testCode : Models()[0].testCode;
}

void BuildCalList(TRunState& state, const QDate& today)
{
    TEventQueue list;
    list.reserve(CalStepCount);

    list.push_back(ControlStateStep(state, 3, QStringLiteral("Control PS control state")));
    list.push_back(CalibrationModeStep(state, true, QStringLiteral("Control PS enabled state")));
    list.push_back(SentStep(state, Cmd::ReadSerial, QStringLiteral("Read serial No.")));

    // The supply numbers its voltage points and its current points each from 1.
    int ofQuantity[2] = {0, 0};
    for (const CalPoint& p : CalPoints()) {
        const bool current = p.quantity == Quantity::Current;
        const int point = ++ofQuantity[current ? 1 : 0];
        if (current) {
            list.push_back(PointStep(state, Cmd::SelectCurrentPoint, point,
                                     QStringLiteral("Calibrating for point %1 current ")));
            list.push_back(MeterStep(QStringLiteral("Read value from meter ")));
            list.push_back(CurrentValueStep(state, point));
        } else {
            list.push_back(PointStep(state, Cmd::SelectVoltagePoint, point,
                                     QStringLiteral("Calibrating for point %1 voltage ")));
            list.push_back(MeterStep(QStringLiteral("Read value for meter ")));
            list.push_back(VoltageValueStep(state, point));
        }
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
