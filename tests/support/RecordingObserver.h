// Records what a run observer is told, in order, with what the run state and the window held then.
#pragma once

#include "RecordingView.h"
#include "RunObserver.h"
#include "RunState.h"

#include <QStringList>

#include <vector>

class RecordingObserver : public RunObserver {
public:
    struct Ended {
        RunKind kind;
        RunEnd end;
        bool calibrating;
        bool clearing;
        bool aborted;
        int boxesBefore;  // boxes the window had shown when the end was told
    };
    struct Reading {
        int meterStep;
        QString typed;
        std::int64_t sent;
        ReadingSource source;
        ReadingQuality quality;
    };

    explicit RecordingObserver(const RecordingView* view = nullptr) : view_(view) {}

    void RunStarted(RunKind kind, const TRunState& s) override
    {
        started.push_back(kind);
        events << QStringLiteral("started");
        stepsAtStart = static_cast<int>(s.FCalList.size());
    }
    void FrameSent(int step, const TPsuFrame& frame) override
    {
        sent.emplace_back(step, frame);
        events << QStringLiteral("sent %1").arg(step);
    }
    void StepState(int step, StepOutcome outcome) override
    {
        states.emplace_back(step, StepOutcomeText(outcome));
        events << QStringLiteral("state %1").arg(step);
    }
    void ReadingAccepted(int meterStep, const QString& typed, std::int64_t valueSent, ReadingSource source,
                         const ReadingQuality& quality) override
    {
        readings.push_back({meterStep, typed, valueSent, source, quality});
        events << QStringLiteral("reading %1").arg(meterStep);
    }
    void RunStalled(int step) override
    {
        stalled.push_back(step);
        events << QStringLiteral("stalled %1").arg(step);
    }
    void LogLine(const QString& line) override { log << line; }
    void RunEnded(RunKind kind, RunEnd end, const TRunState& s) override
    {
        ended.push_back({kind, end, s.FCalibrating, s.FClearing, s.FAborted,
                         view_ ? static_cast<int>(view_->boxes.size()) : -1});
        events << QStringLiteral("ended");
    }

    std::vector<RunKind> started;
    std::vector<std::pair<int, TPsuFrame>> sent;
    std::vector<std::pair<int, QString>> states;
    std::vector<Reading> readings;
    std::vector<int> stalled;
    std::vector<Ended> ended;
    QStringList log;
    QStringList events;
    int stepsAtStart = 0;

private:
    const RecordingView* view_;
};
