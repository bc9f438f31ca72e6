// The Reset run: five frames that erase the calibration data held in the supply.
#pragma once

#include "RunEngine.h"

// The six slots of the clearing list, the five frames composed one after another in `lastSent`,
// which keeps whatever the earlier frames (and before them the last run) left in it.
TSendQueue BuildClearList(std::int32_t address, TPsuFrame& lastSent);

class ClearingRun : public ClearingSteps {
public:
    explicit ClearingRun(RunEngine& engine);

    void btnClearClick();
    void StartClearing();

    QString TickText(int step, int count) const override;
    void ShowSend(RunView& view, int step, int count) override;
    QString LogLine(int step, const TPsuFrame& frame) const override;
    bool IsConfirmation(const TPsuFrame& reply, int address) const override;

private:
    // The five frames sent, once the operator has said yes.
    void Clear();

    RunEngine& engine_;
};
