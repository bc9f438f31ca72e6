// One whole calibration through the real main window and its dialogs against the simulated supply,
// the operator played by the test: Setting, Calibrate, and at each point the level the supply's
// multimeter would show, or with the simulated meter set up only OK; then the run in the results
// window, one click away. The meter is the simulator's SCPI meter or its hand-held Fluke 287 read
// through libsigrok, which also plays a wrong dial, an overload and a pulled cable: the operator
// then types that point's reading. With KORVEX_SCREENSHOT_DIR set, the windows and a report page are also
// saved as pictures.
#include "MainUnit.h"
#include "Station.h"
#include "MeterSettings.h"
#include "MeterPrompt.h"
#include "ModalAnswerer.h"
#include "PortMap.h"
#include "ProgressDisplay.h"
#include "QtClock.h"
#include "QtSerialControl.h"
#include "ReportPage.h"
#include "ResultsRecord.h"
#include "ResultsWindow.h"
#include "Settingdlg.h"
#include "SettingsFlow.h"
#include "SerialPortOverPty.h"
#include "SimulatedSupply.h"
#include "Unit3.h"
#include "ValueDlg.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QTableView>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <cmath>

namespace {

constexpr int Points = 7;

// What the operator saw and did at one calibration point.
struct PointSeen {
    int picture = 0;
    QString prompt;
    QString unit;       // the value dialog's "(V)" or "(A)"
    QString entryText;  // what the value dialog's entry held when it came up
    QString meter;      // the simulator's METER line the reading was taken from
    QString note;       // the value dialog's line under the entry when the meter gave no value
    QString pointLine;  // the value dialog's line naming the point, when the reading is typed
};

// libserialport takes a port for one only where /sys/class/tty knows its name.
const QByteArray SigrokPort = "/dev/ttyS0";

QString CellText(const QTableWidget* grid, int row, int column)
{
    const QTableWidgetItem* item = grid->item(row, column);
    return item ? item->text() : QString();
}

}  // namespace

class TestGuiCalibration : public QObject {
    Q_OBJECT

private slots:
    void wholeCalibrationThroughTheWindows_data();
    void wholeCalibrationThroughTheWindows();

private:
    void shoot(QWidget* window, const QString& name);

    bool privateMounts_ = false;
    QString shotDir_;
};

void TestGuiCalibration::shoot(QWidget* window, const QString& name)
{
    if (shotDir_.isEmpty()) return;
    QVERIFY(QDir().mkpath(shotDir_));
    const QString path = QDir(shotDir_).filePath(name);
    // As the operator sees it, once the layout has taken up what was just shown.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QVERIFY2(window->grab().save(path), qPrintable(path));
}

void TestGuiCalibration::wholeCalibrationThroughTheWindows_data()
{
    QTest::addColumn<QString>("meter");
    QTest::addColumn<QStringList>("simExtra");
    // The points (1..7) whose reading the operator types, and what the value dialog says at the
    // first of them.
    QTest::addColumn<QString>("typedPoints");
    QTest::addColumn<QString>("told");
    QTest::newRow("the operator types every reading") << "none" << QStringList{} << "1234567" << "";
    QTest::newRow("the program reads the meter, the operator presses OK") << "scpi" << QStringList{} << "" << "";
    QTest::newRow("a hand-held meter through libsigrok") << "sigrok" << QStringList{} << "" << "";
    QTest::newRow("libsigrok: the dial on ohms at the 2nd point")
        << "sigrok" << QStringList{"--meter-wrong-dial", "2"} << "2" << "The meter reads 12.3 Ω: set its dial to DC volts. Please type the value.";
    QTest::newRow("libsigrok: OL at the first current point")
        << "sigrok" << QStringList{"--meter-overload-at", "6"} << "6" << "The meter shows an overload (OL): choose a higher amperes range";
    QTest::newRow("libsigrok: garbage for the first answers, then readings") << "sigrok" << QStringList{"--meter-fault", "garbagex4"} << "" << "";
    QTest::newRow("libsigrok: the cable pulled at the 4th point")
        << "sigrok" << QStringList{"--meter-unplug-at", "4"} << "4567" << "No reading from the meter: the meter gave no reading within 1.5 s";
}

void TestGuiCalibration::wholeCalibrationThroughTheWindows()
{
    QFETCH(QString, meter);
    QFETCH(QStringList, simExtra);
    QFETCH(QString, typedPoints);
    QFETCH(QString, told);
    const bool withMeter = meter != QLatin1String("none");
    const bool sigrok = meter == QLatin1String("sigrok");
    if (sigrok) {
        QString why;
        if (!privateMounts_) privateMounts_ = EnterPrivateMounts(&why);
        if (!privateMounts_) QSKIP(qPrintable(why));
        if (qEnvironmentVariable("LD_PRELOAD").isEmpty()) QSKIP("libsigrok takes a pty for a port only with the modem-line shim preloaded");
    }
    // The pictures of the documentation are of a run typed by hand, and of the meter's dialog.
    const QString shots = qEnvironmentVariable("KORVEX_SCREENSHOT_DIR");
    shotDir_ = withMeter ? QString() : shots;

    SimulatedSupply sim(QStringLiteral(PSU_SIM));
    // A supply without a serial number: it receives the unit counter of Config.Ini.
    QStringList simArgs{QStringLiteral("--serial"), QStringLiteral("none")};
    if (withMeter) simArgs << QStringLiteral("--meter-pty");
    if (sigrok) simArgs << QStringLiteral("--meter-fluke") << simExtra;
    const QString ptyPath = sim.start(simArgs);
    QVERIFY2(!ptyPath.isEmpty(), qPrintable(sim.errorString()));
    auto meterLines = [&] { return sim.linesStartingWith(QStringLiteral("METER ")); };
    QString meterPty;
    if (withMeter) {
        QTRY_VERIFY(!sim.linesStartingWith(QStringLiteral("METERPTY ")).isEmpty());
        meterPty = sim.linesStartingWith(QStringLiteral("METERPTY ")).first().mid(9);
    }

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString ini = dir.filePath(QStringLiteral("Config.Ini"));
    {
        QFile file(ini);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Config]\r\nPowerID=4711\r\nEquality=0\r\n[Ports]\r\nCOM1=" + ptyPath.toLocal8Bit() + "\r\n");
        if (sigrok)
            file.write("[Meter]\r\nConnection=sigrok\r\nDriver=fluke-dmm\r\nConn=" + SigrokPort + "\r\nSerialComm=115200/8n1\r\nTimeoutMs=1500\r\n");
        else if (withMeter)
            file.write("[Meter]\r\nConnection=serial\r\nPort=" + meterPty.toLocal8Bit() + "\r\n");
        else
            file.write("[Meter]\r\n");
        // The meter's own calibration runs out well after this run; the certificate names it.
        file.write("AssetId=DMM-0042\r\nCalibrationDue=" + QDate::currentDate().addDays(200).toString(Qt::ISODate).toLatin1() + "\r\n");
    }
    if (sigrok) {
        QString why;
        QVERIFY2(BindPtyOver(meterPty, QString::fromLatin1(SigrokPort), &why), qPrintable(why));
    }

    // Built as the program builds itself, without the splash.
    QtClock clock;
    QtSerialControl comm([ini](int port) { return PortDevicePath(port, ini); });
    StationParts parts;
    parts.comm = &comm;
    parts.clock = &clock;
    parts.iniPath = ini;
    parts.splash = false;
    Station station(parts);
    TMainForm& form = station.form();
    RunEngine& engine = station.engine();
    TForm3* form3 = &station.informationWindow();
    QCOMPARE(LoadMeterSettings(ini).enabled(), withMeter);
    const QString dbPath = station.databasePath();
    QCOMPARE(dbPath, dir.filePath(QStringLiteral("PowerTestDb.sqlite")));
    station.OpenRecord();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    ModalAnswerer answer;
    answer.then([&](QWidget* w) {
        auto* dialog = qobject_cast<TFormSetting*>(w);
        if (!dialog) {
            ++answer.unexpected;
            w->close();
            return;
        }
        QTest::mouseClick(dialog->btnOK, Qt::LeftButton);
    });
    QTest::mouseClick(form.btnSetting, Qt::LeftButton);
    QVERIFY(answer.done());
    QCOMPARE(answer.unexpected, 0);
    QCOMPARE(comm.devicePath(), ptyPath);
    QVERIFY(form.btnStart->isEnabled());

    std::vector<PointSeen> seen(Points);
    // The first-day slip, where the operator types every reading: what the meter on millivolts
    // shows, typed as it is. The question comes, No leaves the dialog with the text typed.
    const bool slip = !withMeter;
    QString slipKept;
    answer.pressBox(QMessageBox::Yes);
    for (int point = 0; point < Points; ++point) {
        answer.then([&, point](QWidget* w) {
            if (w != form3) {
                ++answer.unexpected;
                w->close();
                return;
            }
            seen[point].picture = form3->VisiblePicture();
            seen[point].prompt = form3->Label1->text();
            // The 4th voltage point: six rows of the grid are done by then.
            if (point == 3) {
                shoot(&form, QStringLiteral("grid-mid-run.png"));
                shoot(form3, QStringLiteral("information-window.png"));
            }
            QTest::mouseClick(form3->Button1, Qt::LeftButton);
        });
        if (slip && point == 0) {
            answer.then([&](QWidget* w) {
                auto* dialog = qobject_cast<TFormValue*>(w);
                if (!dialog) {
                    ++answer.unexpected;
                    w->close();
                    return;
                }
                dialog->Edit1->selectAll();
                QTest::keyClicks(dialog->Edit1, QStringLiteral("100.3"));
                QTest::mouseClick(dialog->Button1, Qt::LeftButton);
            });
            answer.pressBox(QMessageBox::No);
        }
        answer.then([&, point](QWidget* w) {
            auto* dialog = qobject_cast<TFormValue*>(w);
            // The supply prints its meter level when it starts to output the point.
            if (!dialog || !QTest::qWaitFor([&] { return meterLines().size() > point; }, 5000)) {
                ++answer.unexpected;
                w->close();
                return;
            }
            PointSeen& p = seen[point];
            if (slip && point == 0) slipKept = dialog->Edit1->text();
            p.unit = dialog->Label2->text();
            p.meter = meterLines().at(point);
            const bool typed = typedPoints.contains(QString::number(point + 1));
            if (withMeter && typed) {
                // No value from the meter: the dialog says why, the entry waits for the operator.
                if (!QTest::qWaitFor([&] { return dialog->Label3->text().startsWith(QStringLiteral("No reading")) || dialog->Label3->text().startsWith(QStringLiteral("The meter")); }, 10000)) {
                    ++answer.unexpected;
                    w->close();
                    return;
                }
                p.note = dialog->Label3->text();
                p.entryText = dialog->Edit1->text();
                QTest::keyClicks(dialog->Edit1, p.meter.section(QLatin1Char(' '), 1, 1));
            } else if (withMeter) {
                // The reading arrives while the dialog is open; the operator only confirms it.
                if (!QTest::qWaitFor([&] { return dialog->Label3->text().startsWith(QStringLiteral("Meter: ")); }, 10000)) {
                    ++answer.unexpected;
                    w->close();
                    return;
                }
                p.entryText = dialog->Edit1->text();
                if (point == 3 && !shots.isEmpty()) {
                    QVERIFY(QDir().mkpath(shots));
                    QVERIFY(dialog->grab().save(QDir(shots).filePath(QStringLiteral("value-dialog-meter.png"))));
                }
            } else {
                p.entryText = dialog->Edit1->text();
                p.pointLine = dialog->Label5->text();
                dialog->Edit1->selectAll();
                QTest::keyClicks(dialog->Edit1, p.meter.section(QLatin1Char(' '), 1, 1));
            }
            if (point == 3) shoot(dialog, QStringLiteral("value-dialog.png"));
            // Both ways of confirming a reading.
            if (point % 2)
                QTest::keyClick(dialog->Edit1, Qt::Key_Return);
            else
                QTest::mouseClick(dialog->Button1, Qt::LeftButton);
        });
    }
    answer.pressBox(QMessageBox::Yes);
    const QString meterNamed = sigrok     ? QStringLiteral("Measured with Fluke 287 V1.16 on /dev/ttyS0 (libsigrok fluke-dmm)")
                               : withMeter ? QStringLiteral("Measured with KORVEX-SIM DMM-1 1.0 on %1 (SCPI)").arg(meterPty)
                                           : QStringLiteral("No reading from a meter: every reading typed");

    const TRunState& s = engine.state();
    const QDate today = QDate::currentDate();
    QTest::mouseClick(form.btnStart, Qt::LeftButton);
    // The question is answered after the click has returned.
    QTRY_VERIFY_WITH_TIMEOUT(s.FCalibrating, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!s.FCalibrating, 150000);
    QTRY_VERIFY_WITH_TIMEOUT(answer.done(), 5000);
    QCOMPARE(answer.unexpected, 0);
    shoot(&form, QStringLiteral("finished-run.png"));

    QCOMPARE(answer.boxes.size(), std::size_t(slip ? 3 : 2));
    QCOMPARE(answer.boxes[0].text, QStringLiteral("Are you all ready ?"));
    if (slip) {
        QCOMPARE(answer.boxes[1].text, QStringLiteral("The value 100.3 is far from the expected 100mV. The entry is in volts: 100 mV is "
                                                      "0.1. Use it anyway?"));
        QCOMPARE(answer.boxes[1].defaultButton, QMessageBox::No);
        QCOMPARE(slipKept, QStringLiteral("100.3"));
    }
    QCOMPARE(answer.boxes.back().title, QStringLiteral("Information"));
    QCOMPARE(answer.boxes.back().text, QStringLiteral("Voltrix7212B calibrating finished !"));

    // Millivolts at the first point, volts up to the fifth, milliamperes, then amperes.
    const int pictures[Points] = {1, 2, 2, 2, 2, 3, 4};
    for (int point = 0; point < Points; ++point) {
        const PointSeen& p = seen[point];
        const QString current = point < 5 ? QStringLiteral("V") : QStringLiteral("A");
        QVERIFY2(p.prompt.startsWith(QString::number(point + 1) + QStringLiteral(".Calibrate the ")),
                 qPrintable(p.prompt));
        QCOMPARE(p.picture, pictures[point]);
        QCOMPARE(p.unit, QStringLiteral("(%1)").arg(current));
        QVERIFY2(p.meter.endsWith(QStringLiteral(" ") + current), qPrintable(p.meter));
        const bool typed = typedPoints.contains(QString::number(point + 1));
        if (withMeter && typed) {
            // Nothing the meter showed is taken: the entry came up empty.
            QCOMPARE(p.entryText, QString());
            if (QString::number(point + 1) == typedPoints.left(1)) QVERIFY2(p.note.startsWith(told), qPrintable(p.note));
        } else if (withMeter) {
            QCOMPARE(QLocale::system().toDouble(p.entryText), p.meter.section(QLatin1Char(' '), 1, 1).toDouble());
        } else {
            QCOMPARE(p.entryText, point == 0 && slip ? QStringLiteral("100.3") : QStringLiteral("0.0"));
            QVERIFY2(p.pointLine.startsWith(QStringLiteral("Point %1 of 7: about ").arg(point + 1)), qPrintable(p.pointLine));
            QVERIFY2(p.pointLine.endsWith(current == QLatin1String("V") ? QStringLiteral(", type volts") : QStringLiteral(", type amperes")),
                     qPrintable(p.pointLine));
        }
    }

    const ProgressDisplay* panel = form.Panel2;
    QCOMPARE(panel->MsgList.rowCount(), 30);
    for (int step = 1; step < panel->MsgList.rowCount(); ++step)
        QCOMPARE(panel->MsgList.text(step, 2), QStringLiteral("Succeed !"));
    QCOMPARE(panel->StringGrid->rowCount(), 15);
    for (int row = 1; row < panel->StringGrid->rowCount(); ++row)
        QCOMPARE(CellText(panel->StringGrid, row, 2), QStringLiteral("Succeed !"));
    QCOMPARE(panel->ProgressBar1->value(), 100);
    QCOMPARE(panel->Label4->text(), QStringLiteral("OK!"));
    // The supply had no number; the one it now holds can be read off the screen for its label.
    QCOMPARE(panel->EditSerial->text(), QStringLiteral("004711"));

    // The next supply without a serial number gets the following one, also after a restart.
    QFile file(ini);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray config = file.readAll();
    QVERIFY2(config.contains("PowerID=4712"), config.constData());
    QVERIFY2(config.contains("COM1=" + ptyPath.toLocal8Bit()), config.constData());

    // The garbage did reach the meter's driver, and was not taken for a reading.
    if (simExtra.contains(QStringLiteral("--meter-fault")))
        QCOMPARE(sim.linesStartingWith(QStringLiteral("METERRX QM | METERTX #?!")).size(), 4);
    // The meter's device went away in the middle of a reading; the window went on.
    if (simExtra.contains(QStringLiteral("--meter-unplug-at")))
        QCOMPARE(sim.linesStartingWith(QStringLiteral("METERRX QM | unplugged")).size(), 1);
    QVERIFY(sim.stop());
    const QStringList fields = sim.lastStateFields();
    QVERIFY2(!fields.isEmpty(), qPrintable(sim.output().right(2000)));
    QStringList expected{
        QStringLiteral("serial=004711"),
        QStringLiteral("model=7212b"),
        QStringLiteral("date=%1-%2-%3")
            .arg(today.year() % 100, 2, 10, QLatin1Char('0'))
            .arg(today.month(), 2, 10, QLatin1Char('0'))
            .arg(today.day(), 2, 10, QLatin1Char('0')),
        QStringLiteral("control=0"),
        QStringLiteral("calmode=0")};
    const QStringList names{"V1", "V2", "V3", "V4", "V5", "I1", "I2"};
    for (int point = 0; point < Points; ++point) {
        const double level = seen[point].meter.section(QLatin1Char(' '), 1, 1).toDouble();
        // The supply keeps thousandths of what was typed, halves going to the even neighbour.
        expected << names[point] + QLatin1Char('=') + QString::number(std::nearbyint(level * 1000.0), 'f', 0);
    }
    for (const QString& field : expected)
        QVERIFY2(fields.contains(field), qPrintable(field + QStringLiteral(" in ") + fields.join(QLatin1Char(' '))));

    // The run in the results window, newest first, with what the operator typed.
    answer.then([&](QWidget* w) {
        auto* results = qobject_cast<ResultsWindow*>(w);
        if (!results) {
            ++answer.unexpected;
            w->close();
            return;
        }
        const QAbstractItemModel* model = results->tableRuns->model();
        QCOMPARE(model->rowCount(), 1);
        results->tableRuns->selectRow(0);
        QTRY_COMPARE(results->SelectedRunId(), station.record().runId());
        QCOMPARE(results->tableReadings->rowCount(), Points);
        // Each reading marked with where it came from.
        for (int row = 0; row < Points; ++row)
            QCOMPARE(results->tableReadings->item(row, 4)->text(),
                     typedPoints.contains(QString::number(row + 1)) ? QStringLiteral("typed") : QStringLiteral("meter"));
        // The meter named as it named itself, where it was connected, and how it was read.
        const QString named = results->labelRun->text();
        QVERIFY2(named.contains(meterNamed), qPrintable(named));
        shoot(results, QStringLiteral("results-window.png"));
        results->close();
    });
    QTest::mouseClick(form.btnResults, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(answer.done(), 5000);
    QCOMPARE(answer.unexpected, 0);

    if (withMeter) QVERIFY(!sim.linesStartingWith(sigrok ? QStringLiteral("METERRX QM") : QStringLiteral("METERRX MEAS:CURR:DC?")).isEmpty());
    ResultsDb db;
    QVERIFY(db.open(dbPath, ResultsDb::Mode::Read));
    RunDetails run;
    QString error;
    QVERIFY2(LoadRun(db.database(), station.record().runId(), &run, &error), qPrintable(error));
    const QString pdf = dir.filePath(QStringLiteral("report.pdf"));
    QVERIFY2(WriteReportPdf(run, pdf, &error), qPrintable(error));
    // The printed report says the same of the meter.
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    QVERIFY(pdftotext.waitForFinished(20000));
    const QString printed = QString::fromUtf8(pdftotext.readAllStandardOutput());
    const QString printedMeter = withMeter ? meterNamed.section(QStringLiteral(" ("), 0, 0) : QStringLiteral("Every reading typed by the operator.");
    QVERIFY2(printed.contains(printedMeter), qPrintable(printed));
    QVERIFY2(!run.certificateNo.isEmpty() && printed.contains(QStringLiteral("No. ") + run.certificateNo), qPrintable(printed));
    QVERIFY2(printed.contains(QStringLiteral("DMM-0042")), qPrintable(printed));
    if (!shotDir_.isEmpty()) {
        QCOMPARE(QProcess::execute(QStringLiteral("pdftoppm"),
                                   {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("60"), QStringLiteral("-singlefile"),
                                    pdf, QDir(shotDir_).filePath(QStringLiteral("report-page"))}),
                 0);
    }
}

QTEST_MAIN(TestGuiCalibration)
#include "tst_GuiCalibration.moc"
