// The Setting button's handler: runs the settings dialog, applies its values and opens the port.
#pragma once

#include <QString>

class RunEngine;

// What the handler needs from the settings dialog: run it modally, then read what it holds.
class SettingsSource {
public:
    virtual ~SettingsSource() = default;

    // Shows the dialog and waits for it; true when it was closed with OK.
    virtual bool Execute() = 0;

    virtual QString OperatorText() const = 0;
    virtual QString TemperatureText() const = 0;
    virtual QString HumidityText() const = 0;
    virtual int AddressValue() const = 0;
    virtual QString BaudText() const = 0;
    // Index of the chosen item, -1 when the operator typed into the box since choosing.
    virtual int PortIndex() const = 0;
    virtual QString PortText() const = 0;
    virtual int ModelIndex() const = 0;
};

// Throws AppError when the baud text is not an integer; the port is then left as it was.
void btnSettingClick(RunEngine& engine, SettingsSource& dialog);
