// The Reset run: five frames that erase the calibration data held in the supply.
#pragma once

#include "RunState.h"

class RunEngine;

// Gives FClearList its six slots and composes the five frames one after another in FLastSent,
// which keeps whatever the earlier frames (and before them the last run) left in it.
void BuildClearList(TRunState& state);

class ClearingRun {
public:
    // Registers the send-tick branch and the reply rule with the engine.
    explicit ClearingRun(RunEngine& engine);
    ~ClearingRun();
    ClearingRun(const ClearingRun&) = delete;
    ClearingRun& operator=(const ClearingRun&) = delete;

    void btnClearClick();
    void StartClearing();
    // The send timer's branch while FClearing is set.
    void TimerSendClearing();
    void HandleClearingReply();

private:
    RunEngine& engine_;
};
