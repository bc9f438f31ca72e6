// The Reset run: five frames that erase the calibration data held in the supply.
#include "ClearingRun.h"

#include <cmath>

namespace {
constexpr int ClearSlots = 6;

const QString ClearingText = QStringLiteral("Clearing ...");

void ComposeInto(TSendQueue& list, TPsuFrame& frame, std::size_t slot)
{
    SealFrame(frame);
    list[slot] = frame;
}
}  // namespace

TSendQueue BuildClearList(std::int32_t address, TPsuFrame& f)
{
    TSendQueue list(ClearSlots, TPsuFrame{});

    // Composed in place on purpose: the bytes a frame does not name stay as the frame before left
    // them, which is what supplies in the field have always been sent.
    f[0] = FrameStart;
    f[1] = static_cast<std::uint8_t>(address & 0xFF);

    f[2] = Cmd::ControlState;
    f.data(0) = 2;
    ComposeInto(list, f, 0);

    f[2] = Cmd::CalibrationMode;
    PutCalibrationMode(f, true);
    ComposeInto(list, f, 1);

    f[2] = Cmd::ClearCalibration;
    ComposeInto(list, f, 2);

    f[2] = Cmd::CalibrationMode;
    PutCalibrationMode(f, false);
    ComposeInto(list, f, 3);

    f[2] = Cmd::ControlState;
    f.data(0) = 0;
    ComposeInto(list, f, 4);
    return list;
}

ClearingRun::ClearingRun(RunEngine& engine) : engine_(engine) {}

void ClearingRun::btnClearClick()
{
    engine_.view().ClearResultLabel();
    StartClearing();
}

void ClearingRun::StartClearing()
{
    RunView& view = engine_.view();

    if (!engine_.link().FPortOpen) {
        view.Notice(QStringLiteral("Please open serial port !"));
        return;
    }
    if (engine_.IsRunning()) {
        view.Notice(QStringLiteral("Working ,please wait for a moment !"));
        return;
    }
    // Erasing a supply's calibration cannot be undone: a box closed without an answer is no
    // consent.
    view.WarningQuestion(QStringLiteral("Do you clearing ?"), [this](BoxAnswer answer) {
        // The port may have closed, or a run begun, while the question was open.
        if (answer == BoxAnswer::Yes && engine_.link().FPortOpen && !engine_.IsRunning()) Clear();
    });
}

void ClearingRun::Clear()
{
    const TRunState& s = engine_.state();
    RunView& view = engine_.view();
    TPsuFrame composed = s.FLastSent;
    TSendQueue list = BuildClearList(s.FAddress, composed);
    engine_.StartClearing(*this, std::move(list), composed);
    view.ShowStepText(ClearingText);
    view.SetStatusPanel(0, ClearingText);
}

QString ClearingRun::TickText(int step, int count) const
{
    return QString::asprintf("Clearing,finished-%6.2f%%", step * 100.0 / count);
}

void ClearingRun::ShowSend(RunView& view, int step, int count)
{
    view.SetStatusPanel(1, QString::asprintf("%6.2f%%", step * 100.0 / count));
    view.SetProgressBar(static_cast<int>(std::lround(step * 100.0 / (count - 1))));
}

QString ClearingRun::LogLine(int step, const TPsuFrame& frame) const
{
    return QStringLiteral("[Clearing Step%1] : %2").arg(step).arg(FrameToHex(frame));
}

bool ClearingRun::IsConfirmation(const TPsuFrame& reply, int address) const
{
    return static_cast<int>(reply.address()) == address && reply.command() == Cmd::ClearingAnswer;
}
