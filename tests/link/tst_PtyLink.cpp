// Tests of the serial link over QSerialPort on a real pseudo-terminal: writes, split answers, reopening, hang-up.
#include "PtyPair.h"
#include "QtClock.h"
#include "QtSerialControl.h"
#include "SerialLink.h"

#include <QtTest>

#include <memory>

namespace {

QByteArray Bytes(const TPsuFrame& f) { return QByteArray(reinterpret_cast<const char*>(f.bytes.data()), TPsuFrame::Size); }

QByteArray Answer()
{
    TPsuFrame f = MakeFrame(0, Cmd::ReadSerial);
    for (int i = 0; i < 6; ++i) f.data(i) = static_cast<std::uint8_t>('0' + i);
    SealFrame(f);
    return Bytes(f);
}

struct PtyRig {
    PtyPair pty;
    QtClock clock;
    QtSerialControl comm{[this](int) { return pty.slavePath(); }};
    SerialLink link{comm, clock};
    QStringList log;
    QList<QByteArray> replies;

    PtyRig()
    {
        link.setRunModeSource([] { return 1; });
        link.setLogSink([this](const QString& line) { log << line; });
        link.setReplyHandler([this] { replies << Bytes(link.FReply); });
        link.SetDefaults();
    }
    int receiveLines() const { return static_cast<int>(log.filter(QStringLiteral("Rece : ")).size()); }
};

}  // namespace

class TestPtyLink : public QObject {
    Q_OBJECT
private slots:
    void openWithoutModemLines();
    void openMissingDevice();
    void frameWrittenByteByByte();
    void frameOnTheLineBeforeABlockingPause();
    void stoppedLineBoundedAndFailed();
    void splitAnswer_data();
    void splitAnswer();
    void inputDiscardedOnReopen();
    void hangUp();
};

void TestPtyLink::openWithoutModemLines()
{
    PtyRig rig;
    QVERIFY(rig.pty.isValid());
    QVERIFY(rig.link.OpenPort(1, 9600));
    QVERIFY(rig.link.FPortOpen);
    QCOMPARE(rig.comm.devicePath(), rig.pty.slavePath());
    // A pseudo-terminal has no line-error counters; nothing polls them.
    QVERIFY(!rig.comm.pollingLineErrors());
    QVERIFY(rig.log.isEmpty());
}

void TestPtyLink::openMissingDevice()
{
    PtyPair pty;
    QtClock clock;
    QtSerialControl comm([](int port) { return QStringLiteral("/dev/korvex-no-such-port-%1").arg(port); });
    SerialLink link(comm, clock);
    QVERIFY(!link.OpenPort(5, 9600));
    QVERIFY(!link.FPortOpen);
    QCOMPARE(comm.devicePath(), QStringLiteral("/dev/korvex-no-such-port-5"));
}

void TestPtyLink::frameWrittenByteByByte()
{
    PtyRig rig;
    QVERIFY(rig.link.OpenPort(1, 38400));
    TPsuFrame frame = MakeFrame(0, Cmd::SelectVoltagePoint);
    frame.data(0) = 3;
    SealFrame(frame);
    rig.link.WriteFabData(frame);
    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT((got += rig.pty.readAvailable()).size() >= TPsuFrame::Size, 2000);
    QCOMPARE(got, Bytes(frame));
    QVERIFY(rig.link.FPortOpen);
    QVERIFY(rig.log.isEmpty());
}

// The pause after a slow frame blocks the event loop; the frame must already have left by then.
void TestPtyLink::frameOnTheLineBeforeABlockingPause()
{
    PtyRig rig;
    QVERIFY(rig.link.OpenPort(1, 9600));
    // No event loop runs between the write and the read.
    const TPsuFrame first = MakeFrame(0, Cmd::SerialAndModel);
    rig.link.WriteFabData(first);
    rig.clock.SleepBlocking(100);
    QCOMPARE(rig.pty.readAvailable(), Bytes(first));

    const TPsuFrame second = MakeFrame(0, Cmd::TestingInfo);
    rig.link.WriteFabData(second);
    QVERIFY(rig.link.WaitUntilSent());
    rig.clock.SleepBlocking(20);
    QCOMPARE(rig.pty.readAvailable(), Bytes(second));
    QVERIFY(rig.log.isEmpty());
    QVERIFY(rig.link.FPortOpen);
}

void TestPtyLink::stoppedLineBoundedAndFailed()
{
    PtyRig rig;
    QVERIFY(rig.link.OpenPort(1, 9600));
    QVERIFY(rig.pty.stopOutput(true));
    rig.link.WriteFabData(MakeFrame(0, Cmd::TestingInfo));
    QVERIFY(rig.link.FPortOpen);
    QElapsedTimer waited;
    waited.start();
    QVERIFY(!rig.link.WaitUntilSent());
    const qint64 ms = waited.elapsed();
    QVERIFY2(ms >= SerialLink::SendBoundMs(9600) - 5 && ms < 5000, qPrintable(QString::number(ms)));
    QCOMPARE(rig.log, QStringList{QStringLiteral("<Error> Failed to write data to port !")});
    QVERIFY(!rig.link.FPortOpen);
    QVERIFY(!rig.comm.portOpen());
    // Nothing of the frame reaches the supply once the line runs again.
    QVERIFY(rig.pty.stopOutput(false));
    QTest::qWait(50);
    QCOMPARE(rig.pty.readAvailable(), QByteArray());
}

void TestPtyLink::splitAnswer_data()
{
    QTest::addColumn<QList<int>>("cuts");
    QTest::newRow("whole") << QList<int>{26};
    QTest::newRow("1+25") << QList<int>{1, 25};
    QTest::newRow("25+1") << QList<int>{25, 1};
    QTest::newRow("10+10+6") << QList<int>{10, 10, 6};
    QTest::newRow("7+3+9+7") << QList<int>{7, 3, 9, 7};
}

// The gaps between the pieces are longer than the receive wait, so each piece is its own chunk.
void TestPtyLink::splitAnswer()
{
    QFETCH(QList<int>, cuts);
    PtyRig rig;
    QVERIFY(rig.link.OpenPort(1, 38400));
    const QByteArray answer = Answer();
    int at = 0;
    for (int n : cuts) {
        QVERIFY(rig.pty.write(answer.mid(at, n)));
        at += n;
        QTest::qWait(45);
    }
    QTRY_COMPARE_WITH_TIMEOUT(rig.replies.size(), 1, 2000);
    QTest::qWait(60);
    QCOMPARE(rig.replies.size(), 1);
    QCOMPARE(rig.replies.front(), answer);
    QCOMPARE(rig.receiveLines(), 1);
    QCOMPARE(rig.link.FRxCount(), 0);
}

void TestPtyLink::inputDiscardedOnReopen()
{
    PtyRig rig;
    QVERIFY(rig.link.OpenPort(1, 38400));
    rig.link.ClosePort();
    QVERIFY(!rig.comm.portOpen());
    QVERIFY(rig.pty.write(QByteArray(10, '\x55')));
    QVERIFY(rig.link.OpenPort(1, 38400));
    QVERIFY(rig.pty.write(Answer()));
    QTRY_COMPARE_WITH_TIMEOUT(rig.replies.size(), 1, 2000);
    QCOMPARE(rig.replies.front(), Answer());
    QTest::qWait(60);
    QCOMPARE(rig.replies.size(), 1);
    QCOMPARE(rig.link.FRxCount(), 0);
}

void TestPtyLink::hangUp()
{
    PtyRig rig;
    QVERIFY(rig.link.OpenPort(1, 38400));
    rig.pty.closeMaster();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.comm.portOpen(), 2000);
    QTRY_VERIFY_WITH_TIMEOUT(!rig.link.FPortOpen, 2000);

    // Once closed, the port stays quiet: no further events, no further log lines.
    QTest::qWait(200);
    QCOMPARE(rig.log.size(), 2);
    QVERIFY(!rig.link.FPortOpen);
    QVERIFY(!rig.comm.portOpen());
    QVERIFY(rig.comm.deviceErrorSignals() >= 1);
    QVERIFY2(rig.comm.deviceErrorSignals() < 50, qPrintable(QString::number(rig.comm.deviceErrorSignals())));
    rig.link.WriteFabData(MakeFrame(0, Cmd::ControlState));
    QCOMPARE(rig.log.size(), 2);
}

QTEST_GUILESS_MAIN(TestPtyLink)
#include "tst_PtyLink.moc"
