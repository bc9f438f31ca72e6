// The state of the one run that can be active at a time, owned by the run engine.
#pragma once

#include "CalList.h"
#include "OPCPublic.h"

#include <QDateTime>
#include <QString>

#include <cstdint>

// Kind of the run last started: 0 none yet, 1 calibration, 3 clearing.
using TRunMode = std::uint8_t;
namespace RunMode {
constexpr TRunMode None = 0;
constexpr TRunMode Calibration = 1;
constexpr TRunMode Clearing = 3;
}  // namespace RunMode

struct TRunState {
    // Run and sequencer.
    TRunMode FRunMode = RunMode::None;
    bool FCalibrating = false;
    bool FClearing = false;
    bool FAborted = false;
    std::uint8_t FStep = 0;
    std::uint8_t FTryCount = 0;
    TEventQueue FCalList;
    TSendQueue FClearList;
    TPsuFrame FLastSent;
    QDateTime FStartTime;
    QString FLogText;

    // Reply handling.
    int FMeterDelay = 0;
    std::int32_t FVoltageMv = 0;
    std::int32_t FCurrentMa = 0;
    // Serial numbers run 0..999999 (0 = none read); the six-digit field carries all of them.
    std::uint32_t FReadSerial = 0;
    QString FSerialText;

    // Settings.
    std::int32_t FAddress = 0;
    std::uint8_t FModel = 0;
    std::uint32_t FTestCode = 0;
    QString FOperatorName;
    QString FTemperature;
    QString FHumidity;

    // Configuration file.
    std::int32_t FUnitCounter = 0;

    // A line of benches hands out serial numbers from its database instead of FUnitCounter; the
    // number it gave this run's supply (0 = none yet).
    bool FSerialFromLine = false;
    std::uint32_t FLineSerial = 0;
};
