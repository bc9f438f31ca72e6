// The run engine: run state, the send sequencer, reply handling and completion of a calibration run.
#pragma once

#include "Clock.h"
#include "RunState.h"
#include "RunView.h"
#include "SerialLink.h"

#include <functional>
#include <memory>

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
    RunView& view() { return view_; }

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

    // Milliseconds since the run started, as the clock timer last computed them.
    qint64 elapsedMs() const { return elapsedMs_; }

private:
    void CalibrationBranch();
    void FailCommunication();
    void RefuseUnwritableSerial();
    void HandOverToMeter();
    void CompleteCalibration();
    bool IsPointSelectionStep(int step) const;
    bool IsMeterStep(int step) const;

    SerialLink& link_;
    Clock& clock_;
    RunView& view_;
    TRunState state_;
    std::unique_ptr<Timer> timerSend_;
    std::unique_ptr<Timer> timerReadVol_;
    std::unique_ptr<Timer> timerShow_;
    std::function<void()> readVolHandler_;
    std::function<void()> clearingTick_;
    std::function<void()> clearingReply_;
    std::function<void()> saveConfig_;
    qint64 elapsedMs_ = 0;
    // The point-selection step whose meter wait is running; a second reply to it is not handed over.
    int handingOverStep_ = 0;
    // Raised at every start, so a wait that outlives its run does not touch the next one.
    quint64 runGeneration_ = 0;
};
