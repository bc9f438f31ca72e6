// The run engine: run state, the send sequencer, reply handling and completion of a calibration run.
#pragma once

#include "Clock.h"
#include "RunObserver.h"
#include "RunState.h"
#include "RunView.h"
#include "SerialLink.h"

#include <functional>
#include <memory>
#include <vector>

// Where a supply without a serial number gets one when the bench's own counter is not the source.
class SerialSource {
public:
    virtual ~SerialSource() = default;
    struct Grant {
        std::uint32_t serial = 0;  // 0: none was given
        QString refusal;           // why none was given, for the operator
    };
    // Called once per run, when the supply has reported no number of its own.
    virtual Grant Allocate(const TRunState& state) = 0;
};

class RunEngine {
public:
    RunEngine(SerialLink& link, Clock& clock, RunView& view);
    ~RunEngine();
    RunEngine(const RunEngine&) = delete;
    RunEngine& operator=(const RunEngine&) = delete;

    TRunState& state() { return state_; }
    const TRunState& state() const { return state_; }
    SerialLink& link() { return link_; }
    Clock& clock() { return clock_; }
    // The window as every part of a run reaches it; step states and log lines are also told to
    // the observers.
    RunView& view() { return view_; }

    // Observers watch every run from its start to its end; they must outlive their registration.
    void AddObserver(RunObserver* observer);
    void RemoveObserver(RunObserver* observer);

    Timer& TimerSend() { return *timerSend_; }
    Timer& TimerReadVol() { return *timerReadVol_; }
    Timer& TimerShow() { return *timerShow_; }

    // Hooks wired by the owner.
    // The read timer's tick: the operator's prompt and value entry.
    void setReadVolHandler(std::function<void()> handler) { readVolHandler_ = std::move(handler); }
    // The clearing run's branch of the send tick and its reply rule.
    void setClearingHandlers(std::function<void()> tick, std::function<void()> reply)
    {
        clearingTick_ = std::move(tick);
        clearingReply_ = std::move(reply);
    }
    // Writes the configuration file; throws AppError when it cannot.
    void setSaveConfig(std::function<void()> save) { saveConfig_ = std::move(save); }
    // Serial numbers from elsewhere (a line's database); the unit counter is then left alone.
    void setSerialSource(SerialSource* source)
    {
        serialSource_ = source;
        state_.FSerialFromLine = source != nullptr;
    }

    // Creation defaults of the run state.
    void SetDefaults();

    void btnStartClick();
    void StartCalibration();
    void StartStep(int step);
    void TimerSendTimer();
    void btnCancelClick();
    bool FormCloseQuery();
    void HandleReply();
    void HandleCalReply();
    void ParseReadSerial();
    void StoreMeasuredValue(int step);
    void TimerShowTimer();

    // The one way a run ends: the run flags down (FAborted raised for an abort), the three timers
    // stopped, the observers told. What the operator is shown stays with each ending.
    void EndRun(RunEnd end);
    // A clearing run's start once its list is built: run mode, log, flags, timers, observers.
    void BeginClearing();
    // Writes FLastSent, the frame of step `step`, to the port and tells the observers.
    void WriteLastSent(int step);
    // The operator's reading at the current meter step, in millivolts or milliamperes: stored into
    // the set-point frame that follows, which then starts. `typed` is the text as entered.
    void AcceptReading(const QString& typed, std::int32_t milli, ReadingSource source = ReadingSource::Typed);

    // Milliseconds since the run started, as the clock timer last computed them.
    qint64 elapsedMs() const { return elapsedMs_; }

private:
    // Forwards to the window and tells the observers of step states and log lines.
    class ObservedView : public RunView {
    public:
        ObservedView(RunEngine& engine, RunView& window) : engine_(engine), window_(window) {}
        void Notice(const QString& text) override { window_.Notice(text); }
        void Warning(const QString& text) override { window_.Warning(text); }
        void Error(const QString& text) override { window_.Error(text); }
        void Information(const QString& text) override { window_.Information(text); }
        BoxAnswer Question(const QString& text) override { return window_.Question(text); }
        BoxAnswer WarningQuestion(const QString& text) override { return window_.WarningQuestion(text); }
        void SetStepState(int step, const QString& text) override;
        void UpdateProgress() override { window_.UpdateProgress(); }
        void AddLogLine(const QString& text) override;
        void ClearLog() override { window_.ClearLog(); }
        void FillMsgList() override { window_.FillMsgList(); }
        void ClearMsgListStates() override { window_.ClearMsgListStates(); }
        void InitStepGrid(bool reset) override { window_.InitStepGrid(reset); }
        void ShowStepText(const QString& text) override { window_.ShowStepText(text); }
        void ShowResultLabel(const QString& text) override { window_.ShowResultLabel(text); }
        void ClearResultLabel() override { window_.ClearResultLabel(); }
        void SetStatusPanel(int panel, const QString& text) override { window_.SetStatusPanel(panel, text); }
        void SetProgressLine(const QString& text) override { window_.SetProgressLine(text); }
        void SetProgressBar(int percent) override { window_.SetProgressBar(percent); }
        void SetSerialBox(const QString& text) override { window_.SetSerialBox(text); }
        void SetButtonEnabled(ToolButton button, bool enabled) override { window_.SetButtonEnabled(button, enabled); }
        bool ButtonEnabled(ToolButton button) const override { return window_.ButtonEnabled(button); }

    private:
        RunEngine& engine_;
        RunView& window_;
    };

    template <typename Call>
    void Tell(Call call);
    RunKind CurrentKind() const;
    void CalibrationBranch();
    void FailCommunication();
    void RefuseUnwritableSerial();
    void RefuseWithoutSerial(const QString& reason);
    void HandOverToMeter();
    void CompleteCalibration();
    bool IsPointSelectionStep(int step) const;
    bool IsMeterStep(int step) const;

    SerialLink& link_;
    Clock& clock_;
    ObservedView view_;
    std::vector<RunObserver*> observers_;
    TRunState state_;
    std::unique_ptr<Timer> timerSend_;
    std::unique_ptr<Timer> timerReadVol_;
    std::unique_ptr<Timer> timerShow_;
    std::function<void()> readVolHandler_;
    std::function<void()> clearingTick_;
    std::function<void()> clearingReply_;
    std::function<void()> saveConfig_;
    SerialSource* serialSource_ = nullptr;
    qint64 elapsedMs_ = 0;
    // The point-selection step whose meter wait is running; a second reply to it is not handed over.
    int handingOverStep_ = 0;
    // Raised at every start, so a wait that outlives its run does not touch the next one.
    quint64 runGeneration_ = 0;
};
