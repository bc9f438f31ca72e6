// One whole calibration in real time over a pseudo-terminal against the simulated supply.
#include "CalList.h"
#include "QtClock.h"
#include "QtSerialControl.h"
#include "RecordingView.h"
#include "RunEngine.h"
#include "SerialLink.h"

#include <QDate>
#include <QProcess>
#include <QtTest>

#include <cmath>

class TestRunEnginePty : public QObject {
    Q_OBJECT

private slots:
    void fullCalibrationAgainstSimulator();

private:
    static QString readPtyPath(QProcess& sim);
    static QString lastStateLine(const QString& output);
};

QString TestRunEnginePty::readPtyPath(QProcess& sim)
{
    QByteArray seen;
    while (sim.waitForReadyRead(5000)) {
        seen += sim.readAllStandardOutput();
        for (const QByteArray& line : seen.split('\n'))
            if (line.startsWith("PTY ")) return QString::fromLatin1(line.mid(4).trimmed());
    }
    return {};
}

QString TestRunEnginePty::lastStateLine(const QString& output)
{
    QString last;
    for (const QString& line : output.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("STATE "))) last = line.trimmed();
    return last;
}

void TestRunEnginePty::fullCalibrationAgainstSimulator()
{
    QProcess sim;
    sim.setProgram(QStringLiteral(PSU_SIM));
    // A supply without a serial number: it receives the unit counter.
    sim.setArguments({QStringLiteral("--serial"), QStringLiteral("none")});
    sim.start();
    QVERIFY2(sim.waitForStarted(5000), qPrintable(sim.errorString()));
    const QString ptyPath = readPtyPath(sim);
    QVERIFY2(!ptyPath.isEmpty(), "the simulator named no pseudo-terminal");

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

    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    const QString output = QString::fromLatin1(sim.readAllStandardOutput());
    const QString state = lastStateLine(output);
    QVERIFY2(!state.isEmpty(), qPrintable(output.right(2000)));
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
    const QStringList fields = state.split(QLatin1Char(' '));
    for (const QString& field : expected) QVERIFY2(fields.contains(field), qPrintable(field + QStringLiteral(" in ") + state));
}

QTEST_GUILESS_MAIN(TestRunEnginePty)
#include "tst_RunEnginePty.moc"
