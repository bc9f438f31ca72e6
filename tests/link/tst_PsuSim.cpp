// Tests of the simulated supply against the real link over its pseudo-terminal: answers, state and every fault.
#include "QtClock.h"
#include "QtSerialControl.h"
#include "SerialLink.h"

#include <QProcess>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

namespace {

TPsuFrame Frame(int cmd, int data0 = 0)
{
    TPsuFrame f = MakeFrame(0, static_cast<std::uint8_t>(cmd));
    f.data(0) = static_cast<std::uint8_t>(data0);
    SealFrame(f);
    return f;
}

class SimRig {
public:
    explicit SimRig(const QStringList& args)
    {
        QObject::connect(&proc_, &QProcess::readyReadStandardOutput, [this] {
            buffered_ += proc_.readAllStandardOutput();
            int nl;
            while ((nl = buffered_.indexOf('\n')) >= 0) {
                lines << QString::fromUtf8(buffered_.left(nl));
                buffered_.remove(0, nl + 1);
            }
        });
        proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc_.start(QStringLiteral(PSU_SIM_PATH), args);
        link.setRunModeSource([] { return 1; });
        link.setReplyHandler([this] { replies << link.FReply; });
        link.setLogSink([this](const QString& line) { log << line; });
        link.SetDefaults();
    }
    ~SimRig()
    {
        link.ClosePort();
        if (proc_.state() != QProcess::NotRunning) {
            proc_.kill();
            proc_.waitForFinished(2000);
        }
    }

    // Waits for the "PTY <path>" line and opens the link on that path.
    bool connect()
    {
        if (!QTest::qWaitFor([this] { return !lines.isEmpty(); }, 5000)) return false;
        if (!lines.front().startsWith(QLatin1String("PTY /dev/"))) return false;
        path_ = lines.front().mid(4);
        return link.OpenPort(1, 38400);
    }
    int count(const QString& prefix) const
    {
        return static_cast<int>(std::count_if(lines.begin(), lines.end(), [&](const QString& l) { return l.startsWith(prefix); }));
    }
    // Sends a frame and waits until the supply has seen it and its answer has had time to arrive.
    bool send(const TPsuFrame& frame, int settleMs = 150)
    {
        const int seen = count(QStringLiteral("RX "));
        sent = frame;
        link.WriteFabData(frame);
        const bool ok = QTest::qWaitFor([&] { return count(QStringLiteral("RX ")) > seen; }, 3000);
        QTest::qWait(settleMs);
        return ok;
    }
    bool stop()
    {
        proc_.terminate();
        return proc_.waitForFinished(5000);
    }

    QtClock clock;
    QtSerialControl comm{[this](int) { return path_; }};
    SerialLink link{comm, clock};
    QStringList lines;
    QStringList log;
    QList<TPsuFrame> replies;
    TPsuFrame sent;

private:
    QProcess proc_;
    QByteArray buffered_;
    QString path_;
};

}  // namespace

Q_DECLARE_METATYPE(TPsuFrame)

class TestPsuSim : public QObject {
    Q_OBJECT
private slots:
    void answersAndState();
    void serialDigits_data();
    void serialDigits();
    void meterLines_data();
    void meterLines();
    void faults_data();
    void faults();
    void noAnswerToOneStep();
    void delayedAnswer();
    void hangUp();
    void commandLine_data();
    void commandLine();
};

void TestPsuSim::answersAndState()
{
    SimRig rig({});
    QVERIFY(rig.connect());
    QVERIFY(rig.send(Frame(Cmd::ControlState, 3)));
    QCOMPARE(rig.replies.size(), 1);
    QVERIFY(IsValidReply(rig.replies[0], 0, rig.sent));
    QCOMPARE(rig.replies[0].command(), Cmd::ClearingAnswer);

    QVERIFY(rig.send(Frame(Cmd::ReadSerial)));
    QCOMPARE(rig.replies.size(), 2);
    QVERIFY(IsValidReply(rig.replies[1], 0, rig.sent));
    QCOMPARE(rig.replies[1].command(), Cmd::ReadSerial);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(&rig.replies[1].bytes[3]), 6), QByteArray("000042"));

    TPsuFrame enter = MakeFrame(0, Cmd::CalibrationMode);
    enter.data(0) = CalAccessCode[0];
    enter.data(1) = CalAccessCode[1];
    enter.data(2) = 1;
    SealFrame(enter);
    QVERIFY(rig.send(enter));
    QVERIFY(rig.send(Frame(Cmd::SelectVoltagePoint, 2)));
    TPsuFrame value = MakeFrame(0, Cmd::VoltageValue);
    value.data(0) = 0x9F;  // 3999 mV
    value.data(1) = 0x0F;
    SealFrame(value);
    QVERIFY(rig.send(value));
    QVERIFY(rig.send(Frame(Cmd::ClearCalibration)));
    QCOMPARE(rig.replies.size(), 6);

    QVERIFY(rig.stop());
    QCOMPARE(rig.lines.last(), QStringLiteral("EXIT"));
    const QString state = rig.lines[rig.lines.size() - 2];
    QVERIFY2(state.startsWith(QLatin1String("STATE serial=000042 ")), qPrintable(state));
    QVERIFY2(state.contains(QLatin1String(" control=3 calmode=1 cleared=1 V1=- V2=3999 ")), qPrintable(state));
}

void TestPsuSim::serialDigits_data()
{
    QTest::addColumn<QString>("spec");
    QTest::addColumn<QByteArray>("digits");
    QTest::newRow("number") << QStringLiteral("123456") << QByteArray("123456");
    QTest::newRow("padded") << QStringLiteral("7") << QByteArray("000007");
    QTest::newRow("none") << QStringLiteral("none") << QByteArray("      ");
    QTest::newRow("not digits") << QStringLiteral("12AB56") << QByteArray("12AB56");
}

void TestPsuSim::serialDigits()
{
    QFETCH(QString, spec);
    QFETCH(QByteArray, digits);
    SimRig rig({QStringLiteral("--serial"), spec});
    QVERIFY(rig.connect());
    QVERIFY(rig.send(Frame(Cmd::ReadSerial)));
    QCOMPARE(rig.replies.size(), 1);
    QVERIFY(IsValidReply(rig.replies[0], 0, rig.sent));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(&rig.replies[0].bytes[3]), 6), digits);
}

void TestPsuSim::meterLines_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("cmd");
    QTest::addColumn<int>("point");
    QTest::addColumn<QString>("meter");
    // What the simulated meter on the terminals answers to each question; empty: nothing.
    QTest::addColumn<QStringList>("questions");
    QTest::addColumn<QStringList>("answers");
    const QStringList volts{"MEAS:VOLT:DC?"}, both{"Meas:Volt:DC?", "MEAS:CURR:DC?"};
    QTest::newRow("100 mV point") << QStringList{} << int(Cmd::SelectVoltagePoint) << 1 << "METER 0.1003 V" << both
                                  << QStringList{"+1.00300E-01", "+0.00000E+00"};
    QTest::newRow("37 V point") << QStringList{} << int(Cmd::SelectVoltagePoint) << 4 << "METER 37.0125 V" << volts
                                << QStringList{"+3.70125E+01"};
    QTest::newRow("4th point of the 7213B") << QStringList{"--model", "2"} << int(Cmd::SelectVoltagePoint) << 4
                                            << "METER 73.0210 V" << volts << QStringList{"+7.30210E+01"};
    QTest::newRow("3.1 A point: a voltage query reads the load's voltage")
        << QStringList{} << int(Cmd::SelectCurrentPoint) << 2 << "METER 3.0985 A" << both
        << QStringList{"+1.20000E+00", "+3.09850E+00"};
    QTest::newRow("offset") << QStringList{"--meter-offset", "0.001"} << int(Cmd::SelectVoltagePoint) << 1 << "METER 0.1003 V"
                            << volts << QStringList{"+1.01300E-01"};
    QTest::newRow("garbage once, then readings") << QStringList{"--meter-fault", "garbagex1"} << int(Cmd::SelectVoltagePoint) << 2
                                                 << "METER 3.9988 V" << QStringList{"MEAS:VOLT:DC?", "MEAS:VOLT:DC?"}
                                                 << QStringList{"#?!\x7f", "+3.99880E+00"};
    QTest::newRow("overload") << QStringList{"--meter-fault", "overload"} << int(Cmd::SelectVoltagePoint) << 2 << "METER 3.9988 V"
                              << volts << QStringList{"+9.90000E+37"};
    QTest::newRow("silent, but says who it is") << QStringList{"--meter-fault", "silentx1"} << int(Cmd::SelectVoltagePoint) << 2
                                                << "METER 3.9988 V" << QStringList{"MEAS:VOLT:DC?", "*IDN?"}
                                                << QStringList{"", "KORVEX-SIM,DMM-1,0,1.0"};
}

void TestPsuSim::meterLines()
{
    QFETCH(QStringList, args);
    QFETCH(int, cmd);
    QFETCH(int, point);
    QFETCH(QString, meter);
    QFETCH(QStringList, questions);
    QFETCH(QStringList, answers);
    SimRig rig(args + QStringList{QStringLiteral("--meter-tcp"), QStringLiteral("0")});
    QVERIFY(rig.connect());
    QVERIFY(rig.send(Frame(cmd, point), 50));
    QTRY_VERIFY(rig.lines.contains(meter));

    QTRY_VERIFY(rig.count(QStringLiteral("METERTCP ")) == 1);
    const auto at = std::find_if(rig.lines.begin(), rig.lines.end(), [](const QString& l) { return l.startsWith(QLatin1String("METERTCP ")); });
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, static_cast<quint16>(at->mid(9).toUInt()));
    QVERIFY(socket.waitForConnected(3000));
    for (int i = 0; i < questions.size(); ++i) {
        socket.write(questions[i].toLatin1() + '\n');
        QByteArray got;
        if (answers[i].isEmpty()) {
            QTest::qWait(300);
            QCOMPARE(socket.readAll(), QByteArray());
            continue;
        }
        QTRY_VERIFY_WITH_TIMEOUT((got += socket.readAll()).endsWith('\n'), 3000);
        QCOMPARE(got, answers[i].toLatin1() + '\n');
    }
}

void TestPsuSim::faults_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("sends");
    QTest::addColumn<int>("handOvers");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("simSays");

    QTest::newRow("no answer to 0x82") << QStringList{"--no-answer", "0x82"} << 2 << 0 << false << "NOANSWER";
    QTest::newRow("drop every 2nd") << QStringList{"--drop-every", "2"} << 3 << 2 << true << "DROP answer 2";
    QTest::newRow("wrong checksum") << QStringList{"--bad-checksum", "all"} << 1 << 1 << false << "[bad checksum]";
    QTest::newRow("wrong address") << QStringList{"--wrong-address", "82"} << 1 << 1 << false << "[wrong address]";
    QTest::newRow("split chunks reassembled") << QStringList{"--split", "10,10,6", "--gap-ms", "40"} << 1 << 1 << true
                                              << "[split 10,10,6 gap 40 ms]";
    QTest::newRow("duplicated answer") << QStringList{"--duplicate", "all", "--gap-ms", "80"} << 1 << 2 << true << "[duplicated]";
    QTest::newRow("noise before the answer") << QStringList{"--noise", "all"} << 1 << 1 << false << "[noise 55 00 13]";
    QTest::newRow("fault limited to the first time") << QStringList{"--bad-checksum", "0x82x1"} << 2 << 2 << true << "[bad checksum]";
}

// Every answer that reaches the link is judged by the validity test; `valid` is the verdict on the last.
void TestPsuSim::faults()
{
    QFETCH(QStringList, args);
    QFETCH(int, sends);
    QFETCH(int, handOvers);
    QFETCH(bool, valid);
    QFETCH(QString, simSays);

    SimRig rig(args);
    QVERIFY(rig.connect());
    for (int i = 0; i < sends; ++i) QVERIFY(rig.send(Frame(Cmd::ControlState, 3), 250));
    QCOMPARE(rig.replies.size(), handOvers);
    if (handOvers > 0) QCOMPARE(IsValidReply(rig.replies.last(), 0, rig.sent), valid);
    if (handOvers == 2 && args.contains(QLatin1String("--duplicate"))) QCOMPARE(rig.replies[0], rig.replies[1]);
    QVERIFY2(std::any_of(rig.lines.begin(), rig.lines.end(), [&](const QString& l) { return l.contains(simSays); }),
             qPrintable(rig.lines.join('\n')));
}

void TestPsuSim::noAnswerToOneStep()
{
    SimRig rig({QStringLiteral("--no-answer-step"), QStringLiteral("2x1")});
    QVERIFY(rig.connect());
    QVERIFY(rig.send(Frame(Cmd::ControlState, 3)));
    QVERIFY(rig.send(Frame(Cmd::ReadSerial)));
    QCOMPARE(rig.replies.size(), 1);
    // The same frame again is the same step, sent a second time: now it is answered.
    QVERIFY(rig.send(Frame(Cmd::ReadSerial)));
    QCOMPARE(rig.replies.size(), 2);
    QCOMPARE(rig.replies.last().command(), Cmd::ReadSerial);
}

void TestPsuSim::delayedAnswer()
{
    SimRig rig({QStringLiteral("--delay-ms"), QStringLiteral("400")});
    QVERIFY(rig.connect());
    QVERIFY(rig.send(Frame(Cmd::ControlState, 3), 100));
    QCOMPARE(rig.replies.size(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(rig.replies.size(), 1, 2000);
    QVERIFY(IsValidReply(rig.replies[0], 0, rig.sent));
}

void TestPsuSim::hangUp()
{
    SimRig rig({QStringLiteral("--hangup-after"), QStringLiteral("1")});
    QVERIFY(rig.connect());
    QVERIFY(rig.send(Frame(Cmd::ControlState, 3)));
    QCOMPARE(rig.replies.size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.link.FPortOpen, 3000);
    QVERIFY(!rig.comm.portOpen());
    QCOMPARE(rig.count(QStringLiteral("HANGUP")), 1);
    QCOMPARE(rig.log.filter(QStringLiteral("<Message>")).size(), 1);
}

QTEST_GUILESS_MAIN(TestPsuSim)
void TestPsuSim::commandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said");  // how its output begins, its error output when it fails
    QTest::newRow("help names the program, not its path") << QStringList{"--help"} << 0 << "Usage: psu-sim [options]\n";
    QTest::newRow("unknown option") << QStringList{"--serial", "7", "--colour"} << 2
                                    << "psu-sim: unrecognized option '--colour'\nTry 'psu-sim --help' for more information.\n";
    QTest::newRow("value missing") << QStringList{"--device"} << 2 << "psu-sim: Missing value after '--device'.\nTry 'psu-sim --help'";
}

void TestPsuSim::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, said);
    QProcess sim;
    sim.start(QStringLiteral(PSU_SIM_PATH), args);
    QVERIFY(sim.waitForFinished(5000));
    QCOMPARE(sim.exitCode(), exitCode);
    const QString out = QString::fromLocal8Bit(exitCode == 0 ? sim.readAllStandardOutput() : sim.readAllStandardError());
    QVERIFY2(out.startsWith(said), qPrintable(out));
}

#include "tst_PsuSim.moc"
