// A window stand-in for engine tests: records every box and display call, answers questions
// from a queue, and keeps the displays' content in plain fields.
#pragma once

#include "RunView.h"

#include <QStringList>

#include <deque>
#include <functional>
#include <map>

class RecordingView : public RunView {
public:
    struct Box {
        QString kind;  // "Notice", "Warning", "Error", "Information", "Question", "WarningQuestion"
        QString text;
    };

    void Notice(const QString& text) override { box("Notice", text); }
    void Warning(const QString& text) override { box("Warning", text); }
    void Error(const QString& text) override { box("Error", text); }
    void Information(const QString& text) override { box("Information", text); }
    // Answered at once, as an operator who answers before anything else happens.
    void Question(const QString& text, Answered then) override { then(ask("Question", text)); }
    void WarningQuestion(const QString& text, Answered then) override { then(ask("WarningQuestion", text)); }

    void SetStepState(int step, StepOutcome outcome) override
    {
        const QString text = StepOutcomeText(outcome);
        stepStates[step] = text;
        calls << QStringLiteral("SetStepState(%1,%2)").arg(step).arg(text);
        if (onStepState) onStepState(step, text);
    }
    void UpdateProgress() override
    {
        ++progressUpdates;
        calls << QStringLiteral("UpdateProgress");
    }
    void AddLogLine(const QString& text) override { log << text; }
    void ClearLog() override { log.clear(); }
    void FillMsgList() override { calls << QStringLiteral("FillMsgList"); }
    void ClearMsgListStates() override
    {
        stepStates.clear();
        calls << QStringLiteral("ClearMsgListStates");
    }
    void InitStepGrid(bool reset) override
    {
        calls << QStringLiteral("InitStepGrid(%1)").arg(reset ? "true" : "false");
        if (reset) {
            progressLine.clear();
            progressBar = 0;
        }
    }
    void ShowStepText(const QString& text) override
    {
        QString t = text.toLower();
        const int cut = t.indexOf(QLatin1Char(']'));
        progressLine = cut >= 0 ? t.mid(cut + 1) : t;
    }
    void ShowResultLabel(const QString& text) override { resultLabel = text; }
    void ClearResultLabel() override { resultLabel.clear(); }
    void SetStatusPanel(int panel, const QString& text) override { statusPanels[panel] = text; }
    void SetProgressLine(const QString& text) override { progressLine = text; }
    void SetProgressBar(int percent) override { progressBar = percent; }
    void SetSerialBox(const QString& text) override { serialBox = text; }
    void SetStallLine(const QString& text) override { stallLine = text; }
    void SetButtonEnabled(ToolButton button, bool enabled) override { buttons[button] = enabled; }
    bool ButtonEnabled(ToolButton button) const override
    {
        auto it = buttons.find(button);
        return it == buttons.end() ? true : it->second;
    }

    // Answers for the next questions, in order; Yes when the queue is empty.
    std::deque<BoxAnswer> answers;
    // Runs when a box is shown (the box is modal: time can pass inside it in a test).
    std::function<void(const Box&)> onBox;
    // Runs when a step's state is shown, for a test that acts at a given step.
    std::function<void(int step, const QString& text)> onStepState;

    std::vector<Box> boxes;
    QStringList calls;
    QStringList log;
    std::map<int, QString> stepStates;
    std::map<int, QString> statusPanels;
    std::map<ToolButton, bool> buttons;
    QString progressLine;
    QString resultLabel;
    QString serialBox;
    QString stallLine;
    int progressBar = 0;
    int progressUpdates = 0;

    QStringList boxTexts(const QString& kind) const
    {
        QStringList out;
        for (const Box& b : boxes)
            if (b.kind == kind) out << b.text;
        return out;
    }

private:
    void box(const char* kind, const QString& text)
    {
        boxes.push_back({QString::fromLatin1(kind), text});
        if (onBox) onBox(boxes.back());
    }
    BoxAnswer ask(const char* kind, const QString& text)
    {
        box(kind, text);
        if (answers.empty()) return BoxAnswer::Yes;
        BoxAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
};
