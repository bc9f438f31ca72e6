// The automatic operator of a run without a display: one whole calibration through the real
// windows, each answered as an operator would, with every step told as it goes.
#pragma once

#include "RunObserver.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <functional>
#include <map>

class QWidget;
class TMainForm;

class AutoOperator : public QObject, public RunObserver {
    Q_OBJECT
public:
    struct Options {
        // The simulator's output, whose "METER <level> <unit>" lines give the levels to type when
        // no meter fills the value dialog; empty: only the meter's readings are taken.
        QString levelsFile;
        // The results database that must hold the run at the end; empty: not checked.
        QString databasePath;
        // The name the record gave the run just made: the run looked for, not merely the newest.
        std::function<QString()> runUid;
        // Longest wait for anything (a window, a reading, the end of the run).
        int patienceMs = 120000;
        // More than one: runs back to back (a soak), a stalled run aborted and the next started,
        // each run's outcome and the process's memory and open files told after it.
        int runs = 1;
    };

    AutoOperator(TMainForm& form, Options options, std::function<void(const QString&)> say);
    ~AutoOperator() override;

    // Starts once the event loop runs: Setting and OK, then Calibrate. Ends the event loop when the
    // run is over, with exit code 0 only for a finished run that the record holds.
    void Start();
    int exitCode() const { return exitCode_; }

    void RunStarted(RunKind kind, const TRunState& state) override;
    void FrameSent(int, const TPsuFrame&) override {}
    void StepState(int step, StepOutcome outcome) override;
    void ReadingAccepted(int meterStep, const QString& typed, std::int64_t valueSent, ReadingSource source,
                         const ReadingQuality& quality) override;
    void RunStalled(int step) override;
    void LogLine(const QString&) override {}
    void RunEnded(RunKind kind, RunEnd end, const TRunState& state) override;

protected:
    // Answers a window as soon as it is shown, rather than at the next poll.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Poll();
    void Later(std::function<void()> act);
    void Answer(QWidget* window);
    bool AnswerValueDialog(QWidget* window);
    QString LevelOfPoint(int point) const;
    void Finish(int code, const QString& why);
    // Abort on the toolbar, then Yes, as an operator ends a run.
    void PressAbort();

    TMainForm& form_;
    Options options_;
    std::function<void(const QString&)> say_;
    QTimer poll_;
    QTimer patience_;
    QPointer<QWidget> answered_;
    bool started_ = false;
    bool settingDone_ = false;
    bool busy_ = false;
    bool ended_ = false;
    // The result is told; the program ends once the run it aborted is over.
    bool finishing_ = false;
    RunEnd end_ = RunEnd::Aborted;
    int exitCode_ = 1;
    int points_ = 0;
    int levelPolls_ = 0;
    int runsDone_ = 0;
    std::map<QString, int> outcomes_;
    // The run's own time and the processor time it cost, for the figures printed at its end.
    QElapsedTimer runClock_;
    qint64 cpuAtStartUs_ = 0;
};
