// The read timer's tick at a meter step: the prompt with its wiring picture, the reading, and the
// hand-over of the value to the run, or the abort of the run when the operator refuses.
#pragma once

#include "MeterLink.h"
#include "MeterSettings.h"
#include "RunObserver.h"
#include "RunState.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

class MeterLink;
class MeterReader;
class QWidget;
class RunEngine;
class TForm3;

// What the value dialog is asked for at a meter step, and what it gives back.
struct ValueRequest {
    int step = 0;
    std::uint8_t model = 0;
    QString meterCommand;  // the step's query for a meter
};
struct ValueAnswer {
    std::int32_t milli = 0;  // the value as the supply receives it
    QString typed;  // the entry's text as accepted
    ReadingSource source = ReadingSource::Typed;
    ReadingQuality quality;
};

// The two windows of a prompt, so the order of a prompt can be followed without them. Both
// return at once, nothing waiting for the operator in a loop of its own; what follows is handed in.
class MeterDialogs {
public:
    using Closed = std::function<void()>;
    // The dialog's result and, on 1, the answer.
    using Answered = std::function<void(int result, const ValueAnswer& answer)>;
    virtual ~MeterDialogs() = default;
    // Shows the information window with the text and picture 1..4; `closed` runs when it is closed.
    virtual void ShowInformation(const QString& text, int picture, Closed closed) = 0;
    // Asks for the reading; `answered` gets it when the dialog closes.
    virtual void AskValue(const ValueRequest& request, Answered answered) = 0;
};

// The real windows: the one information window of the program and a fresh value dialog for each
// prompt, released when its prompt is over. With a meter set up, the dialog comes filled with its
// reading, taken while the dialog is open.
class WindowMeterDialogs : public MeterDialogs {
public:
    WindowMeterDialogs(TForm3& form3, QWidget* valueParent);
    ~WindowMeterDialogs() override;
    void ShowInformation(const QString& text, int picture, Closed closed) override;
    void AskValue(const ValueRequest& request, Answered answered) override;

    // The meter from now on (an SCPI line or a libsigrok meter), and the plausibility share that
    // goes with its settings; a channel given here (tests) is used instead of one of the settings' own.
    // Returns why the meter set up cannot be read, for the operator; empty when it can be tried.
    QString ApplyMeter(const MeterSettings& settings, const QString& devicePath, MeterChannel* channel = nullptr);
    // Who the meter that gave the last reading said it is; empty without a meter.
    MeterIdentity Identity() const;
    // How a reading is found unusual for the model (a notice, or empty); unset, nothing is.
    using UnusualCheck = std::function<QString(int step, std::uint8_t model, double value, const QString& shown)>;
    void setUnusualCheck(UnusualCheck check) { unusualCheck_ = std::move(check); }

private:
    TForm3& form3_;
    QWidget* valueParent_;
    MeterSettings settings_;
    std::unique_ptr<MeterChannel> link_;
    std::unique_ptr<MeterReader> reader_;
    MeterChannel* channel_ = nullptr;
    UnusualCheck unusualCheck_;
};

class MeterPrompt {
public:
    MeterPrompt(RunEngine& engine, MeterDialogs& dialogs);

    // The read timer's tick at a meter step of an active run.
    void TimerReadVolTimer();

private:
    RunEngine& engine_;
    MeterDialogs& dialogs_;
};
