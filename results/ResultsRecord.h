// The record of every run: watches the engine and writes each change to the results database as
// it happens, in its own transaction. It never steers a run, and its faults never reach one.
#pragma once

#include "ResultsDb.h"
#include "RunObserver.h"

#include <QDateTime>
#include <QSqlError>
#include <QString>
#include <QStringList>

#include <QSqlQuery>

#include <functional>
#include <map>

class RunEngine;

struct RecordContext {
    QString bench;           // the host name
    QString programVersion;  // "1.1.0.19"
};

// The meter at hand as the bench's [Meter] section describes it, whether the program reads it or
// the operator does.
struct BenchMeter {
    QString assetId;
    QString calibrationDue;          // yyyy-MM-dd, as written
    double plausibilityShare = 0.0;  // 0.10 for 10 %; 0: readings are not checked
    QString accuracy;                // its datasheet accuracy as entered; empty: none given
};

class ResultsRecord : public RunObserver {
public:
    // Registers with the engine; `databasePath` is opened by Open().
    ResultsRecord(RunEngine& engine, QString databasePath, RecordContext context);
    ~ResultsRecord() override;
    ResultsRecord(const ResultsRecord&) = delete;
    ResultsRecord& operator=(const ResultsRecord&) = delete;

    // Opens or creates the database. False when it cannot; the fault has been reported. Every
    // run start tries again while it is closed.
    bool Open();
    // The database must not be opened at all, for this reason: every attempt reports it instead.
    void setRefusal(QString why) { refusal_ = std::move(why); }

    // Told of a fault with a message for the operator: once per run at most, and `firstThisStart`
    // only for the first fault since the program started (the one worth a message box).
    using FaultSink = std::function<void(const QString& message, bool firstThisStart)>;
    void setFaultSink(FaultSink sink) { faultSink_ = std::move(sink); }

    const ResultsDb& db() const { return db_; }
    // The id of the run being recorded, or of the last one; 0 when none was recorded.
    qint64 runId() const { return runId_; }
    // The name of the run being recorded (or of the last one), the same in every database it
    // reaches; made at its start even when the record cannot be written.
    QString runUid() const { return runUid_; }
    // On a line of benches every ended run waits in the file's queue until the line has it.
    void setQueueForLine(bool queue) { queueForLine_ = queue; }
    // Asked, at each reading taken from the meter, who the meter is.
    void setMeterIdentity(std::function<MeterOfRun()> who) { meterIdentity_ = std::move(who); }
    // Asked, at each reading taken, whether it was found unusual for the model.
    void setUnusualJudge(std::function<bool(int meterStep, std::int64_t valueSent)> judge) { unusual_ = std::move(judge); }
    // Asked at each calibration's start which meter the bench has at hand.
    void setBenchMeter(std::function<BenchMeter()> which) { benchMeter_ = std::move(which); }
    // The question to ask before a calibration whose meter is past its calibration due date (or
    // whose due date cannot be read); empty when the meter is in date or none is named.
    QString MeterDueQuestion() const;
    // Told once at the start of a calibration whose meter is past its calibration due date (or
    // whose due date cannot be read), with a line for the event log; the run goes on as always.
    // A calibration made with a meter past its due date gets no certificate number.
    using NoticeSink = std::function<void(const QString& message)>;
    void setNoticeSink(NoticeSink sink) { noticeSink_ = std::move(sink); }
    // Told when a run's end has been written: the queue may send it.
    void setRunWritten(std::function<void()> written) { runWritten_ = std::move(written); }

    void RunStarted(RunKind kind, const TRunState& state) override;
    void FrameSent(int step, const TPsuFrame& frame) override;
    void StepState(int step, StepOutcome outcome) override;
    void ReadingAccepted(int meterStep, const QString& typed, std::int64_t valueSent, ReadingSource source,
                         const ReadingQuality& quality) override;
    void RunStalled(int step) override;
    void LogLine(const QString& line) override;
    void RunEnded(RunKind kind, RunEnd end, const TRunState& state) override;

private:
    struct Step {
        QString state;
        int sends = 0;
        QString at;
    };

    // How far a commit goes before the run goes on. A change in the middle of a run is handed to
    // the system only: a slow disk must not hold up the next frame. A run's start and its end
    // wait for the disk, and the end's flush takes every change before it along.
    enum class Durability { OnDisk, Handed };
    // One transaction; on failure it is rolled back and the fault reported.
    bool Write(const std::function<bool()>& change, Durability durability = Durability::Handed);
    bool SetDurability(Durability durability);
    // Runs a prepared query inside a change, keeping its error for the fault report.
    bool Exec(QSqlQuery& q);
    bool WriteStep(int step);
    bool WriteRun();
    void Fault(const QString& what);
    void TellMeterDue(const BenchMeter& meter, const QDate& day);
    QString Now() const;

    RunEngine& engine_;
    QString path_;
    QString refusal_;
    RecordContext context_;
    ResultsDb db_;
    FaultSink faultSink_;
    QSqlError lastError_;
    bool reportedThisStart_ = false;
    bool reportedThisRun_ = false;
    Durability durability_ = Durability::OnDisk;

    // The run being recorded.
    qint64 runId_ = 0;
    QString runUid_;
    bool queueForLine_ = false;
    std::function<void()> runWritten_;
    std::function<MeterOfRun()> meterIdentity_;
    std::function<bool(int, std::int64_t)> unusual_;
    std::function<BenchMeter()> benchMeter_;
    NoticeSink noticeSink_;
    QString certificateNo_;  // given when the calibration finished
    bool meterPastDue_ = false;  // of the run being recorded: its page is a report, not a certificate
    MeterOfRun meter_;  // of the run being recorded; empty while no reading came from a meter
    bool recording_ = false;
    // A write of this run failed: the rest waits for the run's end, tried once more then.
    bool failedThisRun_ = false;
    RunKind kind_ = RunKind::Calibration;
    QString result_;
    QString endedAt_;
    qint64 endedMs_ = 0;
    QString serialWritten_;
    QString dateWritten_;
    QStringList log_;
    std::map<int, Step> steps_;
    int lastSentStep_ = 0;
};
