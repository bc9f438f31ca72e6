// The record of every run: watches the engine and writes each change to the results database as
// it happens, in its own transaction. It never steers a run, and its faults never reach one.
#include "ResultsRecord.h"

#include "CalPoints.h"
#include "ReadingSummary.h"
#include "RunEngine.h"
#include "RunWords.h"

#include <QSqlQuery>
#include <QUuid>

#include <cstdlib>

namespace {

const QString Interrupted = ResultWord(RecordResult::Interrupted);
const QString Stalled = ResultWord(RecordResult::Stalled);


QVariant TextOrNull(const QString& text) { return text.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(text); }

// A certificate's number: the bench's name keeps the benches of a line apart, the run's id the
// runs of one file, and the day of the run the runs of a file that was moved aside as damaged
// and started anew with ids from 1. It is given once and stored, so that every print of the
// certificate and the line's copy of the run carry the same number. Runs recorded before
// numbers were given have none, and their pages say so: a number made up for them later could
// not be the same in the bench's file and on the line, where the run has another id.
QString CertificateNumber(const QString& bench, const QDateTime& started, qint64 runId)
{
    const QString rest = QStringLiteral("%1-%2").arg(started.toString(QStringLiteral("yyyyMMdd"))).arg(runId, 4, 10, QLatin1Char('0'));
    return bench.trimmed().isEmpty() ? rest : bench.trimmed() + QLatin1Char('-') + rest;
}

}  // namespace

ResultsRecord::ResultsRecord(RunEngine& engine, QString databasePath, RecordContext context)
    : engine_(engine), path_(std::move(databasePath)), context_(std::move(context))
{
    engine_.AddObserver(this);
}

ResultsRecord::~ResultsRecord() { engine_.RemoveObserver(this); }

QString ResultsRecord::Now() const { return IsoTime(engine_.clock().now()); }

bool ResultsRecord::Open()
{
    if (db_.isOpen()) return true;
    if (!refusal_.isEmpty()) {
        Fault(QStringLiteral("results are not recorded: %1").arg(refusal_));
        return false;
    }
    if (db_.open(path_, ResultsDb::Mode::Record)) {
        if (!db_.movedAside().isEmpty())
            Fault(QStringLiteral("the results database was damaged; it was moved to %1 and a new one started")
                      .arg(db_.movedAside()));
        // The write-ahead log is copied into the file after each run's end instead of whenever
        // it fills, which could be in the middle of a run.
        QSqlQuery pragma(db_.database());
        pragma.exec(QStringLiteral("PRAGMA wal_autocheckpoint=0"));
        durability_ = Durability::OnDisk;
        // Runs a crash cut short never ended; the line has them all the same.
        if (queueForLine_)
            Write(
                [&] {
                    QSqlQuery q(db_.database());
                    q.prepare(QStringLiteral("INSERT OR IGNORE INTO LineQueue (run_id) SELECT id FROM TestResult WHERE ended_ms IS NULL"));
                    return Exec(q);
                },
                Durability::OnDisk);
        return true;
    }
    Fault(QStringLiteral("results are not recorded: %1").arg(db_.errorText()));
    return false;
}

void ResultsRecord::Fault(const QString& what)
{
    if (reportedThisRun_) return;
    reportedThisRun_ = true;
    const bool first = !reportedThisStart_;
    reportedThisStart_ = true;
    if (faultSink_) faultSink_(QStringLiteral("<Results> ") + what, first);
}

namespace {

// What is wrong with the meter's due date on `day`, as the end of a sentence; empty when nothing is.
QString MeterDueProblem(const BenchMeter& meter, const QDate& day)
{
    const QString asset = meter.assetId.isEmpty() ? QString() : QStringLiteral(" (asset %1)").arg(meter.assetId);
    switch (MeterDueOn(meter.calibrationDue, day)) {
        case MeterDue::PastDue:
            return QStringLiteral("the meter's calibration was due on %1%2: a unit calibrated with it gets a report without a "
                                  "certificate number")
                .arg(meter.calibrationDue, asset);
        case MeterDue::Unreadable:
            return QStringLiteral("the meter's calibration due date \"%1\"%2 in [Meter] of Config.Ini is not a date (yyyy-MM-dd): "
                                  "this unit's certificate cannot say whether the meter was in calibration")
                .arg(meter.calibrationDue, asset);
        case MeterDue::NotGiven:
        case MeterDue::InDate: break;
    }
    return {};
}

}  // namespace

QString ResultsRecord::MeterDueQuestion() const
{
    QString problem = benchMeter_ ? MeterDueProblem(benchMeter_(), engine_.clock().now().date()) : QString();
    if (problem.isEmpty()) return {};
    problem[0] = problem[0].toUpper();
    return problem + QStringLiteral(". Calibrate anyway?");
}

void ResultsRecord::TellMeterDue(const BenchMeter& meter, const QDate& day)
{
    meterPastDue_ = MeterDueOn(meter.calibrationDue, day) == MeterDue::PastDue;
    const QString problem = MeterDueProblem(meter, day);
    if (noticeSink_ && !problem.isEmpty()) noticeSink_(QStringLiteral("<Meter> ") + problem);
}

bool ResultsRecord::SetDurability(Durability durability)
{
    if (durability == durability_) return true;
    QSqlQuery q(db_.database());
    if (!q.exec(durability == Durability::OnDisk ? QStringLiteral("PRAGMA synchronous=FULL")
                                                 : QStringLiteral("PRAGMA synchronous=NORMAL"))) {
        lastError_ = q.lastError();
        return false;
    }
    durability_ = durability;
    return true;
}

bool ResultsRecord::Write(const std::function<bool()>& change, Durability durability)
{
    QSqlDatabase db = db_.database();
    if (!db.isOpen()) return false;
    QSqlError error;
    if (!SetDurability(durability)) {
        error = lastError_;
    } else if (db.transaction()) {
        if (change()) {
            if (db.commit()) return true;
            error = db.lastError();
        } else {
            error = lastError_;
        }
        db.rollback();
    } else {
        error = db.lastError();
    }
    failedThisRun_ = true;
    if (ResultsDb::IsCorruption(error.nativeErrorCode())) {
        // Kept aside, never deleted; the next run starts a new file.
        db_.close();
        const QString aside = ResultsDb::MoveAside(path_);
        Fault(QStringLiteral("the results database is damaged (%1); it was moved to %2").arg(error.text(), aside));
        return false;
    }
    Fault(QStringLiteral("results are not recorded: %1: %2").arg(path_, error.text()));
    return false;
}

bool ResultsRecord::Exec(QSqlQuery& q)
{
    if (q.exec()) return true;
    lastError_ = q.lastError();
    return false;
}

void ResultsRecord::RunStarted(RunKind kind, const TRunState& s)
{
    recording_ = false;
    runId_ = 0;
    failedThisRun_ = false;
    reportedThisRun_ = false;
    kind_ = kind;
    result_ = Interrupted;
    endedAt_.clear();
    endedMs_ = 0;
    serialWritten_.clear();
    dateWritten_.clear();
    meter_ = {};
    certificateNo_.clear();
    log_.clear();
    steps_.clear();
    lastSentStep_ = 0;
    runUid_ = QUuid::createUuid().toString(QUuid::WithoutBraces);
    // A clearing run reads no meter. The operator hears of the meter's due date even when the
    // record cannot be written.
    const bool calibration = kind == RunKind::Calibration;
    const BenchMeter bench = calibration && benchMeter_ ? benchMeter_() : BenchMeter{};
    meterPastDue_ = false;
    if (calibration) TellMeterDue(bench, s.FStartTime.date());
    if (!db_.isOpen() && !Open()) return;

    const SerialLink& link = engine_.link();
    qint64 id = 0;
    const bool ok = Write([&] {
        QSqlQuery q(db_.database());
        q.prepare(QStringLiteral(
            "INSERT INTO TestResult (kind, started_at, started_ms, result, model, address, port, baud, test_code,"
            " operator, temperature, humidity, bench, program_version, unit_counter_before, run_uid,"
            " meter_asset_id, meter_calibration_due, plausibility_pct, meter_accuracy)"
            " VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
        q.addBindValue(kind == RunKind::Clearing ? QStringLiteral("clearing") : QStringLiteral("calibration"));
        q.addBindValue(IsoTime(s.FStartTime));
        q.addBindValue(s.FStartTime.toMSecsSinceEpoch());
        q.addBindValue(result_);
        q.addBindValue(ModelName(s.FModel));
        q.addBindValue(s.FAddress);
        q.addBindValue(QStringLiteral("COM%1").arg(link.FPortNo));
        q.addBindValue(link.FBaud);
        q.addBindValue(QStringLiteral("%1").arg(s.FTestCode & 0xFFFFFF, 6, 16, QLatin1Char('0')).toUpper());
        q.addBindValue(s.FOperatorName);
        q.addBindValue(s.FTemperature);
        q.addBindValue(s.FHumidity);
        q.addBindValue(context_.bench);
        q.addBindValue(context_.programVersion);
        q.addBindValue(static_cast<qint64>(s.FUnitCounter));
        q.addBindValue(runUid_);
        q.addBindValue(TextOrNull(bench.assetId));
        q.addBindValue(TextOrNull(bench.calibrationDue));
        q.addBindValue(calibration && benchMeter_ ? QVariant(bench.plausibilityShare * 100.0) : QVariant(QMetaType(QMetaType::Double)));
        q.addBindValue(TextOrNull(bench.accuracy));
        if (!Exec(q)) return false;
        id = q.lastInsertId().toLongLong();
        return id > 0;
    }, Durability::OnDisk);
    if (!ok) return;
    runId_ = id;
    recording_ = true;
}

void ResultsRecord::FrameSent(int step, const TPsuFrame& frame)
{
    if (!recording_) return;
    ++steps_[step].sends;
    if (frame.command() == Cmd::SerialAndModel) {
        serialWritten_.clear();
        for (int i = 0; i < 6; ++i) serialWritten_ += QLatin1Char(static_cast<char>(frame.data(i)));
    } else if (frame.command() == Cmd::TestingInfo) {
        dateWritten_ = QStringLiteral("20%1-%2-%3")
                           .arg(frame.data(3), 2, 10, QLatin1Char('0'))
                           .arg(frame.data(4), 2, 10, QLatin1Char('0'))
                           .arg(frame.data(5), 2, 10, QLatin1Char('0'));
    }
    // A clearing frame has no state of its own: the next frame going out is its answer's proof.
    if (kind_ == RunKind::Clearing && step != lastSentStep_) {
        const int answered = lastSentStep_;
        lastSentStep_ = step;
        if (answered > 0) {
            steps_[answered].state = StepStateWord(StepOutcome::Succeed);
            steps_[answered].at = Now();
            if (!failedThisRun_) Write([&] { return WriteStep(answered) && WriteRun(); });
        }
    }
}

void ResultsRecord::StepState(int step, StepOutcome outcome)
{
    if (!recording_) return;
    Step& s = steps_[step];
    s.state = StepStateWord(outcome);
    s.at = Now();
    // A late answer took the run on again.
    if (result_ == Stalled && outcome == StepOutcome::Succeed) result_ = Interrupted;
    if (!failedThisRun_) Write([&] { return WriteStep(step) && WriteRun(); });
}

void ResultsRecord::ReadingAccepted(int meterStep, const QString& typed, std::int64_t valueSent, ReadingSource source,
                                    const ReadingQuality& quality)
{
    if (!recording_ || failedThisRun_) return;
    const CalPoint* point = PointOfMeterStep(meterStep);
    if (!point) return;
    if (source == ReadingSource::Meter && meterIdentity_) meter_ = meterIdentity_();
    Write([&] {
        QSqlQuery q(db_.database());
        const QStringList& columns = ReadingColumns();
        q.prepare(QStringLiteral("INSERT OR REPLACE INTO TestReading (run_id, %1) VALUES (?%2)")
                      .arg(columns.join(QStringLiteral(", ")), QStringLiteral(", ?").repeated(columns.size())));
        q.addBindValue(runId_);
        q.addBindValue(point->number);
        q.addBindValue(point->quantity == Quantity::Current ? QStringLiteral("A") : QStringLiteral("V"));
        q.addBindValue(NominalLevel(*point, engine_.state().FModel));
        q.addBindValue(typed);
        q.addBindValue(static_cast<qint64>(valueSent));
        q.addBindValue(source == ReadingSource::Meter ? QStringLiteral("meter") : QStringLiteral("typed"));
        q.addBindValue(unusual_ && unusual_(meterStep, valueSent) ? 1 : 0);
        q.addBindValue(quality.reads);
        q.addBindValue(quality.deviation);
        q.addBindValue(quality.resolution > 0 ? QVariant(quality.resolution) : QVariant(QMetaType(QMetaType::Double)));
        return Exec(q) && WriteRun();
    });
}

void ResultsRecord::RunStalled(int)
{
    if (!recording_) return;
    result_ = Stalled;
    if (!failedThisRun_) Write([&] { return WriteRun(); });
}

void ResultsRecord::LogLine(const QString& line)
{
    if (recording_) log_ << line;
}

void ResultsRecord::RunEnded(RunKind, RunEnd end, const TRunState&)
{
    if (!recording_) return;
    recording_ = false;
    result_ = ResultWord(end);
    const QDateTime now = engine_.clock().now();
    endedAt_ = IsoTime(now);
    endedMs_ = now.toMSecsSinceEpoch();
    if (kind_ == RunKind::Calibration && end == RunEnd::Finished && !meterPastDue_)
        certificateNo_ = CertificateNumber(context_.bench, engine_.state().FStartTime, runId_);
    if (kind_ == RunKind::Clearing && lastSentStep_ > 0) {
        Step& last = steps_[lastSentStep_];
        last.state = StepStateWord(end == RunEnd::Cleared ? StepOutcome::Succeed : StepOutcome::CommunicationFailed);
        last.at = endedAt_;
    }
    // Tried even after an earlier failure of this run: the result is what matters most.
    const bool written = Write([&] {
        for (const auto& entry : steps_)
            if (!entry.second.state.isEmpty() && !WriteStep(entry.first)) return false;
        if (!WriteRun()) return false;
        // Counted in the statistics' sums exactly when its end is in the record.
        QString why;
        if (kind_ == RunKind::Calibration && !AddToReadingSummary(db_.database(), runId_, &why)) {
            lastError_ = QSqlError(why, QString(), QSqlError::StatementError);
            return false;
        }
        if (!queueForLine_) return true;
        QSqlQuery q(db_.database());
        q.prepare(QStringLiteral("INSERT OR IGNORE INTO LineQueue (run_id) VALUES (?)"));
        q.addBindValue(runId_);
        return Exec(q);
    }, Durability::OnDisk);
    if (!written) return;
    // Between runs the write-ahead log may be copied into the file; a reader that holds it back
    // only leaves the rest for the next run's end.
    QSqlQuery q(db_.database());
    q.exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
    if (runWritten_) runWritten_();
}

bool ResultsRecord::WriteStep(int step)
{
    const Step& s = steps_[step];
    QSqlQuery q(db_.database());
    q.prepare(QStringLiteral("INSERT OR REPLACE INTO TestStep (run_id, step, state, sends, at) VALUES (?, ?, ?, ?, ?)"));
    q.addBindValue(runId_);
    q.addBindValue(step);
    q.addBindValue(s.state);
    q.addBindValue(s.sends);
    q.addBindValue(TextOrNull(s.at));
    return Exec(q);
}

bool ResultsRecord::WriteRun()
{
    const TRunState& s = engine_.state();
    const bool ended = !endedAt_.isEmpty();
    QSqlQuery q(db_.database());
    q.prepare(QStringLiteral(
        "UPDATE TestResult SET ended_at = ?, ended_ms = ?, result = ?, serial_read = ?, serial_written = ?,"
        " date_written = ?, event_log = ?, unit_counter_after = ?, meter_source = ?, meter_vendor = ?, meter_model = ?,"
        " meter_version = ?, meter_serial = ?, meter_connection = ?, certificate_no = COALESCE(certificate_no, ?) WHERE id = ?"));
    q.addBindValue(TextOrNull(endedAt_));
    q.addBindValue(ended ? QVariant(endedMs_) : QVariant(QMetaType(QMetaType::LongLong)));
    q.addBindValue(result_);
    q.addBindValue(kind_ == RunKind::Calibration && s.FReadSerial != 0 ? QVariant(s.FSerialText)
                                                                      : QVariant(QMetaType(QMetaType::QString)));
    q.addBindValue(TextOrNull(serialWritten_));
    q.addBindValue(TextOrNull(dateWritten_));
    q.addBindValue(log_.join(QLatin1Char('\n')));
    q.addBindValue(ended ? QVariant(static_cast<qint64>(s.FUnitCounter)) : QVariant(QMetaType(QMetaType::LongLong)));
    for (const QString* field : {&meter_.source, &meter_.vendor, &meter_.model, &meter_.version, &meter_.serial, &meter_.connection})
        q.addBindValue(TextOrNull(*field));
    q.addBindValue(TextOrNull(certificateNo_));
    q.addBindValue(runId_);
    return Exec(q);
}
