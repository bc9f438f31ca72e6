// Tests of the calibration list: the 29 steps, their frames and the two step rebuilders.
#include "CalList.h"
#include "RunState.h"

#include <QTest>

namespace {

const QDate Today(2026, 3, 9);

TRunState StateFor(int address, int model)
{
    TRunState s;
    s.FAddress = address;
    s.FModel = static_cast<std::uint8_t>(model);
    s.FTestCode = TestCodeForModel(s.FModel);
    return s;
}

QByteArray Data(const TPsuFrame& f, int count)
{
    QByteArray out;
    for (int k = 0; k < count; ++k) out.append(static_cast<char>(f.data(k)));
    return out;
}

bool DataZeroFrom(const TPsuFrame& f, int firstUnused)
{
    for (int k = firstUnused; k < TPsuFrame::DataSize; ++k)
        if (f.data(k) != 0) return false;
    return true;
}

}  // namespace

class TestCalList : public QObject {
    Q_OBJECT

private slots:
    void testCodeForModel_data();
    void testCodeForModel();
    void steps_data();
    void steps();
    void everyFrameAddressedAndSealed_data();
    void everyFrameAddressedAndSealed();
    void meterSteps();
    void rebuildDiscardsOldList();
    void testingInfo_data();
    void testingInfo();
    void serialStep_data();
    void serialStep();
    void serialStepInitialList();
    void writableSerial_data();
    void writableSerial();
    void rebuildersLeaveUnbuiltListAlone();
    void nominalLevels_data();
    void nominalLevels();
    void plausibility_data();
    void plausibility();
};

void TestCalList::testCodeForModel_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<uint>("code");
    QTest::newRow("0") << 0 << 0x020101u;
    QTest::newRow("1") << 1 << 0x020102u;
    QTest::newRow("2") << 2 << 0x020103u;
    QTest::newRow("3") << 3 << 0x020101u;
    QTest::newRow("4") << 4 << 0x020101u;
    QTest::newRow("5") << 5 << 0x020101u;
    QTest::newRow("0x81 is not model 1") << 0x81 << 0x020101u;
    QTest::newRow("255") << 255 << 0x020101u;
}

void TestCalList::testCodeForModel()
{
    QFETCH(int, model);
    QFETCH(uint, code);
    QCOMPARE(TestCodeForModel(static_cast<std::uint8_t>(model)), code);
}

// Steps as built by BuildCalList with FVoltageMv 0x12345678 and FCurrentMa 0x00012345;
// `data` lists the leading data bytes, all later data bytes must be 0.
void TestCalList::steps_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("meter");
    QTest::addColumn<int>("command");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("description");

    const QByteArray none;
    const QByteArray mv("\x78\x56\x34\x12", 4);
    const QByteArray ma("\x45\x23", 2);

    QTest::newRow("1") << 1 << false << 0x82 << QByteArray("\x03") << "Control PS control state";
    QTest::newRow("2") << 2 << false << 0x83 << QByteArray("\x5A\xA5\x01") << "Control PS enabled state";
    QTest::newRow("3") << 3 << false << 0x8C << none << "Read serial No.";
    for (int p = 1; p <= 5; ++p) {
        const int first = 4 + 3 * (p - 1);
        QTest::addRow("%d", first) << first << false << 0x85 << QByteArray(1, char(p))
                                   << QStringLiteral("Calibrating for point %1 voltage ").arg(p);
        QTest::addRow("%d", first + 1) << first + 1 << true << 0 << none << "Read value for meter ";
        QTest::addRow("%d", first + 2) << first + 2 << false << 0x86 << mv
                                       << QStringLiteral("Setting point %1 value for PS").arg(p);
    }
    for (int p = 1; p <= 2; ++p) {
        const int first = 19 + 3 * (p - 1);
        QTest::addRow("%d", first) << first << false << 0x87 << QByteArray(1, char(p))
                                   << QStringLiteral("Calibrating for point %1 current ").arg(p);
        QTest::addRow("%d", first + 1) << first + 1 << true << 0 << none << "Read value from meter ";
        QTest::addRow("%d", first + 2) << first + 2 << false << 0x88 << ma
                                       << QStringLiteral("Setting point %1 value for PS").arg(p);
    }
    QTest::newRow("25") << 25 << false << 0x8B << QByteArray("0000427212b") << "Setting serial No.";
    QTest::newRow("26") << 26 << false << 0x89 << QByteArray("\x02\x01\x02\x1A\x03\x09") << "Setting testing info ";
    QTest::newRow("27") << 27 << false << 0x83 << QByteArray("\x5A\xA5\x00", 3) << "Control PS enaled state";
    QTest::newRow("28") << 28 << false << 0x82 << QByteArray("\x02") << "Control PS state";
    QTest::newRow("29") << 29 << false << 0x82 << QByteArray(1, '\0') << "Shurt down output ";
}

void TestCalList::steps()
{
    QFETCH(int, step);
    QFETCH(bool, meter);
    QFETCH(int, command);
    QFETCH(QByteArray, data);
    QFETCH(QString, description);

    TRunState s = StateFor(1, 1);
    s.FVoltageMv = 0x12345678;
    s.FCurrentMa = 0x00012345;
    s.FUnitCounter = 42;
    BuildCalList(s, Today);
    QCOMPARE(int(s.FCalList.size()), CalStepCount);

    const TEvent& e = s.FCalList[static_cast<std::size_t>(step - 1)];
    QCOMPARE(e.MeterStep, meter);
    QCOMPARE(e.Description, description);
    if (meter) return;  // meter steps are checked on their own
    QCOMPARE(int(e.Frame.command()), command);
    QCOMPARE(Data(e.Frame, int(data.size())), data);
    QVERIFY(DataZeroFrom(e.Frame, int(data.size())));
    QVERIFY(e.MeterCommand.isEmpty());
}

void TestCalList::everyFrameAddressedAndSealed_data()
{
    QTest::addColumn<int>("address");
    QTest::newRow("address 0") << 0;
    QTest::newRow("address 5") << 5;
    QTest::newRow("address 31") << 31;
}

void TestCalList::everyFrameAddressedAndSealed()
{
    QFETCH(int, address);
    TRunState s = StateFor(address, 0);
    s.FVoltageMv = -1;
    s.FCurrentMa = 1500;
    s.FReadSerial = 777;
    BuildCalList(s, Today);
    for (const TEvent& e : s.FCalList) {
        if (e.MeterStep) continue;
        QCOMPARE(int(e.Frame[0]), 0xAA);
        QCOMPARE(int(e.Frame[1]), address);
        QCOMPARE(e.Frame[25], FrameChecksum(e.Frame));
    }
}

void TestCalList::meterSteps()
{
    TRunState s = StateFor(5, 2);
    BuildCalList(s, Today);
    QList<int> meterSteps;
    for (std::size_t i = 0; i < s.FCalList.size(); ++i) {
        const TEvent& e = s.FCalList[i];
        if (!e.MeterStep) continue;
        meterSteps << int(i) + 1;
        QCOMPARE(e.MeterCommand, QStringLiteral("Meas:Volt:DC?\n"));
        QVERIFY(e.Frame == TPsuFrame{});
    }
    QCOMPARE(meterSteps, (QList<int>{5, 8, 11, 14, 17, 20, 23}));
}

void TestCalList::rebuildDiscardsOldList()
{
    TRunState s = StateFor(1, 0);
    s.FCalList.resize(40);
    s.FCalList[0].Description = QStringLiteral("stale");
    s.FCalList[4].MeterStep = false;
    BuildCalList(s, Today);
    QCOMPARE(int(s.FCalList.size()), CalStepCount);
    QCOMPARE(s.FCalList[0].Description, QStringLiteral("Control PS control state"));
    QVERIFY(s.FCalList[4].MeterStep);
}

void TestCalList::testingInfo_data()
{
    QTest::addColumn<int>("model");
    QTest::addColumn<QDate>("date");
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("model 1 on 9 March 2026") << 1 << QDate(2026, 3, 9) << QByteArray("\x02\x01\x02\x1A\x03\x09");
    QTest::newRow("model 2 on 31 December 2099") << 2 << QDate(2099, 12, 31) << QByteArray("\x02\x01\x03\x63\x0C\x1F");
    QTest::newRow("model 4 on 1 January 2100") << 4 << QDate(2100, 1, 1) << QByteArray("\x02\x01\x01\x00\x01\x01", 6);
}

void TestCalList::testingInfo()
{
    QFETCH(int, model);
    QFETCH(QDate, date);
    QFETCH(QByteArray, data);

    TRunState s = StateFor(5, model);
    BuildCalList(s, QDate(2020, 1, 1));
    const TEventQueue before = s.FCalList;
    BuildTestingInfoStep(s, date);

    const TEvent& e = s.FCalList[25];
    QVERIFY(!e.MeterStep);
    QCOMPARE(e.Description, QStringLiteral("Setting testing info"));
    QCOMPARE(int(e.Frame[1]), 5);
    QCOMPARE(int(e.Frame.command()), 0x89);
    QCOMPARE(Data(e.Frame, 6), data);
    QVERIFY(DataZeroFrom(e.Frame, 6));
    QCOMPARE(e.Frame[25], FrameChecksum(e.Frame));
    for (std::size_t i = 0; i < s.FCalList.size(); ++i) {
        if (i == 25) continue;
        QVERIFY2(s.FCalList[i].Frame == before[i].Frame, qPrintable(QString::number(i + 1)));
        QCOMPARE(s.FCalList[i].Description, before[i].Description);
    }
}

void TestCalList::serialStep_data()
{
    QTest::addColumn<uint>("readSerial");
    QTest::addColumn<int>("counter");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<QByteArray>("digits");

    QTest::newRow("read 12345") << 12345u << 42 << true << QByteArray("012345");
    QTest::newRow("read 999999") << 999999u << 42 << true << QByteArray("999999");
    QTest::newRow("none read, counter 42") << 0u << 42 << true << QByteArray("000042");
    // The whole counter is the serial number; its low 16 bits would give another supply's number.
    QTest::newRow("none read, counter 65536") << 0u << 65536 << true << QByteArray("065536");
    QTest::newRow("none read, counter 999999") << 0u << 999999 << true << QByteArray("999999");
    QTest::newRow("none read, counter 0") << 0u << 0 << false << QByteArray();
    QTest::newRow("none read, counter 1000000") << 0u << 1000000 << false << QByteArray();
    QTest::newRow("none read, counter -5") << 0u << -5 << false << QByteArray();
}

void TestCalList::serialStep()
{
    QFETCH(uint, readSerial);
    QFETCH(int, counter);
    QFETCH(bool, writable);
    QFETCH(QByteArray, digits);

    TRunState s = StateFor(5, 2);
    BuildCalList(s, Today);
    s.FReadSerial = readSerial;
    s.FUnitCounter = counter;
    QCOMPARE(BuildSerialStep(s), writable);

    const TEvent& e = s.FCalList[24];
    QVERIFY(!e.MeterStep);
    QCOMPARE(e.Description, QStringLiteral("Setting serial No."));
    QCOMPARE(int(e.Frame[0]), 0xAA);
    QCOMPARE(int(e.Frame[1]), 5);
    QCOMPARE(int(e.Frame.command()), 0x8B);
    QCOMPARE(e.Frame[25], FrameChecksum(e.Frame));
    if (writable) {
        QCOMPARE(Data(e.Frame, 11), digits + "7213b");
        QVERIFY(DataZeroFrom(e.Frame, 11));
    } else {
        QVERIFY(DataZeroFrom(e.Frame, 0));
    }
}

void TestCalList::serialStepInitialList()
{
    // Until this supply's number has been read, step 25 carries the previous run's number.
    TRunState s = StateFor(1, 0);
    s.FReadSerial = 31;
    s.FUnitCounter = 42;
    BuildCalList(s, Today);
    QCOMPARE(Data(s.FCalList[24].Frame, 6), QByteArray("000031"));

    s.FReadSerial = 0;
    BuildCalList(s, Today);
    QCOMPARE(Data(s.FCalList[24].Frame, 6), QByteArray("000042"));
}

void TestCalList::writableSerial_data()
{
    QTest::addColumn<uint>("readSerial");
    QTest::addColumn<int>("counter");
    QTest::addColumn<qint64>("serial");
    QTest::addColumn<bool>("writable");

    QTest::newRow("read wins over counter") << 17u << 42 << qint64(17) << true;
    QTest::newRow("counter when none read") << 0u << 42 << qint64(42) << true;
    QTest::newRow("counter 1") << 0u << 1 << qint64(1) << true;
    QTest::newRow("counter 0") << 0u << 0 << qint64(0) << false;
    QTest::newRow("largest int counter") << 0u << 2147483647 << qint64(2147483647) << false;
    QTest::newRow("negative counter") << 0u << -2147483647 - 1 << qint64(-2147483648LL) << false;
}

void TestCalList::writableSerial()
{
    QFETCH(uint, readSerial);
    QFETCH(int, counter);
    QFETCH(qint64, serial);
    QFETCH(bool, writable);

    TRunState s;
    s.FReadSerial = readSerial;
    s.FUnitCounter = counter;
    QCOMPARE(SerialForStep25(s), serial);
    QCOMPARE(IsWritableSerial(SerialForStep25(s)), writable);
    QCOMPARE(IsWritableSerial(999999), true);
    QCOMPARE(IsWritableSerial(1000000), false);
}

void TestCalList::rebuildersLeaveUnbuiltListAlone()
{
    TRunState s = StateFor(1, 0);
    s.FUnitCounter = 42;
    QVERIFY(!BuildSerialStep(s));
    BuildTestingInfoStep(s, Today);
    QVERIFY(s.FCalList.empty());
}

void TestCalList::nominalLevels_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("model");
    QTest::addColumn<int>("point");
    QTest::addColumn<QString>("level");
    QTest::addColumn<double>("value");
    QTest::newRow("5: 100 mV") << 5 << 0 << 1 << "100mV" << 0.1;
    QTest::newRow("8") << 8 << 2 << 2 << "3.999V" << 3.999;
    QTest::newRow("11") << 11 << 1 << 3 << "4.00V" << 4.0;
    QTest::newRow("14 model 0") << 14 << 0 << 4 << "19.0V(7211B)" << 19.0;
    QTest::newRow("14 model 1") << 14 << 1 << 4 << "37.0V(7212B)" << 37.0;
    QTest::newRow("14 model 2") << 14 << 2 << 4 << "73.0V(7213B)" << 73.0;
    QTest::newRow("17 model 1") << 17 << 1 << 5 << "20.0V(7212B)" << 20.0;
    QTest::newRow("20: 100 mA") << 20 << 2 << 6 << "100mA" << 0.1;
    QTest::newRow("23 model 0") << 23 << 0 << 7 << "5.1A(7211B)" << 5.1;
    QTest::newRow("23 model 2") << 23 << 2 << 7 << "1.6A(7213B)" << 1.6;
    QTest::newRow("23 unknown model") << 23 << 7 << 7 << "" << 0.0;
    QTest::newRow("a set-point step") << 6 << 0 << 0 << "" << 0.0;
    QTest::newRow("beyond the list") << 26 << 0 << 0 << "" << 0.0;
}

void TestCalList::nominalLevels()
{
    QFETCH(int, step);
    QFETCH(int, model);
    QFETCH(int, point);
    QFETCH(QString, level);
    QFETCH(double, value);
    QCOMPARE(CalPointOfMeterStep(step), point);
    QCOMPARE(IsCurrentPoint(step), point >= 6);
    QCOMPARE(NominalLevel(step, static_cast<std::uint8_t>(model)), level);
    QCOMPARE(NominalValue(step, static_cast<std::uint8_t>(model)), value);
}

void TestCalList::plausibility_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("plausible");
    QTest::newRow("100 mV point, 0.1003 V") << 5 << 0.1003 << true;
    QTest::newRow("100 mV point read on mV: 100.3") << 5 << 100.3 << false;
    QTest::newRow("3.999 V point, 3.9988") << 8 << 3.9988 << true;
    QTest::newRow("4th point 37 V, decimal point missed: 370") << 14 << 370.0 << false;
    QTest::newRow("4th point 37 V, 3.7 typed") << 14 << 3.7 << false;
    QTest::newRow("wrong sign") << 11 << -4.0 << false;
    QTest::newRow("10 % above still passes") << 11 << 4.4 << true;
    QTest::newRow("just beyond 10 %") << 11 << 4.41 << false;
    QTest::newRow("10 % below still passes") << 11 << 3.6 << true;
    QTest::newRow("100 mA point read on the voltage range: 4.0") << 20 << 4.0 << false;
    QTest::newRow("100 mA point, 0.1004 A") << 20 << 0.1004 << true;
    QTest::newRow("3.1 A point, 3.0985 A") << 23 << 3.0985 << true;
    QTest::newRow("3.1 A point read in mA: 3098.5") << 23 << 3098.5 << false;
}

void TestCalList::plausibility()
{
    QFETCH(int, step);
    QFETCH(double, value);
    QFETCH(bool, plausible);
    QCOMPARE(IsPlausibleReading(value, step, 1, 0.10), plausible);
}

QTEST_APPLESS_MAIN(TestCalList)
#include "tst_CalList.moc"
