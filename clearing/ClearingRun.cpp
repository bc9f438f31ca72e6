// The Reset run: five frames that erase the calibration data held in the supply.
#include "ClearingRun.h"

#include "RunEngine.h"

#include <cmath>

namespace {
constexpr int ClearSlots = 6;
// A frame is sent this many times; the next tick without an accepted reply ends the run.
constexpr int ClearRetryLimit = 6;

const QString ClearingText = QStringLiteral("Clearing ...");

void ComposeInto(TRunState& state, TPsuFrame& frame, std::size_t slot)
{
    SealFrame(frame);
    state.FClearList[slot] = frame;
}
}  // namespace

void BuildClearList(TRunState& state)
{
    state.FClearList.assign(ClearSlots, TPsuFrame{});

    // Composed in place on purpose: the bytes a frame does not name stay as the frame before left
    // them, which is what supplies in the field have always been sent.
    TPsuFrame& f = state.FLastSent;
    f[0] = FrameStart;
    f[1] = static_cast<std::uint8_t>(state.FAddress & 0xFF);

    f[2] = Cmd::ControlState;
    f.data(0) = 2;
    ComposeInto(state, f, 0);

    f[2] = Cmd::CalibrationMode;
    PutCalibrationMode(f, true);
    ComposeInto(state, f, 1);

    f[2] = Cmd::ClearCalibration;
    ComposeInto(state, f, 2);

    f[2] = Cmd::CalibrationMode;
    PutCalibrationMode(f, false);
    ComposeInto(state, f, 3);

    f[2] = Cmd::ControlState;
    f.data(0) = 0;
    ComposeInto(state, f, 4);
}

ClearingRun::ClearingRun(RunEngine& engine) : engine_(engine)
{
    engine_.setClearingHandlers([this] { TimerSendClearing(); }, [this] { HandleClearingReply(); });
}

ClearingRun::~ClearingRun() { engine_.setClearingHandlers({}, {}); }

void ClearingRun::btnClearClick()
{
    engine_.view().ClearResultLabel();
    StartClearing();
}

void ClearingRun::StartClearing()
{
    TRunState& s = engine_.state();
    RunView& view = engine_.view();

    if (!engine_.link().FPortOpen) {
        view.Notice(QStringLiteral("Please open serial port !"));
        return;
    }
    if (s.FCalibrating || s.FClearing) {
        view.Notice(QStringLiteral("Working ,please wait for a moment !"));
        return;
    }
    // Erasing a supply's calibration cannot be undone: a box closed without an answer is no
    // consent.
    if (view.WarningQuestion(QStringLiteral("Do you clearing ?")) != BoxAnswer::Yes) return;

    BuildClearList(s);
    engine_.BeginClearing();
    view.ShowStepText(ClearingText);
    view.SetStatusPanel(0, ClearingText);
}

void ClearingRun::TimerSendClearing()
{
    TRunState& s = engine_.state();
    RunView& view = engine_.view();
    const int n = static_cast<int>(s.FClearList.size());
    if (n < 2) return;
    const double percent = s.FStep * 100.0 / n;

    s.FLogText = QString::asprintf("Clearing,finished-%6.2f%%", percent);
    view.ShowStepText(s.FLogText);

    if (s.FStep > n - 1) {
        // Stopped before the box: replies that come while it is open must find the run over.
        engine_.EndRun(RunEnd::Cleared);
        view.Information(QStringLiteral("Ok,succeed!"));
        view.ShowResultLabel(QStringLiteral("OK!"));
        return;
    }

    view.SetStatusPanel(1, QString::asprintf("%6.2f%%", percent));
    view.SetProgressBar(static_cast<int>(std::lround(s.FStep * 100.0 / (n - 1))));

    if (s.FTryCount >= ClearRetryLimit) {
        engine_.EndRun(RunEnd::ClearingFailed);
        view.Error(QStringLiteral("Communication failed,clearing abort!"));
        view.ShowResultLabel(QStringLiteral("Failed!"));
        return;
    }

    s.FLastSent = s.FClearList[static_cast<std::size_t>(s.FStep - 1)];
    engine_.WriteLastSent(s.FStep);
    s.FLogText = QStringLiteral("[Clearing Step%1] : %2").arg(s.FStep).arg(FrameToHex(s.FLastSent));
    view.AddLogLine(s.FLogText);
    ++s.FTryCount;
}

void ClearingRun::HandleClearingReply()
{
    TRunState& s = engine_.state();
    const TPsuFrame& reply = engine_.link().FReply;
    if (!s.FClearing || !IsValidReply(reply, s.FAddress, s.FLastSent)) return;
    if (static_cast<int>(reply.address()) != s.FAddress || reply.command() != Cmd::ClearingAnswer)
        return;
    // Nothing of the current frame has gone out since the last accepted reply, so this one
    // answers an earlier send (a repeated frame, or the last run); taking it would skip a frame.
    if (s.FTryCount == 0) return;
    s.FTryCount = 0;
    ++s.FStep;
}
