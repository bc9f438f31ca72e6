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
};

void TestRunEnginePty::fullCalibrationAgainstSimulator()
{
    SimulatedSupply sim(QStringLiteral(PSU_SIM));
    // A supply without a serial number: it receives the unit counter.
    const QString ptyPath = sim.start({QStringLiteral("--serial"), QStringLiteral("none")});
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
}

QTEST_GUILESS_MAIN(TestRunEnginePty)
#include "tst_RunEnginePty.moc"
