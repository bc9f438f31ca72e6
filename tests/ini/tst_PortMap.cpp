// Tests of the mapping from port numbers to serial device files.
#include "PortMap.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestPortMap : public QObject {
    Q_OBJECT

private slots:
    void devicePath_data();
    void devicePath();
};

void TestPortMap::devicePath_data()
{
    QTest::addColumn<QByteArray>("content");  // empty: no file at all
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("expected");

    const QByteArray ports("[Config]\r\nPowerID=1\r\n[ports]\r\ncom1 = /dev/ttyUSB0\r\nCOM3=/dev/ttyACM1\r\n");
    QTest::newRow("mapped, names in any case") << ports << 1 << "/dev/ttyUSB0";
    QTest::newRow("mapped third port") << ports << 3 << "/dev/ttyACM1";
    QTest::newRow("key missing") << ports << 2 << "/dev/ttyS1";
    QTest::newRow("empty value") << QByteArray("[Ports]\nCOM4=\n") << 4 << "/dev/ttyS3";
    QTest::newRow("no section") << QByteArray("[Config]\nCOM1=/dev/ttyUSB9\n") << 1 << "/dev/ttyS0";
    QTest::newRow("no file") << QByteArray() << 16 << "/dev/ttyS15";
    QTest::newRow("port 0 has no device") << ports << 0 << "";
}

void TestPortMap::devicePath()
{
    QFETCH(QByteArray, content);
    QFETCH(int, port);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("Config.Ini"));
    if (!content.isEmpty()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
    }

    QCOMPARE(PortDevicePath(port, path), expected);
    // Looking a port up never creates or changes the file.
    QCOMPARE(QFile::exists(path), !content.isEmpty());
    if (!content.isEmpty()) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), content);
    }
}

QTEST_APPLESS_MAIN(TestPortMap)
#include "tst_PortMap.moc"
