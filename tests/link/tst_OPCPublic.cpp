// Tests of the frame codecs: checksum, hexadecimal text, model names, serial encoder, validity.
#include "OPCPublic.h"

#include <QTest>

#include <initializer_list>

namespace {

// Bytes from the start of the frame; the rest stay 0 and byte 25 is left as given.
TPsuFrame FrameOf(std::initializer_list<int> leading)
{
    TPsuFrame f;
    int i = 0;
    for (int b : leading) f[i++] = static_cast<std::uint8_t>(b);
    return f;
}

QByteArray Bytes(const TPsuFrame& f, int from, int count)
{
    QByteArray out;
    for (int i = from; i < from + count; ++i) out.append(static_cast<char>(f[i]));
    return out;
}

}  // namespace

Q_DECLARE_METATYPE(TPsuFrame)

class TestOPCPublic : public QObject {
    Q_OBJECT

private slots:
    void checksum_data();
    void checksum();
    void sealAfterChange();
    void frameToHex_data();
    void frameToHex();
    void modelName_data();
    void modelName();
    void encodeSerial_data();
    void encodeSerial();
    void encodeSerialWorkedExample();
    void encodeSerialRefusesTooLarge();
    void validity_data();
    void validity();
    void makeFrame();
};

void TestOPCPublic::checksum_data()
{
    QTest::addColumn<TPsuFrame>("frame");
    QTest::addColumn<int>("expected");

    QTest::newRow("12345 mV to address 1") << FrameOf({0xAA, 0x01, 0x86, 0x39, 0x30}) << 0x9A;
    QTest::newRow("control state 3 to address 0") << FrameOf({0xAA, 0x00, 0x82, 0x03}) << 0x2F;
    QTest::newRow("sum 0x1FF wraps to 0xFF") << FrameOf({0xFF, 0xFF, 0x01}) << 0xFF;
    QTest::newRow("read serial to address 1") << FrameOf({0xAA, 0x01, 0x8C}) << 0x37;

    TPsuFrame last = FrameOf({0xAA});
    last[24] = 0x01;
    last[25] = 0x77;  // the old checksum byte takes no part in the sum
    QTest::newRow("last data byte counts, byte 25 does not") << last << 0xAB;
}

void TestOPCPublic::checksum()
{
    QFETCH(TPsuFrame, frame);
    QFETCH(int, expected);
    QCOMPARE(int(FrameChecksum(frame)), expected);
}

void TestOPCPublic::sealAfterChange()
{
    TPsuFrame f = MakeFrame(1, Cmd::VoltageValue);
    f.data(0) = 0x39;
    f.data(1) = 0x30;
    SealFrame(f);
    QCOMPARE(int(f[25]), 0x9A);
    f.data(0) = 0x3A;
    SealFrame(f);
    QCOMPARE(int(f[25]), 0x9B);
}

void TestOPCPublic::frameToHex_data()
{
    QTest::addColumn<TPsuFrame>("frame");
    QTest::addColumn<QString>("expected");

    QString readSerial = QStringLiteral(" AA 01 8C");
    for (int i = 0; i < 22; ++i) readSerial += QStringLiteral(" 00");
    readSerial += QStringLiteral(" 37");
    QTest::newRow("read serial to address 1") << MakeFrame(1, Cmd::ReadSerial) << readSerial;

    TPsuFrame mixed;
    for (int i = 0; i < TPsuFrame::Size; ++i) mixed[i] = static_cast<std::uint8_t>(0xF0 + i * 7);
    QString mixedText;
    for (int i = 0; i < TPsuFrame::Size; ++i)
        mixedText += QStringLiteral(" %1").arg(int(mixed[i]), 2, 16, QLatin1Char('0')).toUpper();
    QTest::newRow("every byte, upper case, padded") << mixed << mixedText;
}

void TestOPCPublic::frameToHex()
{
    QFETCH(TPsuFrame, frame);
    QFETCH(QString, expected);
    const QString text = FrameToHex(frame);
    QCOMPARE(text, expected);
    QCOMPARE(text.size(), 78);
    QVERIFY(text.startsWith(QLatin1Char(' ')));
    QVERIFY(!text.endsWith(QLatin1Char(' ')));
    QCOMPARE(text, text.toUpper());
}

void TestOPCPublic::modelName_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("name");

    QTest::newRow("0") << 0 << "7211B";
    QTest::newRow("1") << 1 << "7212B";
    QTest::newRow("2") << 2 << "7213B";
    QTest::newRow("3") << 3 << "7221B";
    QTest::newRow("4") << 4 << "7222B";
    QTest::newRow("5") << 5 << "7223B";
    QTest::newRow("0x80 top bit ignored") << 0x80 << "7211B";
    QTest::newRow("0x85 top bit ignored") << 0x85 << "7223B";
    QTest::newRow("6") << 6 << "Unknown";
    QTest::newRow("0x86") << 0x86 << "Unknown";
    QTest::newRow("0xFF") << 0xFF << "Unknown";
}

void TestOPCPublic::modelName()
{
    QFETCH(int, code);
    QFETCH(QString, name);
    QCOMPARE(ModelName(static_cast<std::uint8_t>(code)), name);
}

void TestOPCPublic::encodeSerial_data()
{
    QTest::addColumn<uint>("serial");
    QTest::addColumn<int>("model");
    QTest::addColumn<QByteArray>("digits");
    QTest::addColumn<QByteArray>("tag");

    QTest::newRow("0") << 0u << 0 << QByteArray("000000") << QByteArray("7211b");
    QTest::newRow("65535") << 65535u << 1 << QByteArray("065535") << QByteArray("7212b");
    QTest::newRow("123456") << 123456u << 2 << QByteArray("123456") << QByteArray("7213b");
    QTest::newRow("999999") << 999999u << 5 << QByteArray("999999") << QByteArray("7223b");
    QTest::newRow("model 0x81 top bit ignored") << 7u << 0x81 << QByteArray("000007") << QByteArray("7212b");
    // A code outside the table has no tag; its bytes stay 0 instead of a guessed model.
    QTest::newRow("model 6 outside the table") << 42u << 6 << QByteArray("000042") << QByteArray(5, '\0');
}

void TestOPCPublic::encodeSerial()
{
    QFETCH(uint, serial);
    QFETCH(int, model);
    QFETCH(QByteArray, digits);
    QFETCH(QByteArray, tag);

    TPsuFrame f = FrameOf({0xAA, 0x07, 0x8B});
    f[25] = 0x5C;
    for (int k = 11; k < TPsuFrame::DataSize; ++k) f.data(k) = 0xEE;
    QVERIFY(EncodeSerialAndModel(static_cast<std::uint8_t>(model), serial, f));
    QCOMPARE(Bytes(f, 3, 6), digits);
    QCOMPARE(Bytes(f, 9, 5), tag);
    // Header, the bytes beyond the tag and the checksum belong to the caller.
    QCOMPARE(int(f[0]), 0xAA);
    QCOMPARE(int(f[1]), 0x07);
    QCOMPARE(int(f[2]), 0x8B);
    QCOMPARE(int(f.data(11)), 0xEE);
    QCOMPARE(int(f[25]), 0x5C);
}

void TestOPCPublic::encodeSerialWorkedExample()
{
    TPsuFrame f = MakeFrame(5, Cmd::SerialAndModel);
    QVERIFY(EncodeSerialAndModel(0, 1234, f));
    SealFrame(f);
    const TPsuFrame expected = FrameOf({0xAA, 0x05, 0x8B, 0x30, 0x30, 0x31, 0x32, 0x33, 0x34,
                                        0x37, 0x32, 0x31, 0x31, 0x62});
    for (int i = 0; i < 25; ++i) QCOMPARE(int(f[i]), int(expected[i]));
    QCOMPARE(int(f[25]), 0x91);
}

void TestOPCPublic::encodeSerialRefusesTooLarge()
{
    TPsuFrame f;
    for (int i = 0; i < TPsuFrame::Size; ++i) f[i] = static_cast<std::uint8_t>(i + 1);
    const TPsuFrame before = f;
    QVERIFY(!EncodeSerialAndModel(0, 1000000, f));
    QVERIFY(f == before);
    QVERIFY(!EncodeSerialAndModel(0, 0xFFFFFFFFu, f));
    QVERIFY(f == before);
}

void TestOPCPublic::validity_data()
{
    QTest::addColumn<TPsuFrame>("reply");
    QTest::addColumn<int>("configured");
    QTest::addColumn<TPsuFrame>("lastSent");
    QTest::addColumn<bool>("valid");

    const TPsuFrame sent = MakeFrame(3, Cmd::ControlState);
    const TPsuFrame good = MakeFrame(3, Cmd::ClearingAnswer);

    QTest::newRow("valid") << good << 3 << sent << true;

    TPsuFrame badStart = good;
    badStart[0] = 0xAB;
    SealFrame(badStart);
    QTest::newRow("start byte not AA") << badStart << 3 << sent << false;

    TPsuFrame other = MakeFrame(4, Cmd::ClearingAnswer);
    QTest::newRow("other supply, right checksum") << other << 3 << MakeFrame(4, Cmd::ControlState) << false;

    TPsuFrame offByOne = good;
    offByOne[25] = static_cast<std::uint8_t>(offByOne[25] + 1);
    QTest::newRow("checksum off by one") << offByOne << 3 << sent << false;

    QTest::newRow("last frame to another address") << good << 3 << MakeFrame(2, Cmd::ControlState) << false;
    QTest::newRow("configured address beyond a byte") << good << 3 + 256 << sent << false;

    for (int cmd : {0x00, 0x12, 0x82, 0x8C, 0xFF}) {
        TPsuFrame any = MakeFrame(3, static_cast<std::uint8_t>(cmd));
        any.data(0) = 0x31;
        SealFrame(any);
        QTest::addRow("any command 0x%02X", cmd) << any << 3 << sent << true;
    }
}

void TestOPCPublic::validity()
{
    QFETCH(TPsuFrame, reply);
    QFETCH(int, configured);
    QFETCH(TPsuFrame, lastSent);
    QFETCH(bool, valid);
    QCOMPARE(IsValidReply(reply, configured, lastSent), valid);
}

void TestOPCPublic::makeFrame()
{
    const TPsuFrame f = MakeFrame(0x125, Cmd::ReadSerial);
    QCOMPARE(int(f[0]), 0xAA);
    QCOMPARE(int(f[1]), 0x25);  // only the low byte of the address travels
    QCOMPARE(int(f[2]), 0x8C);
    for (int k = 0; k < TPsuFrame::DataSize; ++k) QCOMPARE(int(f.data(k)), 0);
    QCOMPARE(f[25], FrameChecksum(f));
}

QTEST_APPLESS_MAIN(TestOPCPublic)
#include "tst_OPCPublic.moc"
