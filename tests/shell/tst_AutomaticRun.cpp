// The calibrator's automatic run, as the run command starts it without a display: the real
// program in a portable folder against the simulated supply, every window answered by itself.
#include "ResultsDb.h"
#include "ResultsQuery.h"
#include "SimulatedSupply.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestAutomaticRun : public QObject {
    Q_OBJECT
private slots:
    void wholeRun_data();
    void wholeRun();
};

void TestAutomaticRun::wholeRun_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<bool>("meter");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("result");
    QTest::newRow("the meter's readings confirmed") << QStringList{} << true << 0 << "RESULT finished";
    QTest::newRow("the simulator's levels typed") << QStringList{} << false << 0 << "RESULT finished";
    QTest::newRow("a supply that never answers") << QStringList{"--no-answer", "all"} << true << 1
                                                 << "RESULT the supply stopped answering";
}

void TestAutomaticRun::wholeRun()
{
    QFETCH(QStringList, simArgs);
    QFETCH(bool, meter);
    QFETCH(int, exitCode);
    QFETCH(QString, result);
    SimulatedSupply sim(QStringLiteral(PSU_SIM));
    const QString pty = sim.start(simArgs + (meter ? QStringList{QStringLiteral("--meter-pty")} : QStringList{}));
    QVERIFY2(!pty.isEmpty(), qPrintable(sim.errorString()));
    QString meterPty;
    if (meter) {
        QTRY_VERIFY(!sim.linesStartingWith(QStringLiteral("METERPTY ")).isEmpty());
        meterPty = sim.linesStartingWith(QStringLiteral("METERPTY ")).first().mid(9);
    }

    // A portable folder: the program and its Config.Ini side by side.
    QTemporaryDir dir;
    const QString program = dir.filePath(QStringLiteral("korvex-calibrator"));
    QVERIFY(QFile::copy(QStringLiteral(KORVEX_EXE), program));
    QFile ini(dir.filePath(QStringLiteral("Config.Ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[Config]\r\nPowerID=300\r\n[Ports]\r\nCOM1=" + pty.toLocal8Bit() + "\r\n");
    if (meter) ini.write("[Meter]\r\nConnection=serial\r\nPort=" + meterPty.toLocal8Bit() + "\r\n");
    ini.close();
    // The levels to type, as the simulator tells them on its output.
    const QString levels = dir.filePath(QStringLiteral("sim.log"));

    QProcess calibrator;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QTemporaryDir runtime;  // of its own: a calibrator already running on the machine is not met
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
    calibrator.setProcessEnvironment(env);
    calibrator.setProcessChannelMode(QProcess::MergedChannels);
    QByteArray output;
    sim.teeTo(levels);
    sim.output();
    QObject::connect(&calibrator, &QProcess::readyRead, [&] { output += calibrator.readAll(); });
    calibrator.start(program, {QStringLiteral("--automatic"), QStringLiteral("--levels"), levels});
    QVERIFY(calibrator.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(calibrator.state() == QProcess::NotRunning, 120000);
    output += calibrator.readAll();

    QCOMPARE(calibrator.exitStatus(), QProcess::NormalExit);
    QVERIFY2(calibrator.exitCode() == exitCode, output.right(3000).constData());
    QVERIFY2(output.contains(result.toLatin1()), output.right(3000).constData());
    ResultsDb db;
    QVERIFY2(db.open(dir.filePath(QStringLiteral("PowerTestDb.sqlite")), ResultsDb::Mode::Read), qPrintable(db.errorText()));
    std::vector<RunSummary> runs;
    QString error;
    QVERIFY(ListRuns(db.database(), RunFilter{}, &runs, &error));
    QCOMPARE(runs.size(), 1u);
    if (exitCode != 0) {
        // A run that cannot go on is ended as an operator ends it: Abort, then Yes.
        QVERIFY2(output.contains(": Abort ?"), output.right(3000).constData());
        QCOMPARE(runs[0].result, QStringLiteral("aborted"));
        return;
    }
    // Every step told as it went, the readings with where they came from.
    QCOMPARE(output.count("Succeed !"), 29);
    QCOMPARE(output.count(meter ? "(meter)" : "(typed)"), 7);
    QVERIFY(sim.stop());
    const QStringList state = sim.lastStateFields();
    for (const char* field : {"serial=000042", "V1=100", "V2=3999", "V4=37012", "I2=3098", "control=0"})
        QVERIFY2(state.contains(QLatin1String(field)), qPrintable(state.join(QLatin1Char(' '))));
    QCOMPARE(runs[0].result, QStringLiteral("finished"));
}

QTEST_GUILESS_MAIN(TestAutomaticRun)
#include "tst_AutomaticRun.moc"
