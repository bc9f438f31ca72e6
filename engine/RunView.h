// What the run engine needs from the window: message boxes, the progress displays and the buttons.
#pragma once

#include "RunTexts.h"

#include <QString>

#include <functional>

enum class BoxAnswer { Yes, No, Closed };
// What is done with the answer to a question, once the operator gives it.
using Answered = std::function<void(BoxAnswer)>;

enum class ToolButton { Setting, Start, Clear, Cancel };

class RunView {
public:
    virtual ~RunView() = default;

    // Message boxes. Notice: OK button and the application's title. Warning, Error, Information:
    // one Yes button and those titles. Question: Yes and No; Closed when dismissed otherwise. A
    // question returns at once, nothing waiting for the operator; `then` gets the answer.
    virtual void Notice(const QString& text) = 0;
    virtual void Warning(const QString& text) = 0;
    virtual void Error(const QString& text) = 0;
    virtual void Information(const QString& text) = 0;
    virtual void Question(const QString& text, Answered then) = 0;
    // A question shown with the warning icon, No the default ("Do you clearing ?").
    virtual void WarningQuestion(const QString& text, Answered then) = 0;

    // Progress display.
    virtual void SetStepState(int step, StepOutcome outcome) = 0;
    virtual void UpdateProgress() = 0;
    virtual void AddLogLine(const QString& text) = 0;
    virtual void ClearLog() = 0;
    virtual void FillMsgList() = 0;
    virtual void ClearMsgListStates() = 0;
    virtual void InitStepGrid(bool reset) = 0;
    virtual void ShowStepText(const QString& text) = 0;
    virtual void ShowResultLabel(const QString& text) = 0;
    virtual void ClearResultLabel() = 0;
    virtual void SetStatusPanel(int panel, const QString& text) = 0;
    // The progress line written as given (not lower-cased).
    virtual void SetProgressLine(const QString& text) = 0;
    virtual void SetProgressBar(int percent) = 0;
    virtual void SetSerialBox(const QString& text) = 0;
    // A line that says what to check while the run waits for a supply that does not answer; empty
    // once the run moves on or ends.
    virtual void SetStallLine(const QString& text) = 0;

    virtual void SetButtonEnabled(ToolButton button, bool enabled) = 0;
    virtual bool ButtonEnabled(ToolButton button) const = 0;
};
