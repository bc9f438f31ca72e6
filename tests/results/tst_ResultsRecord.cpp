// Tests of the results record against a deterministic clock and a fake supply: what a run leaves
// in the database, how each ending is recorded, and that no fault of the database reaches a run.
#include "CalList.h"
#include "CalPoints.h"
#include "ClearingRun.h"
#include "ReadingHistory.h"
#include "RecordedBench.h"
#include "ResultsDb.h"
#include "ResultsQuery.h"
#include "ResultsRecord.h"
#include "ReportPage.h"
#include "Uncertainty.h"
#include "ResultsStats.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>

namespace {

using Bench = RecordedBench;

// Opens the database the way supervisors' tools do.
struct Reader {
    ResultsDb db;
    explicit Reader(const QString& path) { db.open(path, ResultsDb::Mode::Read); }
    QVariant value(const QString& sql)
    {
        QSqlQuery q(db.database());
        if (!q.exec(sql) || !q.next()) return QVariant();
        return q.value(0);
    }
};

}  // namespace

class TestResultsRecord : public QObject {
    Q_OBJECT

private slots:
    void finishedCalibrationRecordsEverything();
    void endings_data();
    void endings();
    void faultsNeverReachTheRun_data();
    void faultsNeverReachTheRun();
    void meterDue_data();
    void uncertaintyBudgets_data();
    void uncertaintyBudgets();
    void meterDue();
    void schemaVersions();
    void unusualReadings_data();
    void unusualReadings();
};

void TestResultsRecord::finishedCalibrationRecordsEverything()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PowerTestDb.sqlite"));
    // As in a bench's shared folder: the record and its companion files must be the group's too.
    const mode_t umaskBefore = ::umask(0002);
    Bench bench(path);
    // How the record commits, looked at as each frame goes out (SQLite: 2 waits for the disk, 1 does not).
    auto syncMode = [&bench] {
        QSqlQuery q(bench.record->db().database());
        return q.exec(QStringLiteral("PRAGMA synchronous")) && q.next() ? q.value(0).toInt() : -1;
    };
    std::map<int, int> syncAtFrame;
    bench.answers = [&](const TPsuFrame&) {
        syncAtFrame.emplace(bench.engine.state().FStep, syncMode());
        return true;
    };
    QVERIFY(bench.calibrate());
    ::umask(umaskBefore);
    QCOMPARE(bench.engine.state().FUnitCounter, 43);
    QVERIFY(bench.faults.isEmpty());
    for (const char* name : {"", "-wal", "-shm"})
        QCOMPARE(QFileInfo(path + QLatin1String(name)).permissions() & (QFile::ReadGroup | QFile::WriteGroup),
                 QFile::ReadGroup | QFile::WriteGroup);
    // The run's start waited for the disk; no change after it holds up a frame; its end waited again.
    QCOMPARE(syncAtFrame[1], 2);
    for (int step : {2, 10, 25, 29}) QCOMPARE(syncAtFrame[step], 1);
    QCOMPARE(syncMode(), 2);

    Reader reader(path);
    QVERIFY2(reader.db.isOpen(), qPrintable(reader.db.errorText()));
    RunDetails run;
    QString error;
    QVERIFY2(LoadRun(reader.db.database(), bench.record->runId(), &run, &error), qPrintable(error));
    QCOMPARE(run.kind, QStringLiteral("calibration"));
    QCOMPARE(run.result, QStringLiteral("finished"));
    QCOMPARE(run.startedAt, QStringLiteral("2026-03-09T09:00:00.000") + run.startedAt.mid(23));
    QVERIFY2(run.startedAt.size() == 29 && (run.startedAt[23] == QLatin1Char('+') || run.startedAt[23] == QLatin1Char('-')),
             qPrintable(run.startedAt));
    QVERIFY(run.endedAt > run.startedAt);
    QCOMPARE(run.serialRead, QString());
    QCOMPARE(run.serialWritten, QStringLiteral("000042"));
    QCOMPARE(run.model, QStringLiteral("7212B"));
    QCOMPARE(run.address, 0);
    QCOMPARE(run.port, QStringLiteral("COM1"));
    QCOMPARE(run.baud, 9600);
    QCOMPARE(run.testCode, QStringLiteral("020102"));
    QCOMPARE(run.dateWritten, QStringLiteral("2026-03-09"));
    QCOMPARE(run.operatorName, QStringLiteral("Anna"));
    QCOMPARE(run.temperature, QStringLiteral("25±5°C"));
    QCOMPARE(run.humidity, QStringLiteral("<70%"));
    QCOMPARE(run.bench, QStringLiteral("bench-7"));
    QCOMPARE(run.programVersion, QStringLiteral("1.1.0.19"));
    QCOMPARE(run.counterBefore, 42);
    QVERIFY(run.hasCounterAfter);
    QCOMPARE(run.counterAfter, 43);
    QVERIFY(run.eventLog.startsWith(QStringLiteral("[Step 1] : ")));
    QVERIFY(run.eventLog.contains(QStringLiteral("Average voltage : 37000mV")));
    QCOMPARE(run.eventLog.count(QStringLiteral("Rece : ")), 22);

    const QStringList nominal{QStringLiteral("100mV"), QStringLiteral("3.999V"), QStringLiteral("4.00V"),
                              QStringLiteral("37.0V(7212B)"), QStringLiteral("20.0V(7212B)"), QStringLiteral("100mA"),
                              QStringLiteral("3.1A(7212B)")};
    const std::vector<qint64> sent{100, 3999, 4000, 37000, 20000, 100, 3100};
    QCOMPARE(run.readings.size(), 7u);
    for (int i = 0; i < 7; ++i) {
        const ReadingRow& r = run.readings[std::size_t(i)];
        QCOMPARE(r.point, i + 1);
        QCOMPARE(r.quantity, i < 5 ? QStringLiteral("V") : QStringLiteral("A"));
        QCOMPARE(r.nominal, nominal[i]);
        QCOMPARE(r.typed, Typed[i]);
        QCOMPARE(r.valueSent, sent[std::size_t(i)]);
        QCOMPARE(r.source, i < 5 ? QStringLiteral("typed") : QStringLiteral("meter"));
        // What the reading's uncertainty is worked out from, as the dialog handed it over.
        QCOMPARE(r.reads, i < 5 ? 1 : 3);
        QCOMPARE(r.deviation, i < 5 ? 0.0 : 2e-5);
        QCOMPARE(r.resolution, i < 5 ? 1e-3 : 1e-4);
    }
    QCOMPARE(run.steps.size(), 29u);
    for (int i = 0; i < 29; ++i) {
        const StepRow& s = run.steps[std::size_t(i)];
        QCOMPARE(s.step, i + 1);
        QCOMPARE(s.state, QStringLiteral("Succeed !"));
        QCOMPARE(s.sends, CalPointOfMeterStep(s.step) ? 0 : 1);
        QVERIFY(!s.at.isEmpty());
    }

    // Given once: the next unit gets the next number, and this one keeps its own.
    QCOMPARE(run.certificateNo, QStringLiteral("bench-7-20260309-0001"));
    QVERIFY(bench.calibrate());
    RunDetails next;
    QVERIFY(LoadRun(reader.db.database(), bench.record->runId(), &next, &error) && LoadRun(reader.db.database(), run.id, &run, &error));
    QCOMPARE(next.certificateNo, QStringLiteral("bench-7-20260309-0002"));
    QCOMPARE(run.certificateNo, QStringLiteral("bench-7-20260309-0001"));
}

void TestResultsRecord::endings_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("steps");        // steps with a recorded state
    QTest::addColumn<QString>("lastState");
    QTest::newRow("operator aborts at step 3") << "abort" << "aborted" << 2 << "Succeed !";
    QTest::newRow("serial number unanswered") << "fail" << "failed" << 25 << "Communication failed !";
    QTest::newRow("stalled at step 1, still active") << "stall" << "stalled" << 1 << "Communication failed !";
    QTest::newRow("stalled, then a late answer") << "resume" << "finished" << 29 << "Succeed !";
    QTest::newRow("clearing answered") << "clear" << "cleared" << 5 << "Succeed !";
    QTest::newRow("clearing unanswered at frame 3") << "clearfail" << "clearing_failed" << 3 << "Communication failed !";
}

void TestResultsRecord::endings()
{
    QFETCH(QString, how);
    QFETCH(QString, result);
    QFETCH(int, steps);
    QFETCH(QString, lastState);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PowerTestDb.sqlite"));
    Bench bench(path);
    const TRunState& s = bench.engine.state();
    bool ok = true;
    if (how == "abort") {
        bench.engine.btnStartClick();
        QVERIFY(bench.clock.advanceUntil([&] { return s.FStep == 3; }, 5000));
        bench.engine.btnCancelClick();
    } else if (how == "fail") {
        bench.answers = [](const TPsuFrame& f) { return f.command() != Cmd::SerialAndModel; };
        ok = bench.calibrate();
    } else if (how == "stall" || how == "resume") {
        // Silent until step 1 has run out of sends.
        bench.answers = [](const TPsuFrame&) { return false; };
        bench.engine.btnStartClick();
        bench.clock.advance(400 * 8);
        QVERIFY(s.FCalibrating);
        if (how == "resume") {
            bench.answers = [](const TPsuFrame&) { return true; };
            bench.comm.inject(MakeFrame(0, Cmd::ClearingAnswer));
            ok = bench.clock.advanceUntil([&] { return !s.FCalibrating; }, 300000);
        }
    } else if (how == "clear") {
        ok = bench.clear();
    } else if (how == "clearfail") {
        auto answered = std::make_shared<int>(0);
        bench.answers = [answered](const TPsuFrame&) { return ++*answered <= 2; };
        ok = bench.clear();
    }
    QVERIFY(ok);
    QVERIFY(bench.faults.isEmpty());

    Reader reader(path);
    RunDetails run;
    QString error;
    QVERIFY2(LoadRun(reader.db.database(), bench.record->runId(), &run, &error), qPrintable(error));
    QCOMPARE(run.result, result);
    QCOMPARE(run.kind, how.startsWith(QLatin1String("clear")) ? QStringLiteral("clearing") : QStringLiteral("calibration"));
    QCOMPARE(static_cast<int>(run.steps.size()), steps);
    QCOMPARE(run.steps.back().state, lastState);
    QCOMPARE(run.endedAt.isEmpty(), how == "stall");
    // Only a unit whose calibration finished is given a certificate's number.
    QCOMPARE(run.certificateNo.isEmpty(), result != QLatin1String("finished"));
    if (how == "fail") {
        QCOMPARE(run.steps.back().step, 25);
        QCOMPARE(run.steps.back().sends, 6);
        QCOMPARE(run.serialWritten, QStringLiteral("000042"));
        QCOMPARE(run.counterAfter, 42);
    }
    if (how == "clearfail") QCOMPARE(run.steps.back().sends, 6);

    // The statistics' sums hold an ended calibration's readings once, under the result it ended
    // with, and give what reading every reading gives.
    QSqlQuery q(reader.db.database());
    QVERIFY(q.exec(QStringLiteral("SELECT count(value_sent) FROM TestReading")) && q.next());
    const int readings = q.value(0).toInt();
    QVERIFY(q.exec(QStringLiteral("SELECT coalesce(sum(n), 0), count(DISTINCT result) FROM ReadingSummary")) && q.next());
    const bool summed = (how == "abort" || how == "fail" || how == "resume");
    QCOMPARE(q.value(0).toInt(), summed ? readings : 0);
    QCOMPARE(q.value(1).toInt(), summed && readings > 0 ? 1 : 0);
    RunFilter filter;
    filter.result = result;
    std::vector<PointStats> fromSums, fromReadings;
    QVERIFY2(ReadingStats(reader.db.database(), filter, 0, &fromSums, &error), qPrintable(error));
    QVERIFY2(ScanReadingStats(reader.db.database(), filter, 0, &fromReadings, &error), qPrintable(error));
    QCOMPARE(fromSums.size(), fromReadings.size());
    for (std::size_t i = 0; i < fromSums.size(); ++i) {
        const PointStats &a = fromSums[i], &b = fromReadings[i];
        QCOMPARE(QStringList({a.model, QString::number(a.point), QString::number(a.n), QString::number(a.mean),
                              QString::number(a.standardDeviation), QString::number(a.minimum), QString::number(a.maximum),
                              QString::number(a.outsideBand), QString::number(a.unusual)}),
                 QStringList({b.model, QString::number(b.point), QString::number(b.n), QString::number(b.mean),
                              QString::number(b.standardDeviation), QString::number(b.minimum), QString::number(b.maximum),
                              QString::number(b.outsideBand), QString::number(b.unusual)}));
    }
}

namespace {
// A database whose header is SQLite's and whose pages are garbage.
QByteArray DamagedDatabase() { return QByteArray("SQLite format 3\0", 16) + QByteArray(8176, '\x5A'); }
QByteArray Notes() { return QByteArrayLiteral("the operator's own notes\n"); }
}  // namespace

void TestResultsRecord::faultsNeverReachTheRun_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("folder cannot hold a file") << "unopenable";
    QTest::newRow("damaged file") << "corrupt";
    QTest::newRow("a file of the operator's own in its place") << "notes";
    QTest::newRow("a link in a folder others may write") << "link";
    QTest::newRow("another writer holds the lock") << "locked";
    QTest::newRow("read-only folder") << "readonly";
}

void TestResultsRecord::faultsNeverReachTheRun()
{
    QFETCH(QString, fault);
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("PowerTestDb.sqlite"));

    // The same bench without a record shows what the run must look like.
    Bench baseline({});
    QVERIFY(baseline.calibrate());

    std::unique_ptr<ResultsDb> holder;
    bool mounted = false;
    if (fault == "unopenable") {
        QFile blocker(dir.filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        path = dir.filePath(QStringLiteral("file/PowerTestDb.sqlite"));
    } else if (fault == "corrupt" || fault == "notes") {
        QFile garbage(path);
        QVERIFY(garbage.open(QIODevice::WriteOnly));
        garbage.write(fault == "corrupt" ? DamagedDatabase() : Notes());
    } else if (fault == "link") {
        QVERIFY(QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) | QFile::WriteGroup));
        QFile notes(dir.filePath(QStringLiteral("notes.txt")));
        QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write(Notes()) == Notes().size());
        QVERIFY(QFile::link(notes.fileName(), path));
    } else if (fault == "readonly") {
        // Root writes anywhere regardless of permissions, so the folder is mounted read-only.
        const QByteArray folder = dir.path().toLocal8Bit();
        if (::geteuid() == 0) {
            mounted = ::mount(folder.constData(), folder.constData(), nullptr, MS_BIND, nullptr) == 0 &&
                      ::mount(nullptr, folder.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) == 0;
            if (!mounted) QSKIP("root without the right to mount: no read-only folder can be made");
        } else {
            QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        }
    }

    Bench bench(path);
    if (fault == "locked") {
        // Another program takes the write lock once the run is under way and keeps it.
        bench.clock.scheduleIn(2000, [&] {
            holder = std::make_unique<ResultsDb>();
            QVERIFY(holder->open(path, ResultsDb::Mode::Record));
            QSqlQuery(holder->database()).exec(QStringLiteral("BEGIN EXCLUSIVE"));
        });
    }
    const bool finished = bench.calibrate();
    if (mounted) ::umount2(dir.path().toLocal8Bit().constData(), MNT_DETACH);
    if (fault == "readonly" && !mounted) QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QVERIFY(finished);

    // The run went exactly as without the record.
    QCOMPARE(bench.comm.frames.size(), baseline.comm.frames.size());
    for (std::size_t i = 0; i < bench.comm.frames.size(); ++i) QVERIFY(bench.comm.frames[i] == baseline.comm.frames[i]);
    QCOMPARE(bench.clock.tickMs(), baseline.clock.tickMs());
    QCOMPARE(bench.view.boxTexts("Information"), baseline.view.boxTexts("Information"));
    QCOMPARE(bench.engine.state().FUnitCounter, baseline.engine.state().FUnitCounter);
    QCOMPARE(bench.view.log, baseline.view.log);

    if (fault == "corrupt") {
        // Kept aside, a new file started, and this run recorded in it.
        QCOMPARE(bench.faults.size(), 1);
        QVERIFY2(bench.faults[0].contains(QStringLiteral("moved to")), qPrintable(bench.faults[0]));
        const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("PowerTestDb.sqlite.corrupt-*")});
        QCOMPARE(aside.size(), 1);
        QFile kept(dir.filePath(aside[0]));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), DamagedDatabase());
        Reader reader(path);
        QCOMPARE(reader.value(QStringLiteral("SELECT result FROM TestResult")).toString(), QStringLiteral("finished"));
    } else {
        // One report at the start or at the first failing write; one of them worth a box.
        QVERIFY2(!bench.faults.isEmpty() && bench.faults.size() <= 2, qPrintable(bench.faults.join(QLatin1Char('|'))));
        QCOMPARE(bench.firstFaults, 1);
        for (const QString& f : bench.faults) QVERIFY(f.startsWith(QStringLiteral("<Results> ")));
    }
    if (fault == "notes" || fault == "link") {
        // Neither moved aside nor replaced, nor written through.
        QFile notes(fault == "link" ? dir.filePath(QStringLiteral("notes.txt")) : path);
        QVERIFY(notes.open(QIODevice::ReadOnly));
        QCOMPARE(notes.readAll(), Notes());
        QVERIFY(QDir(dir.path()).entryList({QStringLiteral("*corrupt*")}).isEmpty());
    }
    if (fault == "locked") {
        holder.reset();
        Reader reader(path);
        // Written up to the lock; the row tells that the run did not end while it was recorded.
        QCOMPARE(reader.value(QStringLiteral("SELECT result FROM TestResult")).toString(), QStringLiteral("interrupted"));
    }
}

void TestResultsRecord::meterDue_data()
{
    QTest::addColumn<QString>("due");
    QTest::addColumn<QString>("notice");  // what the one notice of the run says; empty: none
    QTest::addColumn<QString>("certificate");  // what the page says of the certificate's number; empty: a number
    QTest::newRow("in date on its due day") << "2026-03-09" << "" << "";
    QTest::newRow("past due") << "2026-03-08" << "<Meter> the meter's calibration was due on 2026-03-08 (asset DMM-0042): "
                              << "none: the meter was past its calibration due date";
    QTest::newRow("not a date") << "8.3.2026" << "<Meter> the meter's calibration due date \"8.3.2026\" (asset DMM-0042) in [Meter]"
                                << "";
    QTest::newRow("none given") << "" << "" << "";
}

void TestResultsRecord::meterDue()
{
    QFETCH(QString, due);
    QFETCH(QString, notice);
    QFETCH(QString, certificate);
    Bench baseline({});
    QVERIFY(baseline.calibrate());
    QTemporaryDir dir;
    Bench bench(dir.filePath(QStringLiteral("PowerTestDb.sqlite")));
    QStringList notices;
    bench.record->setNoticeSink([&notices](const QString& text) { notices << text; });
    bench.record->setBenchMeter([&due] { return BenchMeter{QStringLiteral("DMM-0042"), due, 0.1, QString()}; });
    // Asked before the run, as the notice says it; a Yes goes ahead.
    const QString question = bench.record->MeterDueQuestion();
    if (notice.isEmpty())
        QCOMPARE(question, QString());
    else
        QVERIFY2(question.startsWith(QStringLiteral("The") + notice.mid(QStringLiteral("<Meter> the").size())) &&
                     question.endsWith(QStringLiteral(". Calibrate anyway?")),
                 qPrintable(question));
    QVERIFY(bench.calibrate());
    // Told, and nothing else: the run is frame for frame and tick for tick the one without it.
    QVERIFY(bench.comm.frames == baseline.comm.frames);
    QCOMPARE(bench.clock.tickMs(), baseline.clock.tickMs());
    Reader reader(bench.record->db().path());
    RunDetails run;
    QString error;
    QVERIFY2(LoadRun(reader.db.database(), bench.record->runId(), &run, &error), qPrintable(error));
    QCOMPARE(run.meterAssetId, QStringLiteral("DMM-0042"));
    QCOMPARE(run.meterCalibrationDue, due);
    QCOMPARE(run.plausibilityPct, 10.0);
    // A meter past its due date vouches for nothing: the page is a report and says why.
    QCOMPARE(run.certificateNo.isEmpty(), !certificate.isEmpty());
    QCOMPARE(CertificateText(run), certificate.isEmpty() ? run.certificateNo : certificate);
    // A clearing run reads no meter.
    QVERIFY(bench.clear() && LoadRun(reader.db.database(), bench.record->runId(), &run, &error));
    QCOMPARE(run.plausibilityPct, -1.0);
    QCOMPARE(notices.size(), notice.isEmpty() ? 0 : 1);
    if (!notice.isEmpty()) QVERIFY2(notices[0].startsWith(notice), qPrintable(notices[0]));
}

void TestResultsRecord::uncertaintyBudgets_data()
{
    QTest::addColumn<QString>("accuracy");
    QTest::addColumn<bool>("current");
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("resolution");
    QTest::addColumn<int>("reads");
    QTest::addColumn<double>("deviation");
    QTest::addColumn<double>("limit");     // the datasheet's half-width; < 0: not evaluated
    QTest::addColumn<double>("expanded");  // U, k = 2, worked out by hand
    QTest::addColumn<QString>("said");     // the page's U, or why there is none
    const QString usual = QStringLiteral("DCV=0.025%+2; DCA=0.15%+2");
    const QString ranged = QStringLiteral("DCV:0.2=0.05%+3; DCV=0.025%+2");
    QTest::newRow("typed at 100 mV") << usual << false << 0.1003 << 1e-4 << 1 << 0.0 << 2.25075e-4 << 2.662299e-4 << "±0.27 mV";
    QTest::newRow("meter at 1 V, 3 readings spread")
        << usual << false << 1.00012 << 1e-5 << 3 << 2e-5 << 2.7003e-4 << 3.144120e-4 << "±0.31 mV";
    QTest::newRow("one reading: its deviation is no input")
        << usual << false << 0.1003 << 1e-4 << 1 << 0.5 << 2.25075e-4 << 2.662299e-4 << "±0.27 mV";
    QTest::newRow("the smallest range that holds it")
        << ranged << false << 0.1003 << 1e-4 << 1 << 0.0 << 3.5015e-4 << 4.084198e-4 << "±0.41 mV";
    QTest::newRow("above every range: the function's own")
        << ranged << false << 5.0012 << 1e-4 << 1 << 0.0 << 1.4503e-3 << 1.675657e-3 << "±1.7 mV";
    QTest::newRow("amperes with a floor in mA")
        << "DCA=0.15%+0.5mA" << true << 0.5003 << 1e-4 << 2 << 5e-5 << 1.25045e-3 << 1.448505e-3 << "±1.4 mA";
    QTest::newRow("micro sign, comma, blanks, lower case")
        << QString::fromUtf8("dcv = 0,01 % + 20 µV") << false << 0.1003 << 1e-5 << 1 << 0.0 << 3.003e-5 << 3.515302e-5 << "±0.035 mV";
    QTest::newRow("no term for amperes") << QStringLiteral("DCV=0.025%+2") << true << 0.1 << 1e-4 << 1 << 0.0 << -1.0 << 0.0
                                         << "no accuracy for DC amperes";
    QTest::newRow("last digit not known") << usual << false << 0.1 << 0.0 << 1 << 0.0 << -1.0 << 0.0 << "last digit is not known";
    QTest::newRow("percent missing") << "DCV=0.025+2" << false << 0.1 << 1e-4 << 1 << 0.0 << -1.0 << 0.0 << "not a function";
    QTest::newRow("AC is not a calibration function") << "ACV=1%+5" << false << 0.1 << 1e-4 << 1 << 0.0 << -1.0 << 0.0 << "not a function";
    QTest::newRow("amperes in a volts floor") << "DCV=0.025%+2mA" << false << 0.1 << 1e-4 << 1 << 0.0 << -1.0 << 0.0 << "mixes volts";
    QTest::newRow("prefix without unit") << "DCV:200m=0.05%+3" << false << 0.1 << 1e-4 << 1 << 0.0 << -1.0 << 0.0 << "needs its unit";
    QTest::newRow("empty entry") << " ; " << false << 0.1 << 1e-4 << 1 << 0.0 << -1.0 << 0.0 << "no accuracy is given";
}

void TestResultsRecord::uncertaintyBudgets()
{
    QFETCH(QString, accuracy);
    QFETCH(bool, current);
    QFETCH(double, value);
    QFETCH(double, resolution);
    QFETCH(int, reads);
    QFETCH(double, deviation);
    QFETCH(double, limit);
    QFETCH(double, expanded);
    QFETCH(QString, said);
    QString problem;
    const std::optional<MeterAccuracy> parsed = ParseAccuracy(accuracy, &problem);
    if (!parsed) {
        QVERIFY(limit < 0);
        QVERIFY2(problem.contains(said), qPrintable(problem));
        return;
    }
    const UncertaintyBudget b = EvaluateUncertainty(*parsed, current, {value, reads, deviation, resolution});
    QCOMPARE(b.evaluated, limit >= 0);
    if (!b.evaluated) {
        QVERIFY2(b.why.contains(said), qPrintable(b.why));
        return;
    }
    QVERIFY2(std::fabs(b.accuracyLimit - limit) < 1e-12, qPrintable(QString::number(b.accuracyLimit, 'g', 10)));
    QVERIFY2(std::fabs(b.expanded - expanded) < 1e-9, qPrintable(QString::number(b.expanded, 'g', 10)));
    QCOMPARE(ExpandedText(b.expanded, current), said);
}

void TestResultsRecord::schemaVersions()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PowerTestDb.sqlite"));
    {
        // An empty file is a database of no version: the schema is made in it.
        QFile empty(path);
        QVERIFY(empty.open(QIODevice::WriteOnly));
    }
    {
        ResultsDb db;
        QVERIFY2(db.open(path, ResultsDb::Mode::Record), qPrintable(db.errorText()));
        QSqlQuery q(db.database());
        QVERIFY(q.exec(QStringLiteral("SELECT version FROM SchemaVersion")) && q.next());
        QCOMPARE(q.value(0).toInt(), ResultsDb::SchemaVersionNow);
        QVERIFY(q.exec(QStringLiteral("INSERT INTO TestResult (kind, started_at, started_ms, ended_ms, result) VALUES ('calibration', 'x', 1, 2, 'finished')")));
    }
    {
        // Opened again: the rows stay, nothing is made twice.
        ResultsDb db;
        QVERIFY2(db.open(path, ResultsDb::Mode::Record), qPrintable(db.errorText()));
        QSqlQuery q(db.database());
        QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM TestResult")) && q.next());
        QCOMPARE(q.value(0).toInt(), 1);
        // As a file of the first schema: no source of a reading.
        QVERIFY(q.exec(QStringLiteral("INSERT INTO TestReading (run_id, point, quantity, typed, value_sent) VALUES (1, 1, 'V', '0.1', 100)")));
        QVERIFY2(q.exec(QStringLiteral("ALTER TABLE TestReading DROP COLUMN source")), qPrintable(q.lastError().text()));
        for (const char* sql : {"DROP TABLE LineQueue", "DROP TABLE SerialAllocation", "DROP TABLE SerialCounter",
                                "DROP INDEX TestResult_bench", "DROP INDEX TestResult_run_uid", "ALTER TABLE TestResult DROP COLUMN run_uid",
                                "ALTER TABLE TestResult DROP COLUMN meter_source", "ALTER TABLE TestResult DROP COLUMN meter_vendor",
                                "ALTER TABLE TestResult DROP COLUMN meter_model", "ALTER TABLE TestResult DROP COLUMN meter_version",
                                "ALTER TABLE TestResult DROP COLUMN meter_serial", "ALTER TABLE TestResult DROP COLUMN meter_connection",
                                "DROP INDEX TestResult_certificate_no", "DROP INDEX TestResult_model_started",
                                "ALTER TABLE TestResult DROP COLUMN certificate_no", "ALTER TABLE TestResult DROP COLUMN meter_asset_id",
                                "ALTER TABLE TestResult DROP COLUMN meter_calibration_due", "ALTER TABLE TestReading DROP COLUMN unusual",
                                "ALTER TABLE TestResult DROP COLUMN plausibility_pct", "ALTER TABLE TestResult DROP COLUMN meter_accuracy",
                                "ALTER TABLE TestReading DROP COLUMN reads", "ALTER TABLE TestReading DROP COLUMN deviation",
                                "ALTER TABLE TestReading DROP COLUMN resolution",
                                "DROP INDEX TestResult_started_list", "DROP INDEX TestResult_result_started",
                                "CREATE INDEX TestResult_started ON TestResult (started_ms)", "DROP TABLE ReadingSummary",
                                "DROP TRIGGER TestResult_serial_search_insert", "DROP TRIGGER TestResult_serial_search_update",
                                "DROP TRIGGER TestResult_serial_search_delete", "DROP TABLE SerialSearch", "DROP TABLE SerialPiece",
                                "UPDATE TestResult SET serial_written = '004711'"})
            QVERIFY2(q.exec(QString::fromLatin1(sql)), qPrintable(q.lastError().text()));
        QVERIFY(q.exec(QStringLiteral("UPDATE SchemaVersion SET version = 1")));
    }
    {
        // Read as it is, it is refused; the calibrator migrates it and keeps every row.
        ResultsDb reader;
        QVERIFY(!reader.open(path, ResultsDb::Mode::Read));
        QVERIFY2(reader.errorText().contains(QStringLiteral("older schema")), qPrintable(reader.errorText()));
        ResultsDb db;
        QVERIFY2(db.open(path, ResultsDb::Mode::Record), qPrintable(db.errorText()));
        QSqlQuery q(db.database());
        QVERIFY(q.exec(QStringLiteral("SELECT version FROM SchemaVersion")) && q.next());
        QCOMPARE(q.value(0).toInt(), ResultsDb::SchemaVersionNow);
        QVERIFY(q.exec(QStringLiteral("SELECT typed, source FROM TestReading")) && q.next());
        QCOMPARE(q.value(0).toString(), QStringLiteral("0.1"));
        QCOMPARE(q.value(1).toString(), QStringLiteral("typed"));
        // Every step up to now was taken: the line's queue is there, the old run has no name yet.
        QVERIFY2(q.exec(QStringLiteral("SELECT count(*), max(run_uid) FROM TestResult LEFT JOIN LineQueue ON run_id = id")) && q.next(),
                 qPrintable(q.lastError().text()));
        QCOMPARE(q.value(0).toInt(), 1);
        QVERIFY(q.value(1).isNull());
        // Nor a meter: its readings were typed, or taken before the meter was named.
        QVERIFY2(q.exec(QStringLiteral("SELECT count(*) FROM TestResult WHERE meter_source IS NULL AND meter_connection IS NULL")) && q.next(),
                 qPrintable(q.lastError().text()));
        QCOMPARE(q.value(0).toInt(), 1);
        // Its reading is in the statistics' sums, on the local day it started.
        QVERIFY2(q.exec(QStringLiteral("SELECT model, point, result, day, n, total, squares, lowest, highest FROM ReadingSummary")) && q.next(),
                 qPrintable(q.lastError().text()));
        QStringList row;
        for (int i = 0; i < 9; ++i) row << q.value(i).toString();
        QCOMPARE(row, QStringList({"", "1", "finished", QDateTime::fromMSecsSinceEpoch(1).date().toString(Qt::ISODate), "1", "100",
                                   "10000", "100", "100"}));
        QVERIFY(!q.next());
        // Its serial number is in the search index, for a part and for a piece of one.
        for (const char* part : {"0471", "71"}) {
            const RunFilter filter = PlanRunFilter(db.database(), {.serial = QString::fromLatin1(part)});
            std::vector<RunSummary> runs;
            QVERIFY(filter.serialLookup == SerialLookup::Index && ListRuns(db.database(), filter, &runs, nullptr) && runs.size() == 1);
        }
        QVERIFY2(q.exec(QStringLiteral("UPDATE SchemaVersion SET version = 99")), qPrintable(q.lastError().text()));
        QVERIFY(q.exec(QStringLiteral("SELECT version FROM SchemaVersion")) && q.next());
        QCOMPARE(q.value(0).toInt(), 99);
    }
    for (ResultsDb::Mode mode : {ResultsDb::Mode::Record, ResultsDb::Mode::Read}) {
        // A newer program's file is neither read nor written, and not moved aside either.
        ResultsDb db;
        QVERIFY(!db.open(path, mode));
        QVERIFY2(db.errorText().contains(QStringLiteral("newer program")), qPrintable(db.errorText()));
        QVERIFY(db.movedAside().isEmpty());
        QVERIFY(QFile::exists(path));
    }
    ResultsDb missing;
    QVERIFY(!missing.open(dir.filePath(QStringLiteral("none.sqlite")), ResultsDb::Mode::Read));
    QVERIFY(missing.errorText().contains(QStringLiteral("no results database")));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("none.sqlite"))));
}

void TestResultsRecord::unusualReadings_data()
{
    QTest::addColumn<int>("earlier");  // finished runs before the one looked at
    QTest::addColumn<int>("history");
    QTest::addColumn<double>("sigma");
    QTest::addColumn<QString>("reading");  // at point 4
    QTest::addColumn<QString>("notice");
    const QString far = QStringLiteral("Unusual for a 7212B at point 4: 37.51 V; the last 30 read 37.00 \u00B1 0.01 V");
    QTest::newRow("29 earlier runs: too few to tell") << 29 << 200 << 4.0 << "37.51" << "";
    QTest::newRow("a usual reading") << 30 << 200 << 4.0 << "37.01" << "";
    QTest::newRow("far off") << 30 << 200 << 4.0 << "37.51" << far;
    QTest::newRow("far off, the check turned off") << 30 << 200 << 0.0 << "37.51" << "";
    // The ten oldest read 38 V: only the last 30 count.
    QTest::newRow("the last runs only") << 40 << 30 << 4.0 << "37.51" << far;
}

void TestResultsRecord::unusualReadings()
{
    QFETCH(int, earlier);
    QFETCH(int, history);
    QFETCH(double, sigma);
    QFETCH(QString, reading);
    QFETCH(QString, notice);
    QTemporaryDir dir;
    Bench bench(dir.filePath(QStringLiteral("PowerTestDb.sqlite")));
    ReadingHistory judge(bench.record->db(), QualitySettings{history, sigma});
    bench.record->setUnusualJudge([&](int step, std::int64_t milli) { return judge.WasUnusual(step, bench.engine.state().FModel, milli); });
    int run = 0;
    QString shown;
    bench.engine.setReadVolHandler([&] {
        const int step = bench.engine.state().FStep;
        const CalPoint* point = PointOfMeterStep(step);
        QString text = Typed[point->number - 1];
        if (point->number == 4) {
            const double spread[] = {-0.02, -0.01, 0.0, 0.01, 0.02};
            const double value = run < earlier - 30 ? 38.0 : 37.0 + spread[run % 5];
            text = run == earlier ? reading : QString::number(value, 'f', 2);
            if (run == earlier) shown = judge.Notice(step, bench.engine.state().FModel, text.toDouble(), text);
        }
        bench.engine.AcceptReading(text, static_cast<std::int32_t>(std::lround(text.toDouble() * 1000)), ReadingSource::Typed);
    });
    for (; run <= earlier; ++run) QVERIFY(bench.calibrate());
    QCOMPARE(shown, notice);
    QVERIFY(bench.faults.isEmpty());
    // The record marks the reading the notice was about, and only that one.
    Reader reader(bench.record->db().path());
    QCOMPARE(reader.value(QStringLiteral("SELECT count(*) FROM TestReading WHERE unusual = 1")).toInt(), notice.isEmpty() ? 0 : 1);
    QCOMPARE(reader.value(QStringLiteral("SELECT coalesce(max(run_id * 10 + point), 0) FROM TestReading WHERE unusual = 1")).toLongLong(),
             notice.isEmpty() ? 0 : bench.record->runId() * 10 + 4);
}

QTEST_GUILESS_MAIN(TestResultsRecord)
#include "tst_ResultsRecord.moc"
