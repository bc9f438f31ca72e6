// The run engine: the run state it alone changes, the send sequencer, reply handling and every end of a run.
#pragma once

#include "Clock.h"
#include "RunObserver.h"
#include "RunState.h"
#include "RunView.h"
#include "SerialLink.h"

#include <QStringList>

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
        QStringList notes;         // for the run's event log: how the number was found
    };
    using Answer = std::function<void(const Grant& grant)>;
    // Asked once per run, when the supply has reported no number of its own. `answer` is called
    // once, on the asking thread, at once or later; the run does not wait longer than LimitMs().
    virtual void Request(const TRunState& state, Answer answer) = 0;
    virtual int LimitMs() const = 0;
};

// What is particular to the clearing run; the engine sends its list and counts its sends.
class ClearingSteps {
public:
    virtual ~ClearingSteps() = default;
    // The progress line of every send tick, before the end of the list is looked for: step
    // `step` of `count` slots.
    virtual QString TickText(int step, int count) const = 0;
    // The frame of step `step` is about to be sent.
    virtual void ShowSend(RunView& view, int step, int count) = 0;
    virtual QString LogLine(int step, const TPsuFrame& frame) const = 0;
    // Whether a valid answer is the supply's confirmation of a clearing frame.
    virtual bool IsConfirmation(const TPsuFrame& reply, int address) const = 0;
};

// How a run came to its end; what the operator sees afterwards follows from it alone.
enum class EndCause {
    LastAnswer,         // the answer to the last step came
    SendLimit,          // the serial-number or testing-information frame went unanswered
    UnwritableCounter,  // the unit counter cannot be written as a serial number
    NoLineSerial,       // the line's database gave a supply without a number none
    UnknownCounter,     // the unit counter could not be read, or the number it gives could not be saved as given
    ToolbarAbort,       // the operator confirmed the toolbar's Abort
    ReadingRefused,     // the operator closed the value dialog without a reading
    Cleared,            // every clearing frame was confirmed
    ClearingSendLimit,  // a clearing frame went unconfirmed
};
RunEnd EndOf(EndCause cause);

// The settings dialog's values, as the run uses them.
struct RunSettings {
    QString operatorName;
    QString temperature;
    QString humidity;
    std::int32_t address = 0;
};

// What Config.Ini gives the run.
struct StoredConfig {
    std::int32_t unitCounter = 1;
    int readIntervalMs = 500;
};

class RunEngine {
public:
    RunEngine(SerialLink& link, Clock& clock, RunView& view);
    ~RunEngine();
    RunEngine(const RunEngine&) = delete;
    RunEngine& operator=(const RunEngine&) = delete;

    const TRunState& state() const { return state_; }
    const SerialLink& link() const { return link_; }
    const Clock& clock() const { return clock_; }
    // The window as every part of a run reaches it; step states and log lines are also told to
    // the observers.
    RunView& view() { return view_; }
    // Whether a calibration or clearing run is going on.
    bool IsRunning() const { return state_.FCalibrating || state_.FClearing; }

    // Observers watch every run from its start to its end; they must outlive their registration.
    void AddObserver(RunObserver* observer);
    void RemoveObserver(RunObserver* observer);

    const Timer& TimerSend() const { return *timerSend_; }
    const Timer& TimerReadVol() const { return *timerReadVol_; }
    const Timer& TimerShow() const { return *timerShow_; }

    // Hooks wired by the owner.
    // The read timer's tick at a meter step of an active run: the operator's prompt and value entry.
    void setReadVolHandler(std::function<void()> handler) { readVolHandler_ = std::move(handler); }
    // Writes the configuration file; throws AppError when it cannot.
    void setSaveConfig(std::function<void()> save) { saveConfig_ = std::move(save); }
    // Asked before the bench's own unit counter gives a supply its number: the counter after that
    // number is saved first, so that nothing later (a full disk at the run's end, a crash) can make
    // a start give the number again. Returns why it cannot be (empty: the number may be given).
    void setReserveCounter(std::function<QString()> reserve) { reserveCounter_ = std::move(reserve); }
    // Asked when Calibrate is pressed, before "Are you all ready ?": a doubt about the run the
    // operator may stop for (a meter past its calibration due date), as a question that goes ahead
    // only on Yes; empty when there is none.
    void setStartDoubt(std::function<QString()> doubt) { startDoubt_ = std::move(doubt); }
    // Serial numbers from elsewhere (a line's database); the unit counter is then left alone.
    void setSerialSource(SerialSource* source)
    {
        serialSource_ = source;
        state_.FSerialFromLine = source != nullptr;
    }

    // Creation defaults of the run state.
    void SetDefaults();
    // What Config.Ini holds: the unit counter and the read timer's period.
    void LoadConfig(const StoredConfig& config);
    // The settings dialog was confirmed; the model follows once the port is open.
    void ApplySettings(const RunSettings& settings);
    void SelectModel(std::uint8_t model);
    // Opens the supply's port (closing any open one); false when it did not open.
    bool OpenPort(int port, int baud) { return link_.OpenPort(port, baud); }

    void btnStartClick();
    void StartCalibration();
    void StartStep(int step);
    void TimerSendTimer();
    void btnCancelClick();
    bool FormCloseQuery();
    // The operator's reading at the current meter step, in millivolts or milliamperes: stored into
    // the set-point frame that follows, which then starts. `typed` is the text as entered. Nothing
    // happens when the run is over.
    void AcceptReading(const QString& typed, std::int32_t milli, ReadingSource source = ReadingSource::Typed,
                       const ReadingQuality& quality = {});
    // The operator closed the value dialog without a reading: the run is aborted at its point.
    void RefuseReading();
    // A clearing run over `list`; `lastSent` is the frame its list was composed in.
    void StartClearing(ClearingSteps& steps, TSendQueue list, const TPsuFrame& lastSent);
    // A whole answer came from the link.
    void HandleReply();
    // Writes the last reading into the set-point frame of `step` and logs it.
    void StoreMeasuredValue(int step);

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
        void Question(const QString& text, Answered then) override { window_.Question(text, std::move(then)); }
        void WarningQuestion(const QString& text, Answered then) override { window_.WarningQuestion(text, std::move(then)); }
        void SetStepState(int step, StepOutcome outcome) override;
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
        void SetStallLine(const QString& text) override { window_.SetStallLine(text); }
        void SetButtonEnabled(ToolButton button, bool enabled) override { window_.SetButtonEnabled(button, enabled); }
        bool ButtonEnabled(ToolButton button) const override { return window_.ButtonEnabled(button); }

    private:
        RunEngine& engine_;
        RunView& window_;
    };

    template <typename Call>
    void Tell(Call call);
    void ClearStallLine();
    RunKind CurrentKind() const;
    void TimerReadVolTimer();
    void TimerShowTimer();
    void CalibrationBranch();
    void ClearingBranch();
    void HandleCalReply();
    // What follows the answer to `step` of a calibration.
    void NextAfterAnswer(int step);
    // The supply has no number: the line is asked for one, and the run goes on when it is given.
    void AskLineForSerial();
    void SerialGiven(quint64 generation, const SerialSource::Grant& grant);
    void TimerSerialTimer();
    void HandleClearingReply();
    void ParseReadSerial();
    void HandOverToMeter();
    void MeterDelayOver();
    // The supply has written its EEPROM: the run's sends go on, and an answer that came meanwhile is taken.
    void SlowFramePauseOver();
    void WriteLastSent(int step);
    // The one way a run ends: the run flags down, the three timers stopped, the observers told,
    // then what the operator is shown after that kind of ending. `reason` is the line database's
    // word for NoLineSerial. An ended run stays ended: a second end does nothing.
    void EndRun(EndCause cause, const QString& reason = QString());
    void ShowEnding(EndCause cause, const QString& reason);
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
    // The pause between a point-selection step's answer and the operator's prompt.
    std::unique_ptr<Timer> timerMeterDelay_;
    // The limit of the wait for the line's serial number.
    std::unique_ptr<Timer> timerSerial_;
    // The supply's EEPROM write after a slow frame: while it runs nothing is sent, by this run or
    // the next, and answers wait. A timer, so that the windows and what reads them go on meanwhile.
    std::unique_ptr<Timer> timerSlowPause_;
    quint64 slowPauseRun_ = 0;
    bool replyHeld_ = false;
    std::function<void()> readVolHandler_;
    std::function<void()> saveConfig_;
    std::function<QString()> reserveCounter_;
    std::function<QString()> startDoubt_;
    // The stall line is shown: the run waits for a late answer.
    bool stallShown_ = false;
    SerialSource* serialSource_ = nullptr;
    ClearingSteps* clearingSteps_ = nullptr;
    qint64 elapsedMs_ = 0;
    // The point-selection step whose meter pause is running; a second reply to it is not handed over.
    int handingOverStep_ = 0;
    // Raised at every start, so a wait that outlives its run does not touch the next one.
    quint64 runGeneration_ = 0;
    // The run that waits for the line's serial number (its generation; 0: none does).
    quint64 serialWait_ = 0;
};
