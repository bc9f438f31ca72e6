// The Reset run in real time over a pseudo-terminal against the simulated supply.
#include "ClearingRun.h"
#include "QtClock.h"
#include "QtSerialControl.h"
#include "RecordingView.h"
#include "RunEngine.h"
#include "SerialLink.h"

#include <QProcess>
#include <QtTest>

namespace {

QString ReadPtyPath(QProcess& sim)
{
    QByteArray seen;
    while (sim.waitForReadyRead(5000)) {
        seen += sim.readAllStandardOutput();
        for (const QByteArray& line : seen.split('\n'))
            if (line.startsWith("PTY ")) return QString::fromLatin1(line.mid(4).trimmed());
    }
    return {};
}

QStringList LastStateFields(const QString& output)
{
    QString last;
    for (const QString& line : output.split(QLatin1Char('\n')))
        if (line.startsWith(QLatin1String("STATE "))) last = line.trimmed();
    return last.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

}  // namespace

class tst_ClearingPty : public QObject {
    Q_OBJECT
private slots:
    void againstSimulator_data();
    void againstSimulator();
};

void tst_ClearingPty::againstSimulator_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QStringList>("stateFields");
    QTest::newRow("supply answers") << QStringList{} << "OK!"
                                    << QStringList{"cleared=1", "calmode=0", "control=0"};
    // The supply clears but its answer is lost: the run gives up and leaves it in calibration mode.
    QTest::newRow("clearing unanswered") << QStringList{"--no-answer", "0x8D"} << "Failed!"
                                         << QStringList{"calmode=1", "control=2"};
}

void tst_ClearingPty::againstSimulator()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QString, result);
    QFETCH(QStringList, stateFields);

    QProcess sim;
    sim.setProgram(QStringLiteral(PSU_SIM));
    sim.setArguments(simArgs);
    sim.start();
    QVERIFY2(sim.waitForStarted(5000), qPrintable(sim.errorString()));
    const QString ptyPath = ReadPtyPath(sim);
    QVERIFY2(!ptyPath.isEmpty(), "the simulator named no pseudo-terminal");

    QtClock clock;
    QtSerialControl comm([ptyPath](int) { return ptyPath; });
    SerialLink link(comm, clock);
    RecordingView view;
    RunEngine engine(link, clock, view);
    ClearingRun run(engine);
    link.SetDefaults();
    QVERIFY(link.OpenPort(1, 9600));

    run.btnClearClick();
    QVERIFY(engine.state().FClearing);
    QTRY_VERIFY_WITH_TIMEOUT(!engine.state().FClearing, 15000);
    link.ClosePort();

    QCOMPARE(view.resultLabel, result);
    if (result == QLatin1String("OK!")) {
        QCOMPARE(view.boxTexts("Information"), QStringList{QStringLiteral("Ok,succeed!")});
        QCOMPARE(int(engine.state().FStep), 6);
    } else {
        QCOMPARE(view.boxTexts("Error"), QStringList{QStringLiteral("Communication failed,clearing abort!")});
        QCOMPARE(int(engine.state().FStep), 3);
    }

    sim.terminate();
    QVERIFY(sim.waitForFinished(5000));
    const QString output = QString::fromLatin1(sim.readAllStandardOutput());
    const QStringList fields = LastStateFields(output);
    for (const QString& field : stateFields)
        QVERIFY2(fields.contains(field), qPrintable(field + QStringLiteral(" in ") + fields.join(QLatin1Char(' '))));
}

QTEST_GUILESS_MAIN(tst_ClearingPty)
#include "tst_ClearingPty.moc"
