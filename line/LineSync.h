// Sends the runs waiting in a bench's results file to the line's server, oldest first, each once.
#pragma once

#include "LineSettings.h"
#include "ResultsDb.h"

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <functional>

// One pass at a time, on the thread that calls it (its connections are that thread's).
class LineSync {
public:
    LineSync(LineSettings settings, QString localPath);

    // Sends every queued run; returns how many reached the server, or -1 when a pass stopped
    // with *error set (the run it stopped at and all after it stay queued, in order). A pass
    // asked to `stop` ends after the run it is sending.
    int SendQueued(QString* error, const std::function<bool()>& stop = {});
    // Runs still waiting.
    int Queued(QString* error);

private:
    bool OpenBoth(QString* error);
    bool SendRun(qint64 localId, QString* error);

    LineSettings settings_;
    QString localPath_;
    ResultsDb local_;
    ResultsDb server_;
};

// The queue's own thread: a pass whenever a run has ended, and every `retryMs` while runs wait.
// What it has to say reaches the owner on the owner's thread.
class LineUploader : public QThread {
public:
    // `report(text, trouble)`: trouble when the line cannot be reached (told once until it is
    // reached again), not when it is back.
    using Report = std::function<void(const QString& text, bool trouble)>;
    LineUploader(LineSettings settings, QString localPath, Report report, QObject* owner);
    ~LineUploader() override;

    void Kick();
    // Ends the thread, waiting `limitMs` at most: true once it has ended. A pass still in a call
    // to the server ends with that call's own limits, and tells no one; the object must then
    // live on until the thread ends.
    bool Stop(int limitMs = LineStopLimitMs);

protected:
    void run() override;

private:
    LineSettings settings_;
    QString localPath_;
    Report report_;
    QObject* owner_;
    QMutex mutex_;
    QWaitCondition wake_;
    bool kicked_ = true;
    bool stopping_ = false;
};
