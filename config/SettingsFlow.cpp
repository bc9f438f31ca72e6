// The Setting button's handler: runs the settings dialog, applies its values and opens the port.
#include "SettingsFlow.h"

#include "IntText.h"
#include "RunEngine.h"

void btnSettingClick(RunEngine& engine, SettingsSource& dialog)
{
    RunView& view = engine.view();

    view.SetButtonEnabled(ToolButton::Start, false);
    view.SetButtonEnabled(ToolButton::Clear, false);

    // A run may go on behind the modal dialog; nothing below may assume the state it left.
    if (!dialog.Execute()) return;

    view.ClearResultLabel();
    view.InitStepGrid(true);

    engine.ApplySettings(RunSettings{dialog.OperatorText(), dialog.TemperatureText() + QStringLiteral("°C"),
                                     dialog.HumidityText(), dialog.AddressValue()});

    // A baud text that is not a number ends the handler here: the port and the model stay as
    // they were and the caller's guard shows the conversion error.
    const int baud = StrToInt(dialog.BaudText());

    const int portIndex = dialog.PortIndex();
    const int port = portIndex >= 0 ? portIndex + 1 : 0;
    const bool opened = engine.OpenPort(port, baud);
    view.SetButtonEnabled(ToolButton::Start, opened);
    view.SetButtonEnabled(ToolButton::Clear, view.ButtonEnabled(ToolButton::Start));

    engine.SelectModel(static_cast<std::uint8_t>(dialog.ModelIndex() & 0xFF));

    if (!view.ButtonEnabled(ToolButton::Start))
        view.Warning(QStringLiteral("Open %1 failed,please check !").arg(dialog.PortText()));
}
