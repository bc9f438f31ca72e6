// Tests of reading the meter: its answers and libsigrok's samples taken apart, the settling reader over a scripted line,
// the [Meter] settings, and the line itself over a real pseudo-terminal and a real socket.
#include "MeterLink.h"
#include "MeterReader.h"
#include "MeterSample.h"
#include "MeterSettings.h"
#include "PtyPair.h"
#include "ScpiReply.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <libsigrok/libsigrok.h>

#include <cmath>
#include <ctime>

#include <memory>

#include <deque>

namespace {

// A line whose answers are given in advance: a text is a reply line, "!text" an error.
class ScriptedChannel : public MeterChannel {
public:
    std::deque<QString> script;
    QList<QByteArray> asked;
    int cancels = 0;
    Answer pending;

    void Query(const QByteArray& command, Answer answer) override
    {
        asked << command;
        pending = std::move(answer);
    }
    void Cancel() override
    {
        ++cancels;
        pending = {};
    }
    // Delivers the next scripted answer, as the meter would some time after the question.
    bool answerNext()
    {
        if (!pending || script.empty()) return false;
        const QString next = script.front();
        script.pop_front();
        Answer a = std::move(pending);
        pending = {};
        if (next.startsWith(QLatin1Char('!')))
            a({}, next.mid(1));
        else
            a(next.toLatin1(), QString());
        return true;
    }
};

}  // namespace

Q_DECLARE_METATYPE(MeterReply::Kind)
Q_DECLARE_METATYPE(MeterQuantity)

class TestMeterReading : public QObject {
    Q_OBJECT
private slots:
    void replies_data();
    void replies();
    void samples_data();
    void samples();
    void settling_data();
    void settling();
    void cancelledReadingIsNeverReported();
    void settings_data();
    void settings();
    void lineOverPtyAndTcp_data();
    void lineOverPtyAndTcp();
};

void TestMeterReading::replies_data()
{
    using K = MeterReply::Kind;
    const auto V = MeterQuantity::Voltage;
    const auto A = MeterQuantity::Current;
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<MeterQuantity>("quantity");
    QTest::addColumn<K>("kind");
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("resolution");  // the step of the last digit as given
    QTest::newRow("exponent form") << QByteArray("+3.99912E+00") << V << K::Value << 3.99912 << 1e-5;
    QTest::newRow("plain") << QByteArray("4.0012") << V << K::Value << 4.0012 << 1e-4;
    QTest::newRow("line end and blanks") << QByteArray("  -1.5e-3\r\n") << V << K::Value << -0.0015 << 1e-4;
    QTest::newRow("leading point") << QByteArray(".5") << A << K::Value << 0.5 << 0.1;
    QTest::newRow("trailing zeros are digits") << QByteArray("+1.00300000E-01") << V << K::Value << 0.1003 << 1e-9;
    QTest::newRow("whole number") << QByteArray("37 V") << V << K::Value << 37.0 << 1.0;
    QTest::newRow("unit VDC") << QByteArray("37.0125 VDC") << V << K::Value << 37.0125 << 1e-4;
    QTest::newRow("unit a, lower case") << QByteArray("3.0985a") << A << K::Value << 3.0985 << 1e-4;
    QTest::newRow("overload") << QByteArray("+9.90000000E+37") << V << K::Overload << 0.0 << 0.0;
    QTest::newRow("negative overload") << QByteArray("-9.9E37") << A << K::Overload << 0.0 << 0.0;
    QTest::newRow("empty") << QByteArray("\r\n") << V << K::Empty << 0.0 << 0.0;
    QTest::newRow("two values") << QByteArray("1.0,2.0") << V << K::Garbled << 0.0 << 0.0;
    QTest::newRow("amperes at a voltage point") << QByteArray("0.1004 A") << V << K::Garbled << 0.0 << 0.0;
    QTest::newRow("volts at a current point") << QByteArray("4.0 V") << A << K::Garbled << 0.0 << 0.0;
    QTest::newRow("unknown unit") << QByteArray("4.0 OHM") << V << K::Garbled << 0.0 << 0.0;
    QTest::newRow("error message") << QByteArray("-113,\"Undefined header\"") << V << K::Garbled << 0.0 << 0.0;
    QTest::newRow("nan") << QByteArray("nan") << V << K::Garbled << 0.0 << 0.0;
    QTest::newRow("control byte") << QByteArray("4.0\x01") << V << K::Garbled << 0.0 << 0.0;
    QTest::newRow("huge exponent") << QByteArray("1E999") << V << K::Garbled << 0.0 << 0.0;
    QTest::newRow("much too long") << QByteArray(200, '1') << V << K::Garbled << 0.0 << 0.0;
}

void TestMeterReading::replies()
{
    QFETCH(QByteArray, line);
    QFETCH(MeterQuantity, quantity);
    QFETCH(MeterReply::Kind, kind);
    QFETCH(double, value);
    const MeterReply r = ParseMeterReply(line, quantity);
    QCOMPARE(r.kind, kind);
    if (kind == MeterReply::Kind::Value) {
        QCOMPARE(r.value, value);
        QFETCH(double, resolution);
        QCOMPARE(r.resolution, resolution);
        QVERIFY(r.problem.isEmpty());
    } else {
        // Whatever is wrong, the operator is told what.
        QVERIFY(!r.problem.isEmpty());
    }
}

void TestMeterReading::samples_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("mq");
    QTest::addColumn<int>("unit");
    QTest::addColumn<qulonglong>("flags");
    QTest::addColumn<MeterQuantity>("quantity");
    QTest::addColumn<MeterReply::Kind>("kind");
    QTest::addColumn<QString>("told");
    using K = MeterReply::Kind;
    const auto V = MeterQuantity::Voltage, A = MeterQuantity::Current;
    const qulonglong dc = SR_MQFLAG_DC, ac = SR_MQFLAG_AC | SR_MQFLAG_RMS;
    const double ol = std::nan("");
    QTest::newRow("DC volts at a voltage point") << 4.0012 << int(SR_MQ_VOLTAGE) << int(SR_UNIT_VOLT) << (dc | SR_MQFLAG_AUTORANGE) << V << K::Value << "";
    QTest::newRow("DC amperes at a current point") << 0.5003 << int(SR_MQ_CURRENT) << int(SR_UNIT_AMPERE) << dc << A << K::Value << "";
    QTest::newRow("ohms at a voltage point") << 12.3 << int(SR_MQ_RESISTANCE) << int(SR_UNIT_OHM) << 0ull << V << K::OtherQuantity
                                             << "The meter reads 12.3 Ω: set its dial to DC volts";
    QTest::newRow("AC volts at a voltage point") << 4.0 << int(SR_MQ_VOLTAGE) << int(SR_UNIT_VOLT) << ac << V << K::OtherQuantity << "4 V AC: set its dial to DC volts";
    QTest::newRow("AC+DC volts") << 4.0 << int(SR_MQ_VOLTAGE) << int(SR_UNIT_VOLT) << (ac | dc) << V << K::OtherQuantity << "DC volts";
    QTest::newRow("volts at a current point") << 1.2 << int(SR_MQ_VOLTAGE) << int(SR_UNIT_VOLT) << dc << A << K::OtherQuantity << "1.2 V DC: set its dial to DC amperes";
    QTest::newRow("amperes at a voltage point") << 0.5 << int(SR_MQ_CURRENT) << int(SR_UNIT_AMPERE) << dc << V << K::OtherQuantity << "DC volts";
    QTest::newRow("volts without DC flag") << 4.0 << int(SR_MQ_VOLTAGE) << int(SR_UNIT_VOLT) << 0ull << V << K::OtherQuantity << "DC volts";
    QTest::newRow("diode test") << 0.6 << int(SR_MQ_VOLTAGE) << int(SR_UNIT_VOLT) << (dc | SR_MQFLAG_DIODE) << V << K::OtherQuantity << "diode";
    QTest::newRow("millivolts in dBV") << -20.0 << int(SR_MQ_VOLTAGE) << int(SR_UNIT_DECIBEL_VOLT) << ac << V << K::OtherQuantity << "dBV";
    QTest::newRow("hold") << 4.0 << int(SR_MQ_VOLTAGE) << int(SR_UNIT_VOLT) << (dc | SR_MQFLAG_HOLD) << V << K::OtherQuantity << "release HOLD";
    QTest::newRow("relative") << 0.001 << int(SR_MQ_VOLTAGE) << int(SR_UNIT_VOLT) << (dc | SR_MQFLAG_RELATIVE) << V << K::OtherQuantity << "turn off REL";
    QTest::newRow("min max") << 4.0 << int(SR_MQ_CURRENT) << int(SR_UNIT_AMPERE) << (dc | SR_MQFLAG_MAX) << A << K::OtherQuantity << "turn off MAX";
    QTest::newRow("continuity") << 1.0 << int(SR_MQ_CONTINUITY) << int(SR_UNIT_BOOLEAN) << 0ull << V << K::OtherQuantity << "is set to continuity";
    QTest::newRow("overload without DC flag") << ol << int(SR_MQ_VOLTAGE) << int(SR_UNIT_VOLT) << 0ull << V << K::Overload << "overload (OL): choose a higher volts range";
    QTest::newRow("infinite amperes") << double(INFINITY) << int(SR_MQ_CURRENT) << int(SR_UNIT_AMPERE) << dc << A << K::Overload << "amperes range";
    QTest::newRow("overload on the ohms range") << double(INFINITY) << int(SR_MQ_RESISTANCE) << int(SR_UNIT_OHM) << 0ull << V << K::OtherQuantity << "OL Ω: set its dial to DC volts";
}

void TestMeterReading::samples()
{
    QFETCH(double, value);
    QFETCH(int, mq);
    QFETCH(int, unit);
    QFETCH(qulonglong, flags);
    QFETCH(MeterQuantity, quantity);
    QFETCH(MeterReply::Kind, kind);
    QFETCH(QString, told);
    const MeterReply r = CheckSample(MeterSample{value, mq, unit, flags}, quantity);
    QCOMPARE(r.kind, kind);
    if (kind == MeterReply::Kind::Value) {
        QCOMPARE(r.value, value);
        return;
    }
    QVERIFY2(r.problem.contains(told), qPrintable(r.problem));
    // What the operator reads in the value dialog: the meter's display and what to do, no number
    // taken from it.
    MeterResult result;
    result.message = r.problem;
    result.advice = r.advice;
    const QString shown = MeterReader::Describe(result, quantity);
    QVERIFY2(shown.startsWith(QStringLiteral("The meter ")) && shown.endsWith(QStringLiteral(". Please type the value.")), qPrintable(shown));
}

void TestMeterReading::settling_data()
{
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<int>("maxReads");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("reads");
    QTest::addColumn<bool>("settled");
    QTest::addColumn<QString>("message");
    QTest::addColumn<double>("deviation");  // the readings' standard deviation, worked out by hand
    QTest::newRow("two agree at once") << QStringList{"3.9990", "3.9991"} << 5 << true << 3.9991 << 2 << true << "" << 7.07106781e-5;
    QTest::newRow("settles on the 4th") << QStringList{"3.90", "3.97", "3.9985", "3.9988"} << 5 << true << 3.9988 << 4 << true << ""
                                        << 0.046552363;
    QTest::newRow("never settles: the last of 5") << QStringList{"1", "2", "3", "4", "5"} << 5 << true << 5.0 << 5 << false << ""
                                                  << 1.58113883;
    QTest::newRow("one read allowed") << QStringList{"0.1003"} << 1 << true << 0.1003 << 1 << false << "" << 0.0;
    QTest::newRow("overload") << QStringList{"9.9E37"} << 5 << false << 0.0 << 0 << false << "overload" << 0.0;
    QTest::newRow("garbage after a good reading") << QStringList{"4.0", "#?!"} << 5 << false << 0.0 << 1 << false << "not a reading" << 0.0;
    QTest::newRow("timeout") << QStringList{"!the meter did not answer within 3 s"} << 5 << false << 0.0 << 0 << false
                             << "did not answer" << 0.0;
    QTest::newRow("connection lost midway") << QStringList{"4.0", "!the connection to the meter was lost: gone"} << 5 << false
                                            << 0.0 << 1 << false << "lost" << 0.0;
}

void TestMeterReading::settling()
{
    QFETCH(QStringList, answers);
    QFETCH(int, maxReads);
    QFETCH(bool, ok);
    QFETCH(double, value);
    QFETCH(int, reads);
    QFETCH(bool, settled);
    QFETCH(QString, message);
    ScriptedChannel channel;
    channel.script.assign(answers.begin(), answers.end());
    MeterReader reader(channel, 0.0005, maxReads);
    std::vector<MeterResult> results;
    reader.Read(MeterQuantity::Voltage, "MEAS:VOLT:DC?", [&](const MeterResult& r) { results.push_back(r); });
    while (channel.answerNext()) {
    }
    QCOMPARE(results.size(), 1u);
    const MeterResult& r = results[0];
    QCOMPARE(r.ok, ok);
    QCOMPARE(r.reads, reads);
    QCOMPARE(r.settled, settled);
    QVERIFY2(r.message.contains(message), qPrintable(r.message));
    // Nothing is made up: without a value there is no number, with one it is the last reading.
    QCOMPARE(r.value, value);
    if (ok && reads > 1) {
        double low = 1e9, high = -1e9;
        for (int i = 0; i < reads; ++i) {
            low = std::min(low, answers[i].toDouble());
            high = std::max(high, answers[i].toDouble());
        }
        QCOMPARE(r.spread, high - low);
        QFETCH(double, deviation);
        QVERIFY2(std::fabs(r.deviation - deviation) < 1e-8, qPrintable(QString::number(r.deviation, 'g', 10)));
        QCOMPARE(r.resolution, NumberResolution(answers[reads - 1]));
    }
    QCOMPARE(channel.asked.size(), std::max(reads + (ok ? 0 : 1), 1));
    for (const QByteArray& q : channel.asked) QCOMPARE(q, QByteArray("MEAS:VOLT:DC?"));
    QVERIFY(MeterReader::Describe(r, MeterQuantity::Voltage).startsWith(ok ? "Meter: " : "No reading from the meter"));
}

void TestMeterReading::cancelledReadingIsNeverReported()
{
    ScriptedChannel channel;
    channel.script = {QStringLiteral("4.0"), QStringLiteral("4.0")};
    MeterReader reader(channel, 0.0005, 5);
    int reported = 0;
    reader.Read(MeterQuantity::Voltage, "MEAS?", [&](const MeterResult&) { ++reported; });
    QVERIFY(channel.answerNext());
    reader.Cancel();
    QCOMPARE(channel.cancels, 1);
    QVERIFY(!channel.answerNext());
    QCOMPARE(reported, 0);
}

void TestMeterReading::settings_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("describe");
    QTest::addColumn<QByteArray>("lineEnd");
    QTest::addColumn<double>("plausibility");
    QTest::addColumn<QByteArray>("currentQuery");
    QTest::addColumn<int>("timeoutMs");
    QTest::newRow("no section: no meter, typed readings checked") << QByteArray("[Config]\r\nPowerID=3\r\n") << "none" << QByteArray("\n") << 0.10
                                                    << QByteArray("MEAS:CURR:DC?") << 3000;
    QTest::newRow("check asked for without a meter") << QByteArray("[Meter]\r\nPlausibility=5\r\n") << "none" << QByteArray("\n")
                                                     << 0.05 << QByteArray("MEAS:CURR:DC?") << 3000;
    QTest::newRow("serial with defaults") << QByteArray("[Meter]\r\nConnection=serial\r\nPort=/dev/ttyUSB1\r\n")
                                          << "serial /dev/ttyUSB1 at 9600 baud" << QByteArray("\n") << 0.10
                                          << QByteArray("MEAS:CURR:DC?") << 3000;
    QTest::newRow("tcp with port, crlf, own query")
        << QByteArray("[meter]\r\nconnection=TCP\r\nhost=10.0.0.7:5555\r\nlineend=crlf\r\nCurrentQuery=MEAS:CURR?\r\nTimeoutMs=1500\r\n")
        << "TCP 10.0.0.7:5555" << QByteArray("\r\n") << 0.10 << QByteArray("MEAS:CURR?") << 1500;
    QTest::newRow("tcp default port") << QByteArray("[Meter]\r\nConnection=tcp\r\nHost=dmm.local\r\n") << "TCP dmm.local:5025"
                                      << QByteArray("\n") << 0.10 << QByteArray("MEAS:CURR:DC?") << 3000;
    QTest::newRow("tcp, IPv6 in brackets with port") << QByteArray("[Meter]\r\nConnection=tcp\r\nHost=[::1]:5555\r\n")
                                                     << "TCP [::1]:5555" << QByteArray("\n") << 0.10 << QByteArray("MEAS:CURR:DC?") << 3000;
    QTest::newRow("tcp, IPv6 in brackets, default port") << QByteArray("[Meter]\r\nConnection=tcp\r\nHost=[fe80::2]\r\n")
                                                         << "TCP [fe80::2]:5025" << QByteArray("\n") << 0.10
                                                         << QByteArray("MEAS:CURR:DC?") << 3000;
    QTest::newRow("tcp, IPv6 before a port without brackets") << QByteArray("[Meter]\r\nConnection=tcp\r\nHost=::1:5555\r\n")
                                                              << "TCP [::1]:5555" << QByteArray("\n") << 0.10
                                                              << QByteArray("MEAS:CURR:DC?") << 3000;
    QTest::newRow("serial without a port is no meter") << QByteArray("[Meter]\r\nConnection=serial\r\n") << "none"
                                                       << QByteArray("\n") << 0.10 << QByteArray("MEAS:CURR:DC?") << 3000;
    QTest::newRow("check off with a meter, bad timeout")
        << QByteArray("[Meter]\r\nConnection=serial\r\nPort=COM3\r\nPlausibility=0\r\nTimeoutMs=5\r\nBaud=19200\r\n")
        << "serial COM3 at 19200 baud" << QByteArray("\n") << 0.0 << QByteArray("MEAS:CURR:DC?") << 3000;
    QTest::newRow("libsigrok on COM3 with serial settings")
        << QByteArray("[Meter]\r\nConnection=sigrok\r\nDriver=fluke-dmm\r\nConn=COM3\r\nSerialComm=115200/8n1\r\nTimeoutMs=2000\r\n")
        << "libsigrok fluke-dmm on COM3 at 115200/8n1" << QByteArray("\n") << 0.10 << QByteArray("MEAS:CURR:DC?") << 2000;
    QTest::newRow("libsigrok USB meter found without a connection")
        << QByteArray("[Meter]\r\nConnection=Sigrok\r\nDriver=uni-t-ut61e\r\n") << "libsigrok uni-t-ut61e" << QByteArray("\n")
        << 0.10 << QByteArray("MEAS:CURR:DC?") << 3000;
    QTest::newRow("libsigrok without a driver is no meter") << QByteArray("[Meter]\r\nConnection=sigrok\r\nConn=/dev/ttyUSB0\r\n")
                                                            << "none" << QByteArray("\n") << 0.10 << QByteArray("MEAS:CURR:DC?") << 3000;
    QTest::newRow("check off without a meter") << QByteArray("[Meter]\r\nPlausibility=0\r\n") << "none" << QByteArray("\n") << 0.0
                                               << QByteArray("MEAS:CURR:DC?") << 3000;
}

void TestMeterReading::settings()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, describe);
    QFETCH(QByteArray, lineEnd);
    QFETCH(double, plausibility);
    QFETCH(QByteArray, currentQuery);
    QFETCH(int, timeoutMs);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Config.Ini"));
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(ini + "[Ports]\r\nCOM3=/dev/pts/77\r\n");
    f.close();
    const MeterSettings s = LoadMeterSettings(path);
    QCOMPARE(s.describe(), describe);
    // What the link looks up is the address itself.
    QVERIFY2(!s.host.contains(QLatin1Char('[')) && !s.host.contains(QLatin1Char(']')), qPrintable(s.host));
    QCOMPARE(s.lineEnd, lineEnd);
    QCOMPARE(s.plausibilityShare, plausibility);
    QCOMPARE(s.currentQuery, currentQuery);
    QCOMPARE(s.timeoutMs, timeoutMs);
    const QString& port = s.connection == MeterSettings::Connection::Sigrok ? s.conn : s.port;
    if (port == QLatin1String("COM3")) QCOMPARE(MeterDevicePath(s, path), QStringLiteral("/dev/pts/77"));
    if (port.startsWith(QLatin1Char('/'))) QCOMPARE(MeterDevicePath(s, path), port);
}

void TestMeterReading::lineOverPtyAndTcp_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::addColumn<QString>("meter");  // what the meter does with the question
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("host");  // of a TCP meter
    const QString local = QStringLiteral("127.0.0.1");
    for (bool tcp : {false, true}) {
        const char* via = tcp ? "tcp" : "pty";
        QTest::addRow("%s: answers", via) << tcp << "answer" << QByteArray("+3.99880E+00") << "" << local;
        QTest::addRow("%s: answers in pieces", via) << tcp << "pieces" << QByteArray("+3.99880E+00") << "" << local;
        QTest::addRow("%s: silent", via) << tcp << "silent" << QByteArray() << "did not answer" << local;
        QTest::addRow("%s: goes away", via) << tcp << "hangup" << QByteArray() << "lost" << local;
    }
    QTest::newRow("tcp: nobody listens") << true << "refused" << QByteArray() << "lost" << local;
    QTest::newRow("tcp: sends without end") << true << "flood" << QByteArray() << "sends without end" << local;
    // A name is looked up away from the window's thread and its answer brought back.
    QTest::newRow("tcp: answers at a name") << true << "answer" << QByteArray("+3.99880E+00") << "" << "localhost";
    QTest::newRow("tcp: a name nobody knows") << true << "unknown" << QByteArray() << "lost" << "no-such-meter.invalid";
}

void TestMeterReading::lineOverPtyAndTcp()
{
    QFETCH(bool, tcp);
    QFETCH(QString, meter);
    QFETCH(QByteArray, line);
    QFETCH(QString, error);
    QFETCH(QString, host);

    MeterSettings settings;
    settings.timeoutMs = 400;
    PtyPair pty;
    QTcpServer server;
    std::unique_ptr<QTcpSocket> peer;
    if (tcp) {
        QVERIFY(server.listen(QHostAddress::LocalHost));
        settings.connection = MeterSettings::Connection::Tcp;
        settings.host = host;
        settings.tcpPort = server.serverPort();
        if (meter == "refused") server.close();
    } else {
        QVERIFY(pty.isValid());
        settings.connection = MeterSettings::Connection::Serial;
        settings.port = pty.slavePath();
    }
    MeterLink link(settings, settings.port);

    QByteArray asked;
    auto meterSide = [&] {
        // The meter reads the question and does what the row says.
        if (tcp) {
            if (!peer && server.hasPendingConnections()) peer.reset(server.nextPendingConnection());
            if (peer && peer->isOpen()) asked += peer->readAll();
            // As much as the line takes, for as long as it is open.
            while (meter == "flood" && peer && peer->state() == QAbstractSocket::ConnectedState && peer->write(QByteArray(1 << 16, '7')) > 0 && peer->flush()) {}
        } else {
            asked += pty.readAvailable();
        }
        if (!asked.endsWith('\n')) return;
        const QByteArray answer = "+3.99880E+00\n";
        auto put = [&](const QByteArray& bytes) { tcp ? (void)peer->write(bytes) : (void)pty.write(bytes); };
        if (meter == "answer") put(answer);
        if (meter == "pieces") {
            put(answer.left(5));
            QTest::qWait(30);
            put(answer.mid(5));
        }
        if (meter == "hangup") tcp ? peer->abort() : pty.closeMaster();
        asked += "#";  // answered once
    };
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, meterSide);
    poll.start(5);

    QByteArray got;
    QString problem;
    int calls = 0;
    const std::clock_t began = std::clock();
    link.Query("MEAS:VOLT:DC?\n", [&](const QByteArray& l, const QString& e) {
        ++calls;
        got = l;
        problem = e;
    });
    QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 3000);
    QTest::qWait(100);
    QCOMPARE(calls, 1);
    QCOMPARE(got, line);
    QVERIFY2(error.isEmpty() ? problem.isEmpty() : problem.contains(error), qPrintable(problem));
    if (meter != "refused" && meter != "unknown") QVERIFY2(asked.startsWith("MEAS:VOLT:DC?\n"), asked.constData());
    if (meter != "flood") return;
    // Not read on for the rest of the run: the meter sees its line closed, the next question opens a fresh one.
    QTest::qWait(500);
    const double cpuMs = 1000.0 * double(std::clock() - began) / CLOCKS_PER_SEC;
    QVERIFY2(cpuMs < 150 && peer->state() == QAbstractSocket::UnconnectedState,
             qPrintable(QStringLiteral("%1 ms of CPU time, the meter's line in state %2").arg(cpuMs).arg(peer->state())));
    link.Query("MEAS:VOLT:DC?", [](const QByteArray&, const QString&) {});
    QTRY_VERIFY(server.hasPendingConnections());
}

QTEST_GUILESS_MAIN(TestMeterReading)
#include "tst_MeterReading.moc"
