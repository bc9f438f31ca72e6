// Tests of the meter dialog: what it shows of Config.Ini, what it writes back, its Test and Scan.
#include "LabelFit.h"
#include "MeterDlg.h"
#include "MeterSettings.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QString WriteIni(const QTemporaryDir& dir, const QByteArray& text)
{
    const QString path = dir.filePath(QStringLiteral("Config.Ini"));
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write(text);
    return path;
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class TestMeterDlg : public QObject {
    Q_OBJECT
private slots:
    void showsAndWritesTheConnection_data();
    void showsAndWritesTheConnection();
    void benchKeys_data();
    void benchKeys();
    void testAsksWhoTheMeterIs_data();
    void testAsksWhoTheMeterIs();
};

void TestMeterDlg::showsAndWritesTheConnection_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<int>("shown");  // the connection shown: 0 none, 1 serial, 2 tcp, 3 libsigrok
    QTest::addColumn<int>("choose");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("describe");  // what Config.Ini then says
    QTest::newRow("none, then serial") << QByteArray("[Config]\r\nPowerID=7\r\n") << 0 << 1 << "/dev/ttyUSB1" << ""
                                       << "serial /dev/ttyUSB1 at 9600 baud";
    QTest::newRow("serial, then tcp") << QByteArray("[Meter]\r\nConnection=serial\r\nPort=COM2\r\nMaxReads=3\r\n") << 1 << 2 << ""
                                      << "10.1.2.3" << "TCP 10.1.2.3:5025";
    QTest::newRow("none, then tcp at an IPv6 address in brackets") << QByteArray() << 0 << 2 << "" << "[::1]"
                                                                   << "TCP [::1]:5025";
    QTest::newRow("tcp, then none") << QByteArray("[Meter]\r\nConnection=tcp\r\nHost=dmm:5555\r\n") << 2 << 0 << "" << ""
                                    << "none";
    QTest::newRow("serial without a port is none") << QByteArray() << 0 << 1 << "" << "" << "none";
    // For libsigrok the port is the connection, the driver the library's fluke-dmm.
    QTest::newRow("none, then libsigrok on COM4") << QByteArray() << 0 << 3 << "COM4" << "" << "libsigrok fluke-dmm on COM4";
    QTest::newRow("libsigrok, then serial")
        << QByteArray("[Meter]\r\nConnection=sigrok\r\nDriver=fluke-dmm\r\nConn=/dev/ttyUSB0\r\nSerialComm=115200/8n1\r\n") << 3 << 1
        << "/dev/ttyUSB1" << "" << "serial /dev/ttyUSB1 at 9600 baud";
    QTest::newRow("a driver this library lacks is kept")
        << QByteArray("[Meter]\r\nConnection=sigrok\r\nDriver=no-such-dmm\r\nConn=/dev/ttyUSB0\r\n") << 3 << 3 << "" << ""
        << "libsigrok no-such-dmm on /dev/ttyUSB0";
}

void TestMeterDlg::showsAndWritesTheConnection()
{
    QFETCH(QByteArray, ini);
    QFETCH(int, shown);
    QFETCH(int, choose);
    QFETCH(QString, port);
    QFETCH(QString, host);
    QFETCH(QString, describe);
    QTemporaryDir dir;
    const QString path = WriteIni(dir, ini);
    TFormMeter dialog(path);
    QCOMPARE(dialog.comboConnection->currentIndex(), shown);
    // Only what the chosen connection needs can be edited.
    QCOMPARE(dialog.editPort->isEnabled(), shown == 1);
    QCOMPARE(dialog.editHost->isEnabled(), shown == 2);
    QCOMPARE(dialog.btnTest->isEnabled(), shown != 0);
    QCOMPARE(dialog.editConn->isEnabled(), shown == 3);
    QCOMPARE(dialog.btnScan->isEnabled(), shown == 3);
    // The drivers are the library's own multimeter drivers, each with its long name.
    const int fluke = dialog.comboDriver->findData(QStringLiteral("fluke-dmm"));
    QVERIFY(fluke >= 0);
    QVERIFY2(dialog.comboDriver->itemText(fluke).contains(QStringLiteral("Fluke")), qPrintable(dialog.comboDriver->itemText(fluke)));
    QCOMPARE(dialog.comboDriver->findData(QStringLiteral("demo")), -1);

    dialog.comboConnection->setCurrentIndex(choose);
    if (choose == 3 && !port.isEmpty()) {
        dialog.comboDriver->setCurrentIndex(fluke);
        dialog.editConn->setText(port);
    } else if (!port.isEmpty()) {
        dialog.editPort->setText(port);
    }
    if (!host.isEmpty()) dialog.editHost->setText(host);
    dialog.show();
    QVERIFY2(CutLabels(dialog).isEmpty(), qPrintable(CutLabels(dialog).join(QStringLiteral(" | "))));
    dialog.btnOK->click();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(LoadMeterSettings(path).describe(), describe);
    // The other keys and sections stay.
    const QByteArray written = ReadAll(path);
    if (ini.contains("PowerID=7")) QVERIFY(written.contains("PowerID=7"));
    if (ini.contains("MaxReads=3")) QCOMPARE(LoadMeterSettings(path).maxReads, 3);
}

void TestMeterDlg::benchKeys_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QStringList>("typed");    // asset, due date, plausibility, settle tolerance, reads; empty: as loaded
    QTest::addColumn<QStringList>("written");  // lines Config.Ini then holds; empty: refused
    const QByteArray bench("[Meter]\r\nVoltageQuery=MEAS:VOLT:DC? AUTO\r\nAssetId=A-7\r\nCalibrationDue=2026-01-31\r\n"
                           "Plausibility=2.5\r\nSettleTolerance=0.1\r\nMaxReads=3\r\n[Ports]\r\nCOM1=/dev/ttyUSB0\r\n");
    QTest::newRow("defaults") << QByteArray("[Config]\r\nPowerID=7\r\n") << QStringList{} << QStringList{"PowerID=7", "Plausibility=10", "SettleTolerance=0.05", "MaxReads=5"};
    QTest::newRow("loaded, kept with the rest") << bench << QStringList{} << QStringList{"VoltageQuery=MEAS:VOLT:DC? AUTO", "AssetId=A-7", "CalibrationDue=2026-01-31",
                                                                                      "Plausibility=2.5", "SettleTolerance=0.1", "MaxReads=3", "COM1=/dev/ttyUSB0"};
    QTest::newRow("edited") << bench << QStringList{"DMM-0042", "", "0", "0.02", "8"}
                            << QStringList{"AssetId=DMM-0042", "CalibrationDue=", "Plausibility=0", "SettleTolerance=0.02", "MaxReads=8"};
    QTest::newRow("date in another form") << bench << QStringList{"A-7", "30.06.2027", "2.5", "0.1", "3"} << QStringList{};
    QTest::newRow("no such day") << bench << QStringList{"A-7", "2027-02-30", "2.5", "0.1", "3"} << QStringList{};
}

void TestMeterDlg::benchKeys()
{
    QFETCH(QByteArray, ini);
    QFETCH(QStringList, typed);
    QFETCH(QStringList, written);
    QTemporaryDir dir;
    const QString path = WriteIni(dir, ini);
    TFormMeter dialog(path);
    const QList<QWidget*> fields{dialog.editAssetId, dialog.editCalibrationDue, dialog.spinPlausibility, dialog.spinSettleTolerance, dialog.spinMaxReads};
    for (int i = 0; i < typed.size(); ++i) QVERIFY(fields[i]->metaObject()->userProperty().write(fields[i], typed[i]));
    dialog.btnOK->click();
    QCOMPARE(dialog.result(), int(written.isEmpty() ? QDialog::Rejected : QDialog::Accepted));
    const QStringList lines = QString::fromLatin1(ReadAll(path)).split(QStringLiteral("\r\n"));
    for (const QString& line : written) QVERIFY2(lines.contains(line), qPrintable(lines.join(QLatin1Char('|'))));
    if (written.isEmpty()) QCOMPARE(ReadAll(path), ini);
    if (written.isEmpty()) QVERIFY(dialog.labelAnswer->text().startsWith(QStringLiteral("The calibration due date \"%1\" is not a date: type it as yyyy-MM-dd").arg(typed[1])));
}

void TestMeterDlg::testAsksWhoTheMeterIs_data()
{
    QTest::addColumn<int>("connection");  // 2 tcp, 3 libsigrok
    QTest::addColumn<bool>("listening");
    QTest::addColumn<QString>("answer");
    QTest::newRow("the meter answers") << 2 << true << "The meter answers: KORVEX-SIM,DMM-1,0,1.0";
    QTest::newRow("nobody there") << 2 << false << "No answer: the connection to the meter was lost";
    QTest::newRow("libsigrok: no such port") << 3 << false << "No answer: no fluke-dmm meter answers on /dev/korvex-no-such-port";
}

void TestMeterDlg::testAsksWhoTheMeterIs()
{
    QFETCH(int, connection);
    QFETCH(bool, listening);
    QFETCH(QString, answer);
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const quint16 tcpPort = server.serverPort();
    if (!listening) server.close();
    QByteArray asked;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        QTcpSocket* s = server.nextPendingConnection();
        QObject::connect(s, &QTcpSocket::readyRead, [s, &asked] {
            asked += s->readAll();
            if (asked.endsWith('\n')) s->write("KORVEX-SIM,DMM-1,0,1.0\n");
        });
    });
    QTemporaryDir dir;
    TFormMeter dialog(WriteIni(dir, QByteArray()));
    dialog.comboConnection->setCurrentIndex(connection);
    dialog.editHost->setText(QStringLiteral("127.0.0.1"));
    dialog.spinTcpPort->setValue(tcpPort);
    dialog.comboDriver->setCurrentIndex(dialog.comboDriver->findData(QStringLiteral("fluke-dmm")));
    dialog.editConn->setText(QStringLiteral("/dev/korvex-no-such-port"));
    dialog.btnTest->click();
    // The window goes on while the meter is asked.
    QVERIFY(!dialog.btnTest->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(dialog.labelAnswer->text().startsWith(answer), 5000);
    if (listening) QCOMPARE(asked, QByteArray("*IDN?\n"));
    QVERIFY(dialog.btnTest->isEnabled());
    if (connection == 3) {
        dialog.btnScan->click();
        QTRY_VERIFY_WITH_TIMEOUT(dialog.labelAnswer->text().startsWith(QStringLiteral("No meter found: no fluke-dmm meter answers")), 5000);
        QVERIFY(dialog.btnScan->isEnabled());
    }
}

QTEST_MAIN(TestMeterDlg)
#include "tst_MeterDlg.moc"
