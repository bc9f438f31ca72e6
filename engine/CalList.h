// The calibration run's step record, its list and the builders of the 29 steps.
#pragma once

#include "CalPoints.h"
#include "OPCPublic.h"

#include <QDate>
#include <QString>

#include <cstdint>
#include <vector>

struct TRunState;

struct TEvent {
    bool MeterStep = false;
    TPsuFrame Frame;
    QString MeterCommand;
    QString Description;
};

using TEventQueue = std::vector<TEvent>;

constexpr int CalStepCount = 29;

// Testing-information code of a model, as the model table gives it (0x020102 for 1, 0x020103 for
// 2); the first model's, 0x020101, for a code outside the table.
std::uint32_t TestCodeForModel(std::uint8_t model);

// Rebuilds state.FCalList from nothing with the 29 steps; step 26 carries `today`.
void BuildCalList(TRunState& state, const QDate& today);
// Rebuilds step 26 with `today` and the description without its trailing blank.
void BuildTestingInfoStep(TRunState& state, const QDate& today);
// Rebuilds step 25 with the serial number meant for this supply (see SerialForStep25).
// Returns false, leaving the serial digits 0, when that number cannot be written.
bool BuildSerialStep(TRunState& state);
// The serial number step 25 writes: the one read from the supply, else the unit counter.
std::int64_t SerialForStep25(const TRunState& state);
// Whether a number can be written into the six-digit serial field as a supply's serial number.
bool IsWritableSerial(std::int64_t serial);
