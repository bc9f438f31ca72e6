// One whole calibration in real time over a pseudo-terminal against the simulated supply, with
// the results record writing as it goes; also the record of a run that ends early or is killed.
#include "CalList.h"
#include "PtyPair.h"
#include "QtClock.h"
#include "QtSerialControl.h"
#include "RecordingView.h"
#include "ResultsDb.h"
#include "ResultsQuery.h"
#include "ResultsRecord.h"
#include "RunEngine.h"
#include "SerialLink.h"
#include "SimulatedSupply.h"
#include "StackSpread.h"

#include <QDate>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

// What the operator types at the seven points, in volts and amperes.
const QStringList Typed{QStringLiteral("0.1"), QStringLiteral("3.999"), QStringLiteral("4.0"), QStringLiteral("37.0"),
                        QStringLiteral("20.0"), QStringLiteral("0.1"), QStringLiteral("3.1")};

// A bench on a real pseudo-terminal: the link over QSerialPort, the engine with its record, and an
// operator who types the readings as the prompts come.
struct PtyBench {
    // The device COM1 stands for: another simulator may take the place of the first.
    QString devicePath;
    QtClock clock;
    QtSerialControl comm;
    SerialLink link{comm, clock};
    RecordingView view;
    RunEngine engine{link, clock, view};
    ResultsRecord record;
    const TRunState& s = engine.state();
    int saves = 0;
    int nextReading = 0;
    QStringList faults;

    PtyBench(const QString& ptyPath, const QString& dbPath)
        : devicePath(ptyPath),
          comm([this](int) { return devicePath; }),
          record(engine, dbPath, RecordContext{QStringLiteral("bench-pty"), QStringLiteral("1.1.0.19")})
    {
        engine.ApplySettings(RunSettings{QStringLiteral("Ben"), QStringLiteral("25±5°C"), QStringLiteral("<70%"), 0});
        engine.SelectModel(1);
        engine.LoadConfig(StoredConfig{4711, 500});
        engine.setSaveConfig([this] { ++saves; });
        engine.setReadVolHandler([this] {
            if (s.FAborted || nextReading >= Typed.size()) return;
            const QString text = Typed[nextReading++];
            engine.AcceptReading(text, static_cast<std::int32_t>(std::nearbyint(text.toDouble() * 1000.0)));
        });
        record.setFaultSink([this](const QString& text, bool) { faults << text; });
        record.Open();
        link.SetDefaults();
    }
};

// The child a test kills: it calibrates against the supply on KORVEX_CHILD_PTY, recording into
// KORVEX_CHILD_DB, until it is stopped.
int RunChild()
{
    PtyBench bench(qEnvironmentVariable("KORVEX_CHILD_PTY"), qEnvironmentVariable("KORVEX_CHILD_DB"));
    if (!bench.link.OpenPort(1, 9600)) return 3;
    bench.engine.btnStartClick();
    std::puts("STARTED");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

}  // namespace

class TestRunEnginePty : public QObject {
    Q_OBJECT

private slots:
    void fullCalibrationAgainstSimulator();
    void recordOfEarlyEndings_data();
    void recordOfEarlyEndings();
    void killedMidRunLeavesItsRecord();
    void hangUpMidRunThenANewRun();
    void noiseOnTheLineIsNoAnswer_data();
    void noiseOnTheLineIsNoAnswer();

private:
    void checkTimingOnTheLine(const std::vector<SimulatedSupply::Received>& frames);
};

void TestRunEnginePty::fullCalibrationAgainstSimulator()
{
    SimulatedSupply sim(QStringLiteral(PSU_SIM));
    // A supply without a serial number: it receives the unit counter. It leaves the first two
    // sends unanswered, so that the period of repeats shows on the line.
    const QString ptyPath = sim.start({QStringLiteral("--serial"), QStringLiteral("none"),
                                       QStringLiteral("--no-answer-step"), QStringLiteral("1x2")});
    QVERIFY2(!ptyPath.isEmpty(), qPrintable(sim.errorString()));

    QTemporaryDir dir;
    const QString dbPath = dir.filePath(QStringLiteral("PowerTestDb.sqlite"));
    PtyBench bench(ptyPath, dbPath);
    RecordingView& view = bench.view;
    const TRunState& s = bench.s;
    QVERIFY(bench.link.OpenPort(1, 9600));
    const QDate today = QDate::currentDate();
    bench.engine.btnStartClick();
    QVERIFY(s.FCalibrating);
    QTRY_VERIFY_WITH_TIMEOUT(!s.FCalibrating, 90000);
    bench.link.ClosePort();

    QCOMPARE(view.boxTexts("Warning"), QStringList());
    QCOMPARE(view.boxTexts("Error"), QStringList());
    QCOMPARE(view.boxTexts("Information"), QStringList{QStringLiteral("Voltrix7212B calibrating finished !")});
    for (int step = 1; step <= CalStepCount; ++step)
        QCOMPARE(view.stepStates[step], QStringLiteral("Succeed !"));
    QCOMPARE(bench.nextReading, Typed.size());
    QCOMPARE(s.FUnitCounter, 4712);
    QCOMPARE(bench.saves, 1);

    // The record holds the run as it went.
    QVERIFY(bench.faults.isEmpty());
    ResultsDb db;
    QVERIFY2(db.open(dbPath, ResultsDb::Mode::Read), qPrintable(db.errorText()));
    RunDetails run;
    QString error;
    QVERIFY2(LoadRun(db.database(), bench.record.runId(), &run, &error), qPrintable(error));
    QCOMPARE(run.result, QStringLiteral("finished"));
    QCOMPARE(run.serialRead, QString());
    QCOMPARE(run.serialWritten, QStringLiteral("004711"));
    QCOMPARE(run.dateWritten, today.toString(QStringLiteral("yyyy-MM-dd")));
    QCOMPARE(run.model, QStringLiteral("7212B"));
    QCOMPARE(run.operatorName, QStringLiteral("Ben"));
    QCOMPARE(run.temperature, QStringLiteral("25±5°C"));
    QCOMPARE(run.counterBefore, 4711);
    QCOMPARE(run.counterAfter, 4712);
    QCOMPARE(run.baud, 9600);
    const std::vector<qint64> sent{100, 3999, 4000, 37000, 20000, 100, 3100};
    QCOMPARE(run.readings.size(), 7u);
    for (std::size_t i = 0; i < 7; ++i) {
        QCOMPARE(run.readings[i].typed, Typed[int(i)]);
        QCOMPARE(run.readings[i].valueSent, sent[i]);
    }
    QCOMPARE(run.steps.size(), 29u);
    QCOMPARE(run.steps.front().sends, 3);
    for (const StepRow& step : run.steps) QCOMPARE(step.state, QStringLiteral("Succeed !"));
    QCOMPARE(run.eventLog.count(QStringLiteral("[Step 1] : ")), 3);

    QVERIFY(sim.stop());
    const QStringList fields = sim.lastStateFields();
    const QString state = fields.join(QLatin1Char(' '));
    QVERIFY2(!fields.isEmpty(), qPrintable(sim.output().right(2000)));
    const QString date = QStringLiteral("%1-%2-%3")
                             .arg(today.year() % 100, 2, 10, QLatin1Char('0'))
                             .arg(today.month(), 2, 10, QLatin1Char('0'))
                             .arg(today.day(), 2, 10, QLatin1Char('0'));
    const QStringList expected{
        QStringLiteral("serial=004711"), QStringLiteral("model=7212b"), QStringLiteral("date=") + date,
        QStringLiteral("code=020102"),   QStringLiteral("control=0"),   QStringLiteral("calmode=0"),
        QStringLiteral("V1=100"),        QStringLiteral("V2=3999"),     QStringLiteral("V3=4000"),
        QStringLiteral("V4=37000"),      QStringLiteral("V5=20000"),    QStringLiteral("I1=100"),
        QStringLiteral("I2=3100")};
    for (const QString& field : expected) QVERIFY2(fields.contains(field), qPrintable(field + QStringLiteral(" in ") + state));

    checkTimingOnTheLine(sim.received());
}

// The run's timing as the supply saw it. Only the protocol's lower bounds are checked: nothing
// reaches the supply sooner than its timings allow. How late a step comes depends on how busy the
// machine is; bench/ measures that as the run's overhead, and the log here prints each gap.
void TestRunEnginePty::checkTimingOnTheLine(const std::vector<SimulatedSupply::Received>& frames)
{
    constexpr qint64 PeriodMs = 400;
    constexpr qint64 ReceiveWaitMs = 35;  // 9600 baud
    constexpr qint64 SlowPauseMs = 2000;
    constexpr qint64 MeterDelayMs = 1000;
    constexpr qint64 ReadTimerMs = 500;
    // A timer may fire a little before its time on the simulator's clock.
    constexpr qint64 EarlyMs = 10;

    // Sends of one step, in order; the supply numbers a step by its distinct frames.
    std::vector<std::vector<SimulatedSupply::Received>> steps;
    for (const auto& f : frames) {
        if (steps.empty() || steps.back().front().step != f.step) steps.emplace_back();
        steps.back().push_back(f);
    }
    // 29 steps less the seven meter steps, which send nothing.
    QCOMPARE(steps.size(), std::size_t{22});
    QCOMPARE(steps.front().size(), std::size_t{3});

    // What was measured, for reading in the log: each step's command, its sends and the gap to the next step.
    QStringList measured;
    for (std::size_t i = 0; i + 1 < steps.size(); ++i)
        measured << QStringLiteral("%1x%2 +%3").arg(steps[i].back().command, 2, 16, QLatin1Char('0'))
                        .arg(steps[i].size())
                        .arg(steps[i + 1].front().atMs - steps[i].back().atMs);
    qInfo().noquote() << "frame arrivals (command x sends +ms to the next step's first frame):" << measured.join(QLatin1Char(' '));

    auto describe = [](int step, qint64 gap) { return QStringLiteral("after step %1: %2 ms").arg(step).arg(gap); };
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const auto& sends = steps[i];
        for (std::size_t k = 1; k < sends.size(); ++k) {
            const qint64 gap = sends[k].atMs - sends[k - 1].atMs;
            QVERIFY2(gap >= PeriodMs - EarlyMs, qPrintable(describe(sends[k].step, gap)));
        }
        if (i + 1 == steps.size()) break;
        const auto& last = sends.back();
        QVERIFY2(last.answeredAtMs >= 0, qPrintable(describe(last.step, -1)));
        const qint64 next = steps[i + 1].front().atMs;
        const int command = last.command;
        if (command == Cmd::SerialAndModel || command == Cmd::TestingInfo) {
            // The supply writes its EEPROM: nothing may reach it for 2000 ms after the frame did.
            const qint64 gap = next - last.atMs;
            QVERIFY2(gap >= SlowPauseMs, qPrintable(describe(last.step, gap)));
        } else if (command == Cmd::SelectVoltagePoint || command == Cmd::SelectCurrentPoint) {
            const qint64 gap = next - last.answeredAtMs;
            const qint64 least = ReceiveWaitMs + MeterDelayMs + ReadTimerMs + PeriodMs;
            QVERIFY2(gap >= least - EarlyMs, qPrintable(describe(last.step, gap)));
        } else {
            // The next step starts when the answer is handled; its first send comes one period later.
            const qint64 gap = next - last.answeredAtMs;
            QVERIFY2(gap >= ReceiveWaitMs + PeriodMs - EarlyMs, qPrintable(describe(last.step, gap)));
        }
    }
}

void TestRunEnginePty::recordOfEarlyEndings_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<bool>("abortAtStep3");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("lastStep");
    QTest::addColumn<QString>("lastState");
    QTest::newRow("operator aborts at step 3") << QStringList{} << true << "aborted" << 2 << "Succeed !";
    QTest::newRow("serial number unanswered") << QStringList{QStringLiteral("--no-answer"), QStringLiteral("0x8B")} << false
                                              << "failed" << 25 << "Communication failed !";
}

void TestRunEnginePty::recordOfEarlyEndings()
{
    QFETCH(QStringList, simArgs);
    QFETCH(bool, abortAtStep3);
    QFETCH(QString, result);
    QFETCH(int, lastStep);
    QFETCH(QString, lastState);
    SimulatedSupply sim(QStringLiteral(PSU_SIM));
    const QString ptyPath = sim.start(simArgs);
    QVERIFY2(!ptyPath.isEmpty(), qPrintable(sim.errorString()));
    QTemporaryDir dir;
    const QString dbPath = dir.filePath(QStringLiteral("PowerTestDb.sqlite"));
    PtyBench bench(ptyPath, dbPath);
    QVERIFY(bench.link.OpenPort(1, 9600));
    // Aborted as step 3 begins, from the event loop as the button would be, however late the
    // machine is to look.
    if (abortAtStep3)
        bench.view.onStepState = [&bench](int step, const QString& text) {
            if (step == 2 && text == QStringLiteral("Succeed !"))
                QTimer::singleShot(0, [&bench] { bench.engine.btnCancelClick(); });
        };
    bench.engine.btnStartClick();
    QTRY_VERIFY_WITH_TIMEOUT(!bench.s.FCalibrating, 120000);
    bench.link.ClosePort();
    QVERIFY(sim.stop());

    ResultsDb db;
    QVERIFY2(db.open(dbPath, ResultsDb::Mode::Read), qPrintable(db.errorText()));
    RunDetails run;
    QString error;
    QVERIFY2(LoadRun(db.database(), bench.record.runId(), &run, &error), qPrintable(error));
    QCOMPARE(run.result, result);
    QVERIFY(!run.endedAt.isEmpty());
    QCOMPARE(run.steps.back().step, lastStep);
    QCOMPARE(run.steps.back().state, lastState);
    QCOMPARE(run.counterAfter, 4711);
    if (!abortAtStep3) {
        QCOMPARE(run.steps.back().sends, 6);
        QCOMPARE(run.readings.size(), 7u);
        QCOMPARE(bench.view.boxTexts("Warning"), QStringList{QStringLiteral("Communication failed !")});
    }
}

// A power cut or a kill in the middle of a run: the record keeps what was done, and the file
// opens cleanly afterwards.
void TestRunEnginePty::killedMidRunLeavesItsRecord()
{
    SimulatedSupply sim(QStringLiteral(PSU_SIM));
    const QString ptyPath = sim.start({});
    QVERIFY2(!ptyPath.isEmpty(), qPrintable(sim.errorString()));
    QTemporaryDir dir;
    const QString dbPath = dir.filePath(QStringLiteral("PowerTestDb.sqlite"));

    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("KORVEX_CHILD_PTY"), ptyPath);
    env.insert(QStringLiteral("KORVEX_CHILD_DB"), dbPath);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForStarted(5000));

    // Killed once two readings are in and the steps after them are being recorded.
    auto stepsDone = [&dbPath] {
        ResultsDb db;
        if (!db.open(dbPath, ResultsDb::Mode::Read)) return 0;
        QSqlQuery q(db.database());
        return q.exec(QStringLiteral("SELECT count(*) FROM TestStep")) && q.next() ? q.value(0).toInt() : 0;
    };
    QTRY_VERIFY_WITH_TIMEOUT(stepsDone() >= 10, 30000);
    child.kill();
    QVERIFY(child.waitForFinished(5000));
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);
    QVERIFY(sim.stop());

    {
        ResultsDb db;
        QVERIFY2(db.open(dbPath, ResultsDb::Mode::Read), qPrintable(db.errorText()));
        std::vector<RunSummary> runs;
        QString error;
        QVERIFY2(ListRuns(db.database(), RunFilter{}, &runs, &error), qPrintable(error));
        QCOMPARE(runs.size(), 1u);
        QCOMPARE(runs[0].result, QStringLiteral("interrupted"));
        QCOMPARE(runs[0].durationS, -1.0);
        RunDetails run;
        QVERIFY2(LoadRun(db.database(), runs[0].id, &run, &error), qPrintable(error));
        QVERIFY(run.steps.size() >= 10u);
        for (std::size_t i = 0; i < run.steps.size(); ++i) {
            QCOMPARE(run.steps[i].step, int(i) + 1);
            QCOMPARE(run.steps[i].state, QStringLiteral("Succeed !"));
        }
        QVERIFY(run.readings.size() >= 2u);
        QCOMPARE(run.readings[0].typed, Typed[0]);
    }
    // The next start records into the same file, with nothing to repair or move aside.
    QtClock clock;
    QtSerialControl comm([](int) { return QString(); });
    SerialLink link(comm, clock);
    RecordingView view;
    RunEngine engine(link, clock, view);
    ResultsRecord record(engine, dbPath, RecordContext{});
    QStringList faults;
    record.setFaultSink([&](const QString& text, bool) { faults << text; });
    QVERIFY(record.Open());
    QVERIFY(faults.isEmpty());
    QVERIFY(record.db().movedAside().isEmpty());
    QSqlQuery q(record.db().database());
    QVERIFY(q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next());
    QCOMPARE(q.value(0).toString(), QStringLiteral("ok"));
}

// The supply's line goes away at step 10 (an adapter pulled): the run stalls there, quietly; the
// operator aborts it, confirms the settings with a supply that is there, and calibrates anew.
void TestRunEnginePty::hangUpMidRunThenANewRun()
{
    SimulatedSupply first(QStringLiteral(PSU_SIM));
    // Hangs up after answering its 7th frame, step 9: step 10 never reaches it.
    const QString firstPty = first.start({QStringLiteral("--hangup-after"), QStringLiteral("7")});
    QVERIFY2(!firstPty.isEmpty(), qPrintable(first.errorString()));
    QTemporaryDir dir;
    const QString dbPath = dir.filePath(QStringLiteral("PowerTestDb.sqlite"));
    PtyBench bench(firstPty, dbPath);
    QVERIFY(bench.link.OpenPort(1, 9600));
    bench.engine.btnStartClick();
    QTRY_VERIFY_WITH_TIMEOUT(bench.view.stepStates[10] == QStringLiteral("Communication failed !"), 30000);
    QTest::qWait(1000);

    // Stalled as a step without an answer is: still active, waiting, nothing more sent.
    QVERIFY(bench.s.FCalibrating);
    QCOMPARE(int(bench.s.FStep), 10);
    QVERIFY(!bench.engine.TimerSend().isActive());
    QVERIFY(!bench.link.FPortOpen);
    const QString disconnected = QStringLiteral("<Message> 端口已断开");
    QCOMPARE(bench.view.log.count(disconnected), 1);
    const QString gone = QStringLiteral("The port of the supply is gone: the cable or the adapter was unplugged.");
    QCOMPARE(bench.view.log.count(gone), 1);
    QCOMPARE(bench.view.statusPanels[0], gone);
    QVERIFY2(bench.view.log.size() < 60, qPrintable(QString::number(bench.view.log.size())));
    QVERIFY2(bench.comm.deviceErrorSignals() < 50, qPrintable(QString::number(bench.comm.deviceErrorSignals())));
    QCOMPARE(bench.view.boxTexts("Warning"), QStringList());

    // Abort, Setting and OK with a supply that is there, Calibrate: the next run finishes.
    bench.engine.btnCancelClick();
    QVERIFY(!bench.s.FCalibrating);
    QVERIFY(first.stop());
    SimulatedSupply second(QStringLiteral(PSU_SIM));
    bench.devicePath = second.start({});
    QVERIFY2(!bench.devicePath.isEmpty(), qPrintable(second.errorString()));
    QVERIFY(bench.link.OpenPort(1, 9600));
    bench.nextReading = 0;
    const qint64 firstRun = bench.record.runId();
    bench.engine.btnStartClick();
    QVERIFY(bench.s.FCalibrating);
    QTRY_VERIFY_WITH_TIMEOUT(!bench.s.FCalibrating, 90000);
    QCOMPARE(bench.view.boxTexts("Information"), QStringList{QStringLiteral("Voltrix7212B calibrating finished !")});
    for (int step = 1; step <= CalStepCount; ++step) QCOMPARE(bench.view.stepStates[step], QStringLiteral("Succeed !"));
    QVERIFY(second.stop());
    QVERIFY2(second.lastStateFields().contains(QStringLiteral("serial=000042")), qPrintable(second.lastStateFields().join(' ')));

    // Both runs recorded as they went: the first stalled and then aborted, the second finished.
    ResultsDb db;
    QVERIFY2(db.open(dbPath, ResultsDb::Mode::Read), qPrintable(db.errorText()));
    std::vector<RunSummary> runs;
    QString error;
    QVERIFY2(ListRuns(db.database(), RunFilter{}, &runs, &error), qPrintable(error));
    QCOMPARE(runs.size(), 2u);
    QCOMPARE(runs[1].id, firstRun);
    QCOMPARE(runs[1].result, QStringLiteral("aborted"));
    QCOMPARE(runs[0].result, QStringLiteral("finished"));
    // Step 10's sends found the port gone: none of them is recorded as sent.
    RunDetails stalled;
    QVERIFY2(LoadRun(db.database(), firstRun, &stalled, &error), qPrintable(error));
    QCOMPARE(stalled.steps.back().step, 10);
    QCOMPARE(stalled.steps.back().sends, 0);
}

void TestRunEnginePty::noiseOnTheLineIsNoAnswer_data()
{
    QTest::addColumn<int>("burst");
    QTest::addColumn<int>("everyMs");
    QTest::newRow("a byte every 2 ms") << 1 << 2;
    QTest::newRow("30 bytes every 25 ms") << 30 << 25;
}

// A device on the supply's port that never stops sending, while step 1 waits for its answer.
void TestRunEnginePty::noiseOnTheLineIsNoAnswer()
{
    QFETCH(int, burst);
    QFETCH(int, everyMs);
    PtyPair pty;
    QVERIFY(pty.isValid());
    QTemporaryDir dir;
    PtyBench bench(pty.slavePath(), dir.filePath(QStringLiteral("PowerTestDb.sqlite")));
    StackSpread spread;
    bench.comm.setOnComm([&] {
        spread.mark();
        bench.link.Comm1Comm();
    });
    QVERIFY(bench.link.OpenPort(1, 9600));
    std::atomic<bool> sending{true};
    std::thread device([&] {
        while (sending) {
            pty.write(QByteArray(burst, '\x55'));
            std::this_thread::sleep_for(std::chrono::milliseconds(everyMs));
        }
    });
    bench.engine.btnStartClick();
    QTRY_COMPARE_WITH_TIMEOUT(bench.view.stepStates[1], QStringLiteral("Communication failed !"), 8000);
    QTest::qWait(1500);
    sending = false;
    device.join();

    // Every port event was handled from the event loop's own depth, none inside another's handler.
    QVERIFY2(spread.bytes() < 16 * 1024, qPrintable(QString::number(spread.bytes())));
    // No answer: six sends, the last one, and the run waits at step 1.
    QVERIFY(bench.s.FCalibrating);
    QCOMPARE(int(bench.s.FStep), 1);
    QCOMPARE(bench.view.log.filter(QStringLiteral("[Step 1] : ")).size(), 7);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("KORVEX_CHILD_PTY")) return RunChild();
    TestRunEnginePty test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_RunEnginePty.moc"
