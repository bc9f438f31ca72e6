// One whole calibration in real time over a pseudo-terminal against the simulated supply.
#include "CalList.h"
#include "QtClock.h"
#include "QtSerialControl.h"
#include "RecordingView.h"
#include "RunEngine.h"
#include "SerialLink.h"
#include "SimulatedSupply.h"

#include <QDate>
#include <QtTest>

#include <cmath>

class TestRunEnginePty : public QObject {
    Q_OBJECT

private slots:
    void fullCalibrationAgainstSimulator();

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

    QtClock clock;
    QtSerialControl comm([ptyPath](int) { return ptyPath; });
    SerialLink link(comm, clock);
    RecordingView view;
    RunEngine engine(link, clock, view);
    TRunState& s = engine.state();
    s.FAddress = 0;
    s.FModel = 1;
    s.FTestCode = TestCodeForModel(1);
    s.FUnitCounter = 4711;
    int saves = 0;
    engine.setSaveConfig([&] { ++saves; });

    // What the operator reads at the seven points, in volts and amperes.
    const std::vector<double> readings{0.1, 3.999, 4.0, 37.0, 20.0, 0.1, 3.1};
    std::size_t nextReading = 0;
    engine.setReadVolHandler([&] {
        engine.TimerReadVol().stop();
        if (s.FAborted || nextReading >= readings.size()) return;
        const double value = readings[nextReading++];
        s.FVoltageMv = s.FCurrentMa = static_cast<std::int32_t>(std::nearbyint(value * 1000.0));
        view.SetStepState(s.FStep, QStringLiteral("Succeed !"));
        ++s.FStep;
        engine.StoreMeasuredValue(s.FStep);
        engine.StartStep(s.FStep);
    });

    link.SetDefaults();
    QVERIFY(link.OpenPort(1, 9600));
    const QDate today = QDate::currentDate();
    engine.btnStartClick();
    QVERIFY(s.FCalibrating);
    QTRY_VERIFY_WITH_TIMEOUT(!s.FCalibrating, 90000);
    link.ClosePort();

    QCOMPARE(view.boxTexts("Warning"), QStringList());
    QCOMPARE(view.boxTexts("Error"), QStringList());
    QCOMPARE(view.boxTexts("Information"), QStringList{QStringLiteral("Voltrix7212B calibrating finished !")});
    for (int step = 1; step <= CalStepCount; ++step)
        QCOMPARE(view.stepStates[step], QStringLiteral("Succeed !"));
    QCOMPARE(nextReading, readings.size());
    QCOMPARE(s.FUnitCounter, 4712);
    QCOMPARE(saves, 1);

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

// The run's timing as the supply saw it. Lower bounds are the protocol's; upper bounds only leave
// room for a busy machine.
void TestRunEnginePty::checkTimingOnTheLine(const std::vector<SimulatedSupply::Received>& frames)
{
    constexpr qint64 PeriodMs = 400;
    constexpr qint64 ReceiveWaitMs = 35;  // 9600 baud
    constexpr qint64 SlowPauseMs = 2000;
    constexpr qint64 MeterDelayMs = 1000;
    constexpr qint64 ReadTimerMs = 500;
    constexpr qint64 LateMs = 250;
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
            QVERIFY2(gap >= PeriodMs - EarlyMs && gap <= PeriodMs + LateMs, qPrintable(describe(sends[k].step, gap)));
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
            QVERIFY2(gap <= SlowPauseMs + ReceiveWaitMs + PeriodMs + LateMs, qPrintable(describe(last.step, gap)));
        } else if (command == Cmd::SelectVoltagePoint || command == Cmd::SelectCurrentPoint) {
            const qint64 gap = next - last.answeredAtMs;
            const qint64 least = ReceiveWaitMs + MeterDelayMs + ReadTimerMs + PeriodMs;
            QVERIFY2(gap >= least - EarlyMs && gap <= least + LateMs, qPrintable(describe(last.step, gap)));
        } else {
            // The next step starts when the answer is handled; its first send comes one period later.
            const qint64 gap = next - last.answeredAtMs;
            const qint64 least = ReceiveWaitMs + PeriodMs;
            QVERIFY2(gap >= least - EarlyMs && gap <= least + LateMs, qPrintable(describe(last.step, gap)));
        }
    }
}

QTEST_GUILESS_MAIN(TestRunEnginePty)
#include "tst_RunEnginePty.moc"
