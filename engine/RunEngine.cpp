// The run engine: start and ends of a run, the send tick, the reply rules and completion.
#include "RunEngine.h"

#include "AppError.h"
#include "CalList.h"

#include <algorithm>
#include <utility>

namespace {

constexpr int SendPeriodMs = 400;
constexpr int ReadVolPeriodMs = 500;
constexpr int ShowPeriodMs = 1000;
constexpr int DefaultMeterDelayMs = 1000;
constexpr std::uint32_t DefaultTestCode = 0x020101;

constexpr int SerialReadStep = 3;
constexpr int SerialReadRetryLimit = 100;
constexpr int RetryLimit = 6;
// A clearing frame is sent this many times; the next tick without a confirmation ends the run.
constexpr int ClearRetryLimit = 6;
// The supply writes these frames into its EEPROM and answers nothing until it is done.
constexpr int SlowFramePauseMs = 2000;

const QString FailedLabel = QStringLiteral("Failed!");

bool IsSlowFrame(std::uint8_t command)
{
    return command == Cmd::TestingInfo || command == Cmd::SerialAndModel;
}

}  // namespace

RunEnd EndOf(EndCause cause)
{
    switch (cause) {
        case EndCause::LastAnswer: return RunEnd::Finished;
        case EndCause::SendLimit: return RunEnd::Failed;
        case EndCause::UnwritableCounter:
        case EndCause::NoLineSerial:
        case EndCause::UnknownCounter: return RunEnd::Refused;
        case EndCause::ToolbarAbort:
        case EndCause::ReadingRefused: return RunEnd::Aborted;
        case EndCause::Cleared: return RunEnd::Cleared;
        case EndCause::ClearingSendLimit: return RunEnd::ClearingFailed;
    }
    return RunEnd::Aborted;
}

RunEngine::RunEngine(SerialLink& link, Clock& clock, RunView& view)
    : link_(link),
      clock_(clock),
      view_(*this, view),
      timerSend_(clock.createTimer()),
      timerReadVol_(clock.createTimer()),
      timerShow_(clock.createTimer()),
      timerMeterDelay_(clock.createTimer()),
      timerSerial_(clock.createTimer()),
      timerSlowPause_(clock.createTimer())
{
    timerSend_->setHandler([this] { TimerSendTimer(); });
    timerReadVol_->setHandler([this] { TimerReadVolTimer(); });
    timerShow_->setHandler([this] { TimerShowTimer(); });
    timerMeterDelay_->setHandler([this] { MeterDelayOver(); });
    timerSerial_->setHandler([this] { TimerSerialTimer(); });
    timerSlowPause_->setInterval(SlowFramePauseMs);
    timerSlowPause_->setHandler([this] { SlowFramePauseOver(); });

    link_.setRunModeSource([this] { return static_cast<int>(state_.FRunMode); });
    link_.setLogSink([this](const QString& line) { view_.AddLogLine(line); });
    link_.setStatusSink([this](const QString& text) { view_.SetStatusPanel(0, text); });
    link_.setReplyHandler([this] { HandleReply(); });

    SetDefaults();
}

RunEngine::~RunEngine()
{
    // The link may outlive the engine; its hooks must not reach a dead one.
    link_.setRunModeSource({});
    link_.setLogSink({});
    link_.setStatusSink({});
    link_.setReplyHandler({});
}

template <typename Call>
void RunEngine::Tell(Call call)
{
    // A copy: an observer may register or leave while it is being told.
    const std::vector<RunObserver*> observers = observers_;
    for (RunObserver* observer : observers) call(*observer);
}

void RunEngine::ObservedView::SetStepState(int step, StepOutcome outcome)
{
    window_.SetStepState(step, outcome);
    engine_.Tell([&](RunObserver& o) { o.StepState(step, outcome); });
}

void RunEngine::ObservedView::AddLogLine(const QString& text)
{
    window_.AddLogLine(text);
    engine_.Tell([&](RunObserver& o) { o.LogLine(text); });
}

void RunEngine::AddObserver(RunObserver* observer)
{
    if (observer && std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
        observers_.push_back(observer);
}

void RunEngine::RemoveObserver(RunObserver* observer) { std::erase(observers_, observer); }

RunKind RunEngine::CurrentKind() const
{
    return state_.FRunMode == RunMode::Clearing ? RunKind::Clearing : RunKind::Calibration;
}

void RunEngine::SetDefaults()
{
    state_.FModel = 0;
    state_.FTestCode = DefaultTestCode;
    state_.FReadSerial = 0;
    state_.FMeterDelay = DefaultMeterDelayMs;
    state_.FStartTime = clock_.now();

    timerSend_->stop();
    timerSend_->setInterval(SendPeriodMs);
    timerReadVol_->stop();
    timerReadVol_->setInterval(ReadVolPeriodMs);
    timerShow_->stop();
    timerShow_->setInterval(ShowPeriodMs);
}

void RunEngine::LoadConfig(const StoredConfig& config)
{
    state_.FUnitCounter = config.unitCounter;
    timerReadVol_->setInterval(config.readIntervalMs);
}

void RunEngine::ApplySettings(const RunSettings& settings)
{
    state_.FOperatorName = settings.operatorName;
    state_.FTemperature = settings.temperature;
    state_.FHumidity = settings.humidity;
    state_.FAddress = settings.address;
}

void RunEngine::SelectModel(std::uint8_t model)
{
    state_.FModel = model;
    state_.FTestCode = TestCodeForModel(model);
}

// ---- Ending a run -------------------------------------------------------------------------------

void RunEngine::EndRun(EndCause cause, const QString& reason)
{
    if (!IsRunning()) return;
    const RunKind kind = CurrentKind();
    const RunEnd end = EndOf(cause);
    state_.FCalibrating = false;
    state_.FClearing = false;
    if (end == RunEnd::Aborted) state_.FAborted = true;
    timerSend_->stop();
    timerReadVol_->stop();
    timerShow_->stop();
    timerMeterDelay_->stop();
    timerSerial_->stop();
    ClearStallLine();
    if (cause == EndCause::LastAnswer && state_.FReadSerial == 0 && !state_.FSerialFromLine) {
        // The supply received the counter as its serial number; the next one gets the following number.
        ++state_.FUnitCounter;
    }
    Tell([&](RunObserver& o) { o.RunEnded(kind, end, state_); });
    ShowEnding(cause, reason);
}

// What the operator sees after each kind of ending, side by side. Every box comes after the run is
// over: replies and ticks that come while it is open find nothing to act on.
void RunEngine::ShowEnding(EndCause cause, const QString& reason)
{
    switch (cause) {
        case EndCause::LastAnswer: {
            view_.SetButtonEnabled(ToolButton::Cancel, false);
            view_.SetButtonEnabled(ToolButton::Clear, true);
            state_.FLogText = QStringLiteral("Voltrix%1 calibrating finished !").arg(ModelName(state_.FModel));
            view_.SetProgressLine(QStringLiteral("Calibrating finished"));
            view_.SetSerialBox(state_.FSerialText);
            view_.Information(state_.FLogText);
            if (!saveConfig_) return;
            try {
                saveConfig_();
            } catch (const AppError& e) {
                // The counter stays advanced in memory; the next successful save writes it.
                view_.Error(e.message());
            }
            return;
        }
        case EndCause::SendLimit: {
            const QString failed = StepOutcomeText(StepOutcome::CommunicationFailed);
            view_.SetButtonEnabled(ToolButton::Cancel, false);
            view_.SetStatusPanel(0, failed);
            view_.Warning(failed);
            view_.ShowResultLabel(FailedLabel);
            return;
        }
        case EndCause::UnwritableCounter:
            // Writing a wrapped or cut counter would give the supply a number not meant for it.
            view_.SetButtonEnabled(ToolButton::Cancel, false);
            view_.ShowResultLabel(FailedLabel);
            view_.Error(QStringLiteral("Unit counter %1 cannot be written as a serial number !").arg(state_.FUnitCounter));
            return;
        case EndCause::NoLineSerial:
            // Never the bench's own counter instead: two benches would hand out the same number.
            view_.SetButtonEnabled(ToolButton::Cancel, false);
            view_.ShowResultLabel(FailedLabel);
            view_.Error(QStringLiteral("This supply has no serial number and none could be taken from the line's database:\n%1")
                            .arg(reason.isEmpty() ? QStringLiteral("no number was given") : reason));
            return;
        case EndCause::UnknownCounter:
            // A counter read as 1, or one the disk could not be told has moved on, would give this
            // supply a number another supply may already carry.
            view_.SetButtonEnabled(ToolButton::Cancel, false);
            view_.ShowResultLabel(FailedLabel);
            view_.Error(QStringLiteral("This supply has no serial number and the unit counter cannot give one:\n%1").arg(reason));
            return;
        case EndCause::ToolbarAbort:
            // Buttons, step states and labels stay as they are.
            return;
        case EndCause::ReadingRefused:
            view_.Notice(QStringLiteral("Calibrating abort !"));
            // The meter step's set-point step: the text lands in the point's row of the step grid.
            view_.SetStepState(state_.FStep + 1, StepOutcome::CalibratingAbort);
            view_.SetProgressLine(StepOutcomeText(StepOutcome::CalibratingAbort));
            view_.SetProgressBar(0);
            view_.ShowResultLabel(FailedLabel);
            return;
        case EndCause::Cleared:
            view_.Information(QStringLiteral("Ok,succeed!"));
            view_.ShowResultLabel(QStringLiteral("OK!"));
            return;
        case EndCause::ClearingSendLimit:
            view_.Error(QStringLiteral("Communication failed,clearing abort!"));
            view_.ShowResultLabel(FailedLabel);
            return;
    }
}

void RunEngine::btnCancelClick()
{
    if (!state_.FCalibrating) return;
    view_.Question(QStringLiteral("Abort ?"), [this, run = runGeneration_](BoxAnswer answer) {
        // The run may have ended by itself while the question was open; EndRun then does nothing.
        if (answer == BoxAnswer::Yes && run == runGeneration_) EndRun(EndCause::ToolbarAbort);
    });
}

void RunEngine::RefuseReading()
{
    if (!state_.FCalibrating) return;
    view_.SetStepState(state_.FStep, StepOutcome::TestAbort);
    EndRun(EndCause::ReadingRefused);
}

bool RunEngine::FormCloseQuery()
{
    if (!state_.FCalibrating) return true;
    state_.FLogText = QStringLiteral("Sorry,please wait for a moment !") + QLatin1Char('\r') +
                      QStringLiteral("if you abort ,please choose \"abort\" function !");
    view_.Warning(state_.FLogText);
    return false;
}

// ---- Calibration run ----------------------------------------------------------------------------

void RunEngine::btnStartClick()
{
    if (state_.FClearing) {
        view_.Warning(QStringLiteral("Clearing ,please again for a moment !"));
        return;
    }
    if (state_.FCalibrating) {
        view_.Warning(QStringLiteral("Testing ,please again for a moment !"));
        return;
    }
    auto ready = [this] {
        view_.Question(QStringLiteral("Are you all ready ?"), [this](BoxAnswer answer) {
            // Nothing else may have begun while the question was open.
            if (answer == BoxAnswer::Yes && !state_.FCalibrating && !state_.FClearing) StartCalibration();
        });
    };
    // Told before anything else opens, so that an Enter meant for it cannot confirm a prompt unread.
    if (const QString doubt = startDoubt_ ? startDoubt_() : QString(); !doubt.isEmpty())
        view_.WarningQuestion(doubt, [ready](BoxAnswer answer) {
            if (answer == BoxAnswer::Yes) ready();
        });
    else
        ready();
}

void RunEngine::StartCalibration()
{
    ++runGeneration_;
    handingOverStep_ = 0;
    state_.FRunMode = RunMode::Calibration;
    state_.FCalibrating = true;
    state_.FAborted = false;
    // Nothing is known of this supply's serial number yet; the last supply's must never reach it.
    state_.FReadSerial = 0;
    state_.FSerialText.clear();
    state_.FLineSerial = 0;

    view_.SetButtonEnabled(ToolButton::Start, false);

    const QDate today = clock_.now().date();
    BuildCalList(state_, today);
    BuildTestingInfoStep(state_, today);

    view_.FillMsgList();
    view_.SetSerialBox(QString());

    StartStep(1);

    state_.FStartTime = clock_.now();
    timerShow_->start();

    view_.SetButtonEnabled(ToolButton::Start, true);
    view_.SetButtonEnabled(ToolButton::Cancel, true);
    view_.InitStepGrid(true);
    Tell([&](RunObserver& o) { o.RunStarted(RunKind::Calibration, state_); });
}

void RunEngine::StartStep(int step)
{
    if (step == 1) {
        view_.ClearLog();
        view_.ClearMsgListStates();
        view_.ClearResultLabel();
    }
    timerSend_->stop();
    state_.FTryCount = 1;
    state_.FStep = static_cast<std::uint8_t>(step);
    timerSend_->start();
}

void RunEngine::TimerSendTimer()
{
    if (timerSlowPause_->isActive()) return;
    if (state_.FClearing) {
        ClearingBranch();
        return;
    }
    if (!state_.FCalibrating) {
        timerSend_->stop();
        return;
    }
    if (state_.FRunMode == RunMode::Calibration) CalibrationBranch();
}

void RunEngine::CalibrationBranch()
{
    const int limit = state_.FStep == SerialReadStep ? SerialReadRetryLimit : RetryLimit;
    if (state_.FTryCount > limit) {
        timerSend_->stop();
        view_.SetStepState(state_.FStep, StepOutcome::CommunicationFailed);
        const TPsuFrame& last = state_.FLastSent;
        if (static_cast<int>(last.address()) == state_.FAddress && IsSlowFrame(last.command())) {
            EndRun(EndCause::SendLimit);
            return;
        }
        // Any other step gets one last send and waits, still active, for a late answer.
        Tell([&](RunObserver& o) { o.RunStalled(state_.FStep); });
        stallShown_ = true;
        view_.SetStallLine(StallText(link_.FPortOpen, link_.FPortNo, link_.FBaud, state_.FAddress));
    }

    const int step = state_.FStep;
    if (step >= 1 && step <= static_cast<int>(state_.FCalList.size())) {
        const TEvent& event = state_.FCalList[static_cast<std::size_t>(step - 1)];
        if (!event.MeterStep) {
            if (event.Frame.command() == Cmd::SerialAndModel && !IsWritableSerial(SerialForStep25(state_))) {
                if (state_.FSerialFromLine)
                    EndRun(EndCause::NoLineSerial, QStringLiteral("no number was taken for it"));
                else
                    EndRun(EndCause::UnwritableCounter);
                return;
            }
            state_.FLastSent = event.Frame;
            const bool slow = IsSlowFrame(state_.FLastSent.command());
            // A stale half answer must not be completed by the first bytes of this frame's answer.
            if (slow) link_.ClearRx();
            WriteLastSent(step);
            state_.FLogText = QStringLiteral("[Step %1] : %2").arg(step).arg(FrameToHex(event.Frame));
            view_.AddLogLine(state_.FLogText);
            if (slow) {
                // The supply is writing its EEPROM; nothing may be sent meanwhile. Its time starts
                // when the frame has left the port, not when it was queued.
                timerSend_->stop();
                link_.WaitUntilSent();
                slowPauseRun_ = runGeneration_;
                timerSlowPause_->start();
            }
        }
    }
    ++state_.FTryCount;
}

void RunEngine::SlowFramePauseOver()
{
    timerSlowPause_->stop();
    // An answer to the frame of a run that has ended since belongs to no step.
    const bool held = std::exchange(replyHeld_, false);
    if (slowPauseRun_ != runGeneration_ || !state_.FCalibrating) return;
    timerSend_->start();
    if (held) HandleReply();
}

void RunEngine::ClearStallLine()
{
    if (!std::exchange(stallShown_, false)) return;
    view_.SetStallLine(QString());
}

void RunEngine::WriteLastSent(int step)
{
    // A port that is closed or gone takes nothing: no send to tell of.
    if (!link_.WriteFabData(state_.FLastSent, TPsuFrame::Size)) return;
    const TPsuFrame frame = state_.FLastSent;
    Tell([&](RunObserver& o) { o.FrameSent(step, frame); });
}

void RunEngine::HandleReply()
{
    if (timerSlowPause_->isActive()) {
        replyHeld_ = true;
        return;
    }
    switch (state_.FRunMode) {
        case RunMode::Calibration:
            HandleCalReply();
            break;
        case RunMode::Clearing:
            HandleClearingReply();
            break;
        default:
            break;
    }
}

bool RunEngine::IsMeterStep(int step) const
{
    return step >= 1 && step <= static_cast<int>(state_.FCalList.size()) &&
           state_.FCalList[static_cast<std::size_t>(step - 1)].MeterStep;
}

bool RunEngine::IsPointSelectionStep(int step) const
{
    return !IsMeterStep(step) && IsMeterStep(step + 1);
}

void RunEngine::HandleCalReply()
{
    const TPsuFrame& reply = link_.FReply;
    if (!state_.FCalibrating || !IsValidReply(reply, state_.FAddress, state_.FLastSent)) return;
    const int step = state_.FStep;
    if (step < 1 || step > static_cast<int>(state_.FCalList.size())) return;
    // The step was sent twice and both answers came: the first one already handed it over.
    if (step == handingOverStep_) return;
    // The line is being asked for this supply's number; a second answer to step 3 asks nothing more.
    if (serialWait_ == runGeneration_) return;
    // Nothing of this step has gone out yet, so the answer belongs to an earlier send (a supply
    // that answered twice, or the last run): taking it would skip a step the supply never got.
    if (!IsMeterStep(step) && state_.FTryCount <= 1) return;

    timerSend_->stop();
    ClearStallLine();
    view_.SetStepState(step, StepOutcome::Succeed);
    view_.UpdateProgress();

    if (state_.FCalList[static_cast<std::size_t>(step - 1)].Frame.command() == Cmd::SerialAndModel && state_.FReadSerial == 0) {
        // The supply holds the number it was given from now on; the operator labels it from the screen.
        state_.FSerialText = QStringLiteral("%1").arg(SerialForStep25(state_), 6, 10, QLatin1Char('0'));
        view_.SetSerialBox(state_.FSerialText);
    }
    if (reply.command() == Cmd::ReadSerial) {
        ParseReadSerial();
        BuildSerialStep(state_);
    } else if (step == SerialReadStep) {
        // The supply confirmed the read without serial digits: it reports none, as a 0x8C answer
        // with a blank field would, and receives the counter.
        state_.FReadSerial = 0;
        BuildSerialStep(state_);
    }
    if (step == SerialReadStep && !serialSource_ && state_.FReadSerial == 0 && reserveCounter_) {
        // Before any calibration value is written, as for a line that has no number to give.
        if (const QString why = reserveCounter_(); !why.isEmpty()) {
            EndRun(EndCause::UnknownCounter, why);
            return;
        }
    }
    if (step == SerialReadStep && serialSource_ && state_.FReadSerial == 0 && state_.FLineSerial == 0) {
        AskLineForSerial();
        return;
    }
    NextAfterAnswer(step);
}

void RunEngine::NextAfterAnswer(int step)
{
    if (step == static_cast<int>(state_.FCalList.size())) {
        EndRun(EndCause::LastAnswer);
    } else if (IsMeterStep(step)) {
        // The run waits for the operator's reading.
    } else if (IsPointSelectionStep(step)) {
        HandOverToMeter();
    } else {
        if (step == SerialReadStep) view_.SetSerialBox(state_.FSerialText);
        StartStep(step + 1);
    }
}

void RunEngine::AskLineForSerial()
{
    // Asked now, before any calibration value is written: a supply the line has no number for is
    // not calibrated halfway. Nothing is sent meanwhile; the window goes on, and so may the
    // operator's Abort. A number that does not come in time is a refusal like any other.
    const quint64 generation = runGeneration_;
    serialWait_ = generation;
    timerSerial_->setInterval(serialSource_->LimitMs());
    timerSerial_->start();
    serialSource_->Request(state_, [this, generation](const SerialSource::Grant& grant) { SerialGiven(generation, grant); });
}

void RunEngine::SerialGiven(quint64 generation, const SerialSource::Grant& grant)
{
    // An answer that comes after its run has ended, or stopped waiting, touches nothing.
    if (generation != runGeneration_ || serialWait_ != generation || !state_.FCalibrating) return;
    serialWait_ = 0;
    timerSerial_->stop();
    for (const QString& note : grant.notes) view_.AddLogLine(note);
    if (grant.serial == 0 || !IsWritableSerial(grant.serial)) {
        EndRun(EndCause::NoLineSerial, grant.refusal);
        return;
    }
    state_.FLineSerial = grant.serial;
    BuildSerialStep(state_);
    NextAfterAnswer(SerialReadStep);
}

void RunEngine::TimerSerialTimer()
{
    timerSerial_->stop();
    if (serialWait_ != runGeneration_ || !state_.FCalibrating) return;
    serialWait_ = 0;
    EndRun(EndCause::NoLineSerial,
           QStringLiteral("the line's database gave no number within %1 s").arg((timerSerial_->interval() + 999) / 1000));
}

void RunEngine::HandOverToMeter()
{
    handingOverStep_ = state_.FStep;
    // The supply needs a moment to settle on the point before the operator reads the meter. The
    // pause is a timer of its own, so that what comes meanwhile is handled after this answer, not
    // inside it; it is over once strictly more than its time has passed.
    timerMeterDelay_->setInterval(state_.FMeterDelay + 1);
    timerMeterDelay_->start();
}

void RunEngine::MeterDelayOver()
{
    timerMeterDelay_->stop();
    const int step = handingOverStep_;
    handingOverStep_ = 0;
    // An abort during the pause ended the run, and a run started since owns the state.
    if (!state_.FCalibrating || step != state_.FStep) return;
    state_.FStep = static_cast<std::uint8_t>(step + 1);
    timerReadVol_->start();
}

void RunEngine::TimerReadVolTimer()
{
    timerReadVol_->stop();
    if (!state_.FCalibrating || !IsMeterStep(state_.FStep)) return;
    if (readVolHandler_) readVolHandler_();
}

void RunEngine::AcceptReading(const QString& typed, std::int32_t milli, ReadingSource source, const ReadingQuality& quality)
{
    // The dialog may have been open while the run ended behind it.
    if (!state_.FCalibrating || !IsMeterStep(state_.FStep)) return;
    const int meterStep = state_.FStep;
    state_.FVoltageMv = milli;
    state_.FCurrentMa = milli;
    view_.SetStepState(meterStep, StepOutcome::Succeed);
    state_.FStep = static_cast<std::uint8_t>(meterStep + 1);
    StoreMeasuredValue(state_.FStep);
    // What the supply will receive, as its frame carries it.
    const std::int64_t sent = IsCurrentPoint(meterStep) ? std::int64_t{CurrentOnTheWire(milli)} : std::int64_t{milli};
    Tell([&](RunObserver& o) { o.ReadingAccepted(meterStep, typed, sent, source, quality); });
    StartStep(state_.FStep);
}

void RunEngine::ParseReadSerial()
{
    const TPsuFrame& reply = link_.FReply;
    state_.FReadSerial = 0;
    QString text;
    for (int i = 0; i < 6; ++i) {
        const std::uint8_t b = reply.data(i);
        if (b < '0' || b > '9') return;
        text += QLatin1Char(static_cast<char>(b));
    }
    state_.FReadSerial = text.toUInt();
    state_.FSerialText = text;
    // The counter must never hand out a number a supply already carries.
    if (!state_.FSerialFromLine &&
        static_cast<std::int64_t>(state_.FReadSerial) == static_cast<std::int64_t>(state_.FUnitCounter))
        ++state_.FUnitCounter;
}

void RunEngine::StoreMeasuredValue(int step)
{
    if (state_.FRunMode != RunMode::Calibration) return;
    view_.AddLogLine(QStringLiteral("Average voltage : %1mV").arg(state_.FVoltageMv));
    view_.AddLogLine(QStringLiteral("Average current : %1mA").arg(state_.FCurrentMa));
    if (step < 1 || step > static_cast<int>(state_.FCalList.size())) return;

    TPsuFrame& frame = state_.FCalList[static_cast<std::size_t>(step - 1)].Frame;
    if (frame.command() == Cmd::VoltageValue) {
        PutVoltageMv(frame, state_.FVoltageMv);
        SealFrame(frame);
    } else if (frame.command() == Cmd::CurrentValue) {
        PutCurrentMa(frame, state_.FCurrentMa);
        SealFrame(frame);
    }
}

void RunEngine::TimerShowTimer() { elapsedMs_ = state_.FStartTime.msecsTo(clock_.now()); }

// ---- Clearing run -------------------------------------------------------------------------------

void RunEngine::StartClearing(ClearingSteps& steps, TSendQueue list, const TPsuFrame& lastSent)
{
    if (IsRunning()) return;
    ++runGeneration_;
    clearingSteps_ = &steps;
    state_.FClearList = std::move(list);
    state_.FLastSent = lastSent;
    state_.FRunMode = RunMode::Clearing;
    view_.ClearLog();
    state_.FClearing = true;
    state_.FTryCount = 0;
    state_.FStep = 1;
    timerSend_->start();
    state_.FStartTime = clock_.now();
    timerShow_->start();
    Tell([&](RunObserver& o) { o.RunStarted(RunKind::Clearing, state_); });
}

void RunEngine::ClearingBranch()
{
    const int n = static_cast<int>(state_.FClearList.size());
    if (n < 2 || !clearingSteps_) return;
    state_.FLogText = clearingSteps_->TickText(state_.FStep, n);
    view_.ShowStepText(state_.FLogText);
    if (state_.FStep > n - 1) {
        EndRun(EndCause::Cleared);
        return;
    }
    clearingSteps_->ShowSend(view_, state_.FStep, n);
    if (state_.FTryCount >= ClearRetryLimit) {
        EndRun(EndCause::ClearingSendLimit);
        return;
    }
    state_.FLastSent = state_.FClearList[static_cast<std::size_t>(state_.FStep - 1)];
    WriteLastSent(state_.FStep);
    state_.FLogText = clearingSteps_->LogLine(state_.FStep, state_.FLastSent);
    view_.AddLogLine(state_.FLogText);
    ++state_.FTryCount;
}

void RunEngine::HandleClearingReply()
{
    const TPsuFrame& reply = link_.FReply;
    if (!state_.FClearing || !clearingSteps_ || !IsValidReply(reply, state_.FAddress, state_.FLastSent)) return;
    if (!clearingSteps_->IsConfirmation(reply, state_.FAddress)) return;
    // Nothing of the current frame has gone out since the last accepted reply, so this one
    // answers an earlier send (a repeated frame, or the last run); taking it would skip a frame.
    if (state_.FTryCount == 0) return;
    state_.FTryCount = 0;
    ++state_.FStep;
}
