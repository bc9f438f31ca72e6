// The read timer's tick at a meter step: the prompt with its wiring picture, the reading, and the
// hand-over of the value to the run, or the abort of the run when the operator refuses.
#pragma once

#include "RunState.h"

#include <QString>

#include <cstdint>

class QWidget;
class RunEngine;
class TForm3;

// The two windows of a prompt, so the order of a prompt can be followed without them.
class MeterDialogs {
public:
    virtual ~MeterDialogs() = default;
    // Shows the information window with the text and picture 1..4; returns when it is closed.
    virtual void ShowInformation(const QString& text, int picture) = 0;
    // Asks for the reading; returns the dialog's result and, on 1, the value and its text as typed.
    virtual int AskValue(TRunMode mode, int step, double* value, QString* typed) = 0;
};

// The real windows: the one information window of the program and a fresh value dialog for each
// prompt, released when its prompt is over.
class WindowMeterDialogs : public MeterDialogs {
public:
    WindowMeterDialogs(TForm3& form3, QWidget* valueParent);
    void ShowInformation(const QString& text, int picture) override;
    int AskValue(TRunMode mode, int step, double* value, QString* typed) override;

private:
    TForm3& form3_;
    QWidget* valueParent_;
};

class MeterPrompt {
public:
    MeterPrompt(RunEngine& engine, MeterDialogs& dialogs);

    void TimerReadVolTimer();

    // The prompt of a meter step for a model code; empty for a step that asks nothing.
    static QString PromptText(int step, int model);
    // Which of the four pictures goes with a prompt: 1 mV, 2 V, 3 mA, 4 A.
    static int PictureFor(const QString& text, int step);

private:
    void AbortRun();

    RunEngine& engine_;
    MeterDialogs& dialogs_;
};
