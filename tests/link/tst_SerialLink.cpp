// Tests of the serial link over a fake control: reassembly, line errors, writes, opening, the receive wait.
#include "AppError.h"
#include "FakeClock.h"
#include "FakeSerialControl.h"
#include "SerialLink.h"

#include <QtTest>

namespace {

QByteArray Bytes(const TPsuFrame& f) { return QByteArray(reinterpret_cast<const char*>(f.bytes.data()), TPsuFrame::Size); }

QByteArray AnswerA() { return Bytes(MakeFrame(0, Cmd::ClearingAnswer)); }

QByteArray AnswerB()
{
    TPsuFrame f = MakeFrame(0, Cmd::ReadSerial);
    for (int i = 0; i < 6; ++i) f.data(i) = static_cast<std::uint8_t>('1' + i);
    SealFrame(f);
    return Bytes(f);
}

QByteArray Junk(int n) { return QByteArray(n, '\x11'); }

struct Rig {
    FakeSerialControl comm;
    FakeClock clock;
    SerialLink link{comm, clock};
    int runMode = 1;
    QStringList log;
    std::vector<QByteArray> replies;
    std::function<void()> onReply;

    Rig()
    {
        link.setRunModeSource([this] { return runMode; });
        link.setLogSink([this](const QString& line) { log << line; });
        link.setReplyHandler([this] {
            replies.push_back(Bytes(link.FReply));
            if (onReply) onReply();
        });
        link.SetDefaults();
    }
    bool open(int port = 1, int baud = 9600) { return link.OpenPort(port, baud); }
    // Bytes arrive and the receive wait runs out.
    void receive(const QByteArray& bytes)
    {
        comm.inject(bytes);
        clock.advance(SerialLink::BaudWaitMs(link.FBaud) + 1);
    }
};

}  // namespace

class TestSerialLink : public QObject {
    Q_OBJECT
private slots:
    void reassembly_data();
    void reassembly();
    void handOverLogLine();
    void nothingWaitingHandsNothingOn();

    void lineErrors_data();
    void lineErrors();
    void hangUpClosesOnce();

    void writeFailureClosesThePort();
    void writeRefused_data();
    void writeRefused();
    void heldOutput_data();
    void heldOutput();
    void waitUntilSent_data();
    void waitUntilSent();

    void openOrder();
    void openFailures_data();
    void openFailures();
    void portZeroLeavesOpenPortAlone();

    void receiveWait_data();
    void receiveWait();
    void replyHandlerErrorDiscardsInput();
};

// Each row feeds chunks one at a time (with the run mode in force for that chunk) and checks how
// many answers have been handed over after each chunk, what is held at the end and the last answer.
void TestSerialLink::reassembly_data()
{
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<int>>("modes");
    QTest::addColumn<QList<int>>("handedAfter");
    QTest::addColumn<int>("heldAfter");
    QTest::addColumn<QByteArray>("lastReply");

    const QByteArray a = AnswerA();
    const QByteArray b = AnswerB();
    QTest::newRow("26 at once") << QList<QByteArray>{a} << QList<int>{1} << QList<int>{1} << 0 << a;
    QTest::newRow("30: first 26 handed over, held discarded")
        << QList<QByteArray>{b.left(10), a + Junk(4)} << QList<int>{1, 1} << QList<int>{0, 1} << 0 << a;
    QTest::newRow("1023 bytes: first 26") << QList<QByteArray>{a + Junk(997)} << QList<int>{1} << QList<int>{1} << 0 << a;
    QTest::newRow("10+16") << QList<QByteArray>{a.left(10), a.mid(10)} << QList<int>{1, 1} << QList<int>{0, 1} << 0 << a;
    QTest::newRow("10+10+6") << QList<QByteArray>{a.left(10), a.mid(10, 10), a.mid(20)} << QList<int>{1, 1, 1}
                             << QList<int>{0, 0, 1} << 0 << a;
    QTest::newRow("first byte of a fresh start not examined")
        << QList<QByteArray>{Junk(3) + a.left(7), a.mid(7, 16)} << QList<int>{1, 1} << QList<int>{0, 1} << 0
        << Junk(3) + a.left(23);
    QTest::newRow("10 held, 12 starting AA replaces them")
        << QList<QByteArray>{Junk(10), b.left(12)} << QList<int>{1, 1} << QList<int>{0, 0} << 12 << QByteArray();
    QTest::newRow("... and 14 more complete the new answer")
        << QList<QByteArray>{Junk(10), b.left(12), b.mid(12)} << QList<int>{1, 1, 1} << QList<int>{0, 0, 1} << 0 << b;
    QTest::newRow("10 held, 16 starting AA completes 26")
        << QList<QByteArray>{a.left(10), b.left(16)} << QList<int>{1, 1} << QList<int>{0, 1} << 0 << a.left(10) + b.left(16);
    QTest::newRow("run mode 0 drops the chunk, held bytes kept")
        << QList<QByteArray>{a.left(10), b, a.mid(10)} << QList<int>{1, 0, 1} << QList<int>{0, 0, 1} << 0 << a;
    QTest::newRow("run mode 0 before any run") << QList<QByteArray>{a} << QList<int>{0} << QList<int>{0} << 0 << QByteArray();
    QTest::newRow("unknown run mode 2 drops") << QList<QByteArray>{a} << QList<int>{2} << QList<int>{0} << 0 << QByteArray();
    QTest::newRow("clearing run gathers too") << QList<QByteArray>{a.left(10), a.mid(10)} << QList<int>{3, 3}
                                              << QList<int>{0, 1} << 0 << a;
    // The run mode keeps its value after a run ends, so late answers are still gathered.
    QTest::newRow("after a run ended still gathering")
        << QList<QByteArray>{a, b.left(5), b.mid(5)} << QList<int>{1, 1, 1} << QList<int>{1, 1, 2} << 0 << b;
    QTest::newRow("0 and 1024 byte chunks dropped, held kept")
        << QList<QByteArray>{a.left(10), QByteArray(), a + Junk(998), a.mid(10)} << QList<int>{1, 1, 1, 1}
        << QList<int>{0, 0, 0, 1} << 0 << a;
    QTest::newRow("overshoot drops the chunk and the held bytes")
        << QList<QByteArray>{a.left(10), Junk(20)} << QList<int>{1, 1} << QList<int>{0, 0} << 0 << QByteArray();
    QTest::newRow("after an overshoot the next answer starts clean")
        << QList<QByteArray>{a.left(10), Junk(20), b.left(10), b.mid(10)} << QList<int>{1, 1, 1, 1}
        << QList<int>{0, 0, 0, 1} << 0 << b;
}

void TestSerialLink::reassembly()
{
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<int>, modes);
    QFETCH(QList<int>, handedAfter);
    QFETCH(int, heldAfter);
    QFETCH(QByteArray, lastReply);

    Rig rig;
    for (int i = 0; i < chunks.size(); ++i) {
        rig.runMode = modes[i];
        rig.link.ReceiveChunk(chunks[i], static_cast<int>(chunks[i].size()));
        QCOMPARE(static_cast<int>(rig.replies.size()), handedAfter[i]);
        QVERIFY(rig.link.FRxCount() >= 0 && rig.link.FRxCount() <= TPsuFrame::Size);
    }
    QCOMPARE(rig.link.FRxCount(), heldAfter);
    if (!lastReply.isEmpty()) QCOMPARE(rig.replies.back(), lastReply);
    if (heldAfter == 0) {
        const auto& buf = rig.link.rx().buffer();
        QVERIFY(std::all_of(buf.begin(), buf.end(), [](std::uint8_t v) { return v == 0; }));
    }
}

void TestSerialLink::handOverLogLine()
{
    Rig rig;
    QVERIFY(rig.open());
    rig.receive(AnswerB());
    QCOMPARE(rig.log.size(), 1);
    const QString expected = QStringLiteral("Rece :  AA 00 8C 31 32 33 34 35 36") + QString(" 00").repeated(16) +
                             QStringLiteral(" 6B");
    QCOMPARE(rig.log.front(), expected);
    QCOMPARE(rig.link.FLogText, expected);
}

void TestSerialLink::nothingWaitingHandsNothingOn()
{
    Rig rig;
    QVERIFY(rig.open());
    rig.link.ReceiveChunk(AnswerA().left(10), 10);
    rig.receive(QByteArray());
    QVERIFY(rig.replies.empty());
    QVERIFY(rig.log.isEmpty());
    QCOMPARE(rig.link.FRxCount(), 10);
}

void TestSerialLink::lineErrors_data()
{
    QTest::addColumn<int>("event");
    QTest::addColumn<QString>("logLine");
    QTest::addColumn<bool>("resets");
    QTest::addColumn<bool>("inputDiscarded");
    QTest::addColumn<bool>("outputDiscarded");

    QTest::newRow("1004 framing") << 1004 << QStringLiteral("<Message> 帧错误") << true << true << true;
    QTest::newRow("1008 receive overflow") << 1008 << QStringLiteral("<Message> 接收缓冲区溢出") << false << true << false;
    QTest::newRow("1009 parity") << 1009 << QStringLiteral("<Message> 寄偶校验错") << false << false << false;
    QTest::newRow("1010 transmit full") << 1010 << QStringLiteral("<Message> 发送缓冲区溢出") << false << false << true;
    QTest::newRow("1011 device control block")
        << 1011 << QStringLiteral("<Message> 检索端口的设备控制块时的意外错误") << false << false << false;
    QTest::newRow("other event ignored") << 1001 << QString() << false << false << false;
}

void TestSerialLink::lineErrors()
{
    QFETCH(int, event);
    QFETCH(QString, logLine);
    QFETCH(bool, resets);
    QFETCH(bool, inputDiscarded);
    QFETCH(bool, outputDiscarded);

    Rig rig;
    QVERIFY(rig.open());
    rig.comm.holdOutput = true;
    rig.link.WriteFabData(MakeFrame(0, Cmd::ControlState));
    rig.comm.arrive(Junk(5));
    rig.link.ReceiveChunk(AnswerA().left(7), 7);
    const int opens = rig.comm.opens;
    const int closes = rig.comm.closes;

    rig.comm.raise(event);

    QCOMPARE(rig.log, logLine.isEmpty() ? QStringList() : QStringList{logLine});
    QCOMPARE(rig.comm.opens - opens, resets ? 1 : 0);
    QCOMPARE(rig.comm.closes - closes, resets ? 1 : 0);
    QVERIFY(rig.comm.portOpen());
    QVERIFY(rig.link.FPortOpen);
    QCOMPARE(rig.comm.inBufferCount(), inputDiscarded ? 0 : 5);
    QCOMPARE(rig.comm.outBufferCount(), outputDiscarded ? 0 : 26);
    // The partial answer survives every line error, the reset included.
    QCOMPARE(rig.link.FRxCount(), 7);
    if (resets) {
        QCOMPARE(rig.clock.waits().size(), std::size_t(1));
        QCOMPARE(rig.clock.waits().front().ms, 10);
        QVERIFY(rig.clock.waits().front().blocking);
    } else {
        QVERIFY(rig.clock.waits().empty());
    }
}

void TestSerialLink::hangUpClosesOnce()
{
    Rig rig;
    QVERIFY(rig.open());
    rig.comm.setPortOpen(false);  // the control closes the port before it reports the hang-up
    rig.comm.raise(CommEv::HangUp);
    QVERIFY(!rig.link.FPortOpen);
    QCOMPARE(rig.log, (QStringList{QStringLiteral("<Message> 端口已断开"),
                                   QStringLiteral("The port of the supply is gone: the cable or the adapter was unplugged.")}));
    rig.link.WriteFabData(MakeFrame(0, Cmd::ControlState));
    QVERIFY(rig.comm.sent.isEmpty());
    QCOMPARE(rig.log.size(), 2);
}

void TestSerialLink::writeFailureClosesThePort()
{
    Rig rig;
    QVERIFY(rig.open());
    rig.comm.failWriteAfter = 5;
    rig.link.WriteFabData(MakeFrame(0, Cmd::ControlState));
    QCOMPARE(rig.log, QStringList{QStringLiteral("<Error> Failed to write data to port !")});
    QVERIFY(!rig.link.FPortOpen);
    QVERIFY(!rig.comm.portOpen());
    QCOMPARE(rig.comm.sent.size(), 5);

    // Nothing is retried until the port is opened again.
    rig.comm.failWriteAfter = -1;
    rig.link.WriteFabData(MakeFrame(0, Cmd::ControlState));
    QCOMPARE(rig.comm.sent.size(), 5);
    QCOMPARE(rig.log.size(), 1);
    QVERIFY(rig.open());
    rig.link.WriteFabData(MakeFrame(0, Cmd::ControlState));
    QCOMPARE(rig.comm.sent.size(), 5 + 26);
}

void TestSerialLink::writeRefused_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("sent");
    QTest::newRow("port not open") << false << 26 << 0;
    QTest::newRow("length 129") << true << 129 << 0;
    QTest::newRow("length 128 goes out") << true << 128 << 128;
    QTest::newRow("negative length") << true << -1 << 0;
}

void TestSerialLink::writeRefused()
{
    QFETCH(bool, open);
    QFETCH(int, length);
    QFETCH(int, sent);
    Rig rig;
    if (open) QVERIFY(rig.open());
    std::array<std::uint8_t, 200> bytes{};
    bytes.fill(0x42);
    rig.link.WriteFabData(bytes.data(), length);
    QCOMPARE(static_cast<int>(rig.comm.sent.size()), sent);
    QVERIFY(rig.log.isEmpty());
}

void TestSerialLink::heldOutput_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("26-byte frame queued whole") << 26;
    QTest::newRow("longer write stops at 26 pending") << 40;
    QTest::newRow("128 bytes stop at 26 pending") << 128;
}

void TestSerialLink::heldOutput()
{
    QFETCH(int, length);
    Rig rig;
    QVERIFY(rig.open());
    rig.comm.holdOutput = true;
    std::array<std::uint8_t, 128> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i);
    rig.link.WriteFabData(bytes.data(), length);
    QCOMPARE(rig.comm.outBufferCount(), 26);
    QVERIFY(rig.link.FPortOpen);
    QVERIFY(rig.log.isEmpty());
    // Pending output from an earlier write is discarded before the next one.
    rig.link.WriteFabData(bytes.data() + 1, 3);
    QCOMPARE(rig.comm.outBufferCount(), 3);
}

void TestSerialLink::waitUntilSent_data()
{
    QTest::addColumn<bool>("open");
    QTest::addColumn<bool>("lineTakesBytes");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("boundMs");
    QTest::addColumn<bool>("sentOut");
    // The bound is the frame's line time (26 bytes of 10 bits) rounded up, and 250 ms.
    QTest::newRow("9600: out") << true << true << 9600 << 278 << true;
    QTest::newRow("4800: out") << true << true << 4800 << 305 << true;
    QTest::newRow("38400: out") << true << true << 38400 << 257 << true;
    QTest::newRow("unknown rate bounded as 4800") << true << true << 0 << 305 << true;
    QTest::newRow("line never takes them: write failure") << true << false << 9600 << 278 << false;
    QTest::newRow("port not open: nothing to wait for") << false << true << 9600 << 0 << false;
}

void TestSerialLink::waitUntilSent()
{
    QFETCH(bool, open);
    QFETCH(bool, lineTakesBytes);
    QFETCH(int, baud);
    QFETCH(int, boundMs);
    QFETCH(bool, sentOut);
    Rig rig;
    if (open) QVERIFY(rig.open(1, baud));
    rig.comm.holdOutput = !lineTakesBytes;
    rig.link.WriteFabData(MakeFrame(0, Cmd::SerialAndModel));
    // Every write is pushed to the device at once, not left for the event loop.
    QCOMPARE(rig.comm.flushes, open ? 1 : 0);
    QCOMPARE(rig.comm.sent.size(), open && lineTakesBytes ? 26 : 0);

    QCOMPARE(rig.link.WaitUntilSent(), sentOut);
    QCOMPARE(rig.comm.waitTimeouts, open ? std::vector<int>{boundMs} : std::vector<int>{});
    const bool failed = open && !lineTakesBytes;
    QCOMPARE(rig.log, failed ? QStringList{QStringLiteral("<Error> Failed to write data to port !")} : QStringList());
    QCOMPARE(rig.link.FPortOpen, open && !failed);
    QCOMPARE(rig.comm.portOpen(), open && !failed);
}

void TestSerialLink::openOrder()
{
    Rig rig;
    QVERIFY(rig.link.OpenPort(3, 19200));
    QCOMPARE(rig.comm.commPort(), 3);
    QCOMPARE(rig.comm.settingsLog, std::vector<QString>{QStringLiteral("19200,n,8,1")});
    QVERIFY(rig.comm.dtr);
    QVERIFY(rig.comm.rts);
    QVERIFY(rig.link.FPortOpen);
    QCOMPARE(rig.link.FPortNo, std::uint8_t(3));
    QCOMPARE(rig.link.FBaud, 19200);

    // A second opening closes the port first and takes the new settings.
    QVERIFY(rig.link.OpenPort(2, 4800));
    QCOMPARE(rig.comm.closes, 1);
    QCOMPARE(rig.comm.settingsLog.back(), QStringLiteral("4800,n,8,1"));
}

void TestSerialLink::openFailures_data()
{
    QTest::addColumn<bool>("failOpen");
    QTest::addColumn<bool>("failDtr");
    QTest::addColumn<bool>("failRts");
    QTest::newRow("open refused") << true << false << false;
    QTest::newRow("DTR refused") << false << true << false;
    QTest::newRow("RTS refused") << false << false << true;
}

void TestSerialLink::openFailures()
{
    QFETCH(bool, failOpen);
    QFETCH(bool, failDtr);
    QFETCH(bool, failRts);
    Rig rig;
    QVERIFY(rig.open());
    rig.comm.failOpen = failOpen;
    rig.comm.failDtr = failDtr;
    rig.comm.failRts = failRts;
    QVERIFY(!rig.link.OpenPort(2, 38400));
    QVERIFY(!rig.link.FPortOpen);
    QCOMPARE(rig.link.FPortNo, std::uint8_t(2));
    QCOMPARE(rig.link.FBaud, 38400);
    QVERIFY(rig.log.isEmpty());
    rig.link.WriteFabData(MakeFrame(0, Cmd::ControlState));
    QVERIFY(rig.comm.sent.isEmpty());
}

void TestSerialLink::portZeroLeavesOpenPortAlone()
{
    Rig rig;
    QVERIFY(rig.open(4, 9600));
    QVERIFY(!rig.link.OpenPort(0, 19200));
    QVERIFY(rig.comm.portOpen());
    QCOMPARE(rig.comm.closes, 0);
    QCOMPARE(rig.comm.commPort(), 4);
    QCOMPARE(rig.link.FPortNo, std::uint8_t(0));
    QCOMPARE(rig.link.FBaud, 19200);
}

void TestSerialLink::receiveWait_data()
{
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("waitMs");
    QTest::newRow("4800") << 4800 << 50;
    QTest::newRow("9600") << 9600 << 35;
    QTest::newRow("19200") << 19200 << 30;
    QTest::newRow("38400") << 38400 << 15;
    QTest::newRow("115200 unknown") << 115200 << 50;
    QTest::newRow("0 unknown") << 0 << 50;
}

// The rest of an answer that arrives within the wait is read with the first part; what comes
// after the wait is not.
void TestSerialLink::receiveWait()
{
    QFETCH(int, baud);
    QFETCH(int, waitMs);
    QCOMPARE(SerialLink::BaudWaitMs(baud), waitMs);

    Rig rig;
    QVERIFY(rig.open(1, baud));
    const QByteArray a = AnswerA();
    rig.clock.scheduleIn(waitMs, [&] { rig.comm.arrive(a.mid(10, 6)); });
    rig.clock.scheduleIn(waitMs + 2, [&] { rig.comm.arrive(a.mid(16)); });
    rig.comm.inject(a.left(10));
    // Nothing is read until strictly more than the wait has passed, and nothing waits in a loop.
    rig.clock.advance(waitMs);
    QCOMPARE(rig.link.FRxCount(), 0);
    rig.clock.advance(1);
    QVERIFY(rig.clock.waits().empty());
    QCOMPARE(rig.link.FRxCount(), 16);
    rig.clock.advance(5);
    QCOMPARE(rig.comm.inBufferCount(), 10);
    QVERIFY(rig.replies.empty());
}

void TestSerialLink::replyHandlerErrorDiscardsInput()
{
    Rig rig;
    QVERIFY(rig.open());
    rig.onReply = [&] {
        rig.comm.arrive(Junk(8));
        throw AppError(QStringLiteral("'x' is not a valid integer value"));
    };
    rig.receive(AnswerA());
    QCOMPARE(rig.replies.size(), std::size_t(1));
    QCOMPARE(rig.comm.inBufferCount(), 0);
    QCOMPARE(rig.log.size(), 1);  // the receive line only, no error text
    QVERIFY(rig.link.FPortOpen);
}

QTEST_GUILESS_MAIN(TestSerialLink)
#include "tst_SerialLink.moc"
