// Tests of the Setting button's handler with the real dialog, played by the test instead of a modal loop.
#include "AppError.h"
#include "ClearingRun.h"
#include "FakeClock.h"
#include "FakeSerialControl.h"
#include "FakeStation.h"
#include "PortMap.h"
#include "PtyPair.h"
#include "QtClock.h"
#include "QtSerialControl.h"
#include "RecordingView.h"
#include "RunEngine.h"
#include "SerialLink.h"
#include "Settingdlg.h"
#include "SettingsFlow.h"
#include "WidgetInput.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <pwd.h>
#include <unistd.h>

namespace {

// The real dialog, shown without a modal loop: the script plays the operator, then OK or Cancel is
// clicked.
class PlayedDialog : public SettingsSource {
public:
    TFormSetting form;
    std::function<void(TFormSetting&)> script;
    bool confirm = true;

    // Operator actions as "what=value": port=<index>, porttext=, model=<index>, modeltext=, addr=,
    // baud=, user=.
    void play(const QStringList& actions)
    {
        script = [actions](TFormSetting& f) {
            for (const QString& a : actions) {
                const QString what = a.section(QLatin1Char('='), 0, 0);
                const QString value = a.section(QLatin1Char('='), 1);
                if (what == "port") PickFromPopup(f.cbPort1, value.toInt());
                if (what == "porttext") TypeInto(f.cbPort1->lineEdit(), value);
                if (what == "model") PickFromPopup(f.cbSerial, value.toInt());
                if (what == "modeltext") TypeInto(f.cbSerial->lineEdit(), value);
                if (what == "addr") TypeInto(f.Addr->findChild<QLineEdit*>(), value);
                if (what == "baud") TypeInto(f.ComboBox2->lineEdit(), value);
                if (what == "user") TypeInto(f.Power_Testor, value);
            }
        };
    }

    bool Execute() override
    {
        form.show();
        if (script) script(form);
        QTest::mouseClick(confirm ? form.btnOK : form.btnCancel, Qt::LeftButton);
        return !form.isVisible() && form.result() == QDialog::Accepted;
    }
    QString OperatorText() const override { return form.OperatorText(); }
    QString TemperatureText() const override { return form.TemperatureText(); }
    QString HumidityText() const override { return form.HumidityText(); }
    int AddressValue() const override { return form.AddressValue(); }
    QString BaudText() const override { return form.BaudText(); }
    int PortIndex() const override { return form.PortIndex(); }
    QString PortText() const override { return form.PortText(); }
    int ModelIndex() const override { return form.ModelIndex(); }
};

struct Rig : FakeStation {
    PlayedDialog dialog;

    const TRunState& s() { return engine.state(); }
    bool startEnabled() const { return view.ButtonEnabled(ToolButton::Start); }
    bool clearEnabled() const { return view.ButtonEnabled(ToolButton::Clear); }
    void settle(const QStringList& actions = {}, bool confirm = true)
    {
        dialog.play(actions);
        dialog.confirm = confirm;
        btnSettingClick(engine, dialog);
    }
};

}  // namespace

class tst_SettingsFlow : public QObject {
    Q_OBJECT
private slots:
    void defaultsOnAFreePort();
    void cancelAfterOK();
    void applied_data();
    void applied();
    void baudNotAnInteger();
    void failingPortThenAGoodOne();
    void typedPortName_data();
    void typedPortName();
    void confirmedDuringAClearingRun();
    void realPortThroughThePortMap_data();
    void realPortThroughThePortMap();
};

void tst_SettingsFlow::defaultsOnAFreePort()
{
    Rig rig;
    rig.view.resultLabel = QStringLiteral("Failed!");
    bool disabledWhileOpen = false;
    rig.dialog.play({QStringLiteral("user=Li Wei")});
    auto typeUser = rig.dialog.script;
    rig.dialog.script = [&](TFormSetting& f) {
        disabledWhileOpen = !rig.startEnabled() && !rig.clearEnabled();
        typeUser(f);
    };

    btnSettingClick(rig.engine, rig.dialog);

    QVERIFY(disabledWhileOpen);
    QCOMPARE(rig.comm.opens, 1);
    QCOMPARE(rig.comm.commPort(), 1);
    QCOMPARE(rig.comm.settingsLog, std::vector<QString>{QStringLiteral("9600,n,8,1")});
    QVERIFY(rig.link.FPortOpen);
    QCOMPARE(rig.s().FAddress, 0);
    QCOMPARE(int(rig.s().FModel), 1);
    QCOMPARE(rig.s().FTestCode, 0x020102u);
    QCOMPARE(rig.s().FOperatorName, QStringLiteral("Li Wei"));
    QCOMPARE(rig.s().FTemperature, QStringLiteral("25±5°C"));
    QCOMPARE(rig.s().FHumidity, QStringLiteral("<70%"));
    QVERIFY(rig.startEnabled());
    QVERIFY(rig.clearEnabled());
    QVERIFY(rig.view.boxes.empty());
    QVERIFY(rig.view.resultLabel.isEmpty());
    QVERIFY(rig.view.calls.contains(QStringLiteral("InitStepGrid(true)")));
}

void tst_SettingsFlow::cancelAfterOK()
{
    Rig rig;
    rig.settle({QStringLiteral("model=2")});
    QVERIFY(rig.startEnabled());
    rig.view.resultLabel = QStringLiteral("OK!");
    rig.view.calls.clear();

    rig.settle({QStringLiteral("addr=9"), QStringLiteral("modeltext=Power 9"), QStringLiteral("baud=4800")}, false);

    QVERIFY(!rig.startEnabled());
    QVERIFY(!rig.clearEnabled());
    QVERIFY(rig.comm.portOpen());
    QVERIFY(rig.link.FPortOpen);
    QCOMPARE(rig.comm.opens, 1);
    QCOMPARE(rig.comm.closes, 0);
    QCOMPARE(rig.s().FAddress, 0);
    QCOMPARE(int(rig.s().FModel), 2);
    QCOMPARE(rig.s().FTestCode, 0x020103u);
    QCOMPARE(rig.view.resultLabel, QStringLiteral("OK!"));
    QVERIFY(rig.view.calls.isEmpty());
    QVERIFY(rig.view.boxes.empty());

    // What the operator left in the dialog is what the next OK applies.
    rig.settle();
    QCOMPARE(rig.s().FAddress, 9);
    QCOMPARE(int(rig.s().FModel), 255);
    QCOMPARE(rig.comm.settingsLog.back(), QStringLiteral("4800,n,8,1"));
}

void tst_SettingsFlow::applied_data()
{
    QTest::addColumn<QStringList>("actions");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("model");
    QTest::addColumn<uint>("testCode");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("settings");

    QTest::newRow("address above range") << QStringList{"addr=45"} << 31 << 1 << 0x020102u << 1 << "9600,n,8,1";
    QTest::newRow("address in range") << QStringList{"addr=17"} << 17 << 1 << 0x020102u << 1 << "9600,n,8,1";
    QTest::newRow("model 7211B") << QStringList{"model=0"} << 0 << 0 << 0x020101u << 1 << "9600,n,8,1";
    QTest::newRow("model 7213B") << QStringList{"model=2"} << 0 << 2 << 0x020103u << 1 << "9600,n,8,1";
    QTest::newRow("model typed") << QStringList{"modeltext=Power 7215B"} << 0 << 255 << 0x020101u << 1 << "9600,n,8,1";
    QTest::newRow("model typed as an item") << QStringList{"modeltext=Power 7213B"} << 0 << 255 << 0x020101u << 1
                                            << "9600,n,8,1";
    QTest::newRow("baud not in the list") << QStringList{"baud=57600"} << 0 << 1 << 0x020102u << 1 << "57600,n,8,1";
    QTest::newRow("baud in hexadecimal") << QStringList{"baud=$2580"} << 0 << 1 << 0x020102u << 1 << "9600,n,8,1";
    QTest::newRow("baud after blanks") << QStringList{"baud=  19200"} << 0 << 1 << 0x020102u << 1 << "19200,n,8,1";
    QTest::newRow("port COM8") << QStringList{"port=7"} << 0 << 1 << 0x020102u << 8 << "9600,n,8,1";
}

void tst_SettingsFlow::applied()
{
    QFETCH(QStringList, actions);
    QFETCH(int, address);
    QFETCH(int, model);
    QFETCH(uint, testCode);
    QFETCH(int, port);
    QFETCH(QString, settings);

    Rig rig;
    rig.settle(actions);

    QCOMPARE(rig.s().FAddress, address);
    QCOMPARE(int(rig.s().FModel), model);
    QCOMPARE(rig.s().FTestCode, testCode);
    QCOMPARE(rig.comm.commPort(), port);
    QCOMPARE(rig.comm.settingsLog.back(), settings);
    QVERIFY(rig.startEnabled() && rig.clearEnabled());
    QVERIFY(rig.view.boxes.empty());
}

void tst_SettingsFlow::baudNotAnInteger()
{
    Rig rig;
    rig.settle({QStringLiteral("model=2")});

    QString error;
    try {
        rig.settle({QStringLiteral("addr=5"), QStringLiteral("model=0"), QStringLiteral("baud=abc")});
    } catch (const AppError& e) {
        error = e.message();
    }

    QCOMPARE(error, QStringLiteral("'abc' is not a valid integer value"));
    QCOMPARE(rig.s().FAddress, 5);
    QCOMPARE(int(rig.s().FModel), 2);
    QCOMPARE(rig.s().FTestCode, 0x020103u);
    QCOMPARE(rig.comm.opens, 1);
    QCOMPARE(rig.comm.closes, 0);
    QVERIFY(!rig.startEnabled());
    QVERIFY(!rig.clearEnabled());
    QVERIFY(rig.view.boxes.empty());
}

void tst_SettingsFlow::failingPortThenAGoodOne()
{
    Rig rig;
    rig.comm.failOpen = true;
    rig.settle({QStringLiteral("port=2"), QStringLiteral("model=0")});

    QCOMPARE(rig.view.boxTexts("Warning"), QStringList{QStringLiteral("Open COM3 failed,please check !")});
    QVERIFY(!rig.startEnabled());
    QVERIFY(!rig.clearEnabled());
    QVERIFY(!rig.link.FPortOpen);
    QCOMPARE(int(rig.s().FModel), 0);
    QCOMPARE(rig.s().FTestCode, 0x020101u);

    rig.comm.failOpen = false;
    rig.settle();

    QVERIFY(rig.startEnabled());
    QVERIFY(rig.clearEnabled());
    QCOMPARE(rig.comm.commPort(), 3);
    QCOMPARE(rig.view.boxes.size(), std::size_t(1));
}

void tst_SettingsFlow::typedPortName_data()
{
    QTest::addColumn<QString>("typed");
    QTest::newRow("not in the list") << "COM9";
    QTest::newRow("same as an item") << "COM2";
}

void tst_SettingsFlow::typedPortName()
{
    QFETCH(QString, typed);
    Rig rig;
    rig.settle();
    QCOMPARE(rig.comm.opens, 1);

    rig.settle({QStringLiteral("porttext=") + typed, QStringLiteral("addr=3")});

    QCOMPARE(rig.view.boxTexts("Warning"), QStringList{QStringLiteral("Open %1 failed,please check !").arg(typed)});
    QCOMPARE(rig.comm.opens, 1);
    QCOMPARE(rig.comm.closes, 0);
    QCOMPARE(rig.comm.commPort(), 1);
    QVERIFY(rig.link.FPortOpen);
    QCOMPARE(int(rig.link.FPortNo), 0);
    QVERIFY(!rig.startEnabled());
    QVERIFY(!rig.clearEnabled());
    QCOMPARE(rig.s().FAddress, 3);
}

void tst_SettingsFlow::confirmedDuringAClearingRun()
{
    Rig rig;
    ClearingRun clearing(rig.engine);
    // The supply is still set to address 0.
    rig.comm.setFrameHandler([&](const TPsuFrame&) {
        rig.clock.scheduleIn(50, [&] { rig.comm.inject(MakeFrame(0, Cmd::ClearingAnswer)); });
    });
    rig.settle();
    clearing.btnClearClick();
    rig.clock.advance(500);
    QCOMPARE(int(rig.s().FStep), 2);

    std::size_t sentWhileOpen = 0;
    rig.dialog.play({QStringLiteral("addr=5")});
    auto setAddress = rig.dialog.script;
    rig.dialog.script = [&](TFormSetting& f) {
        const std::size_t before = rig.comm.frames.size();
        rig.clock.advance(400);
        sentWhileOpen = rig.comm.frames.size() - before;
        setAddress(f);
    };
    btnSettingClick(rig.engine, rig.dialog);

    QCOMPARE(sentWhileOpen, std::size_t(1));
    QCOMPARE(rig.s().FAddress, 5);
    QCOMPARE(rig.comm.opens, 2);
    QVERIFY(rig.s().FClearing);
    QCOMPARE(int(rig.s().FStep), 3);

    rig.clock.advanceUntil([&] { return !rig.s().FClearing; }, 10000);

    QCOMPARE(int(rig.s().FStep), 3);
    QCOMPARE(rig.view.boxTexts("Error"), QStringList{QStringLiteral("Communication failed,clearing abort!")});
    int clears = 0;
    for (const TPsuFrame& f : rig.comm.frames) clears += f.command() == Cmd::ClearCalibration;
    QCOMPARE(clears, 6);
}

void tst_SettingsFlow::realPortThroughThePortMap_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("locked");
    // What the event log and the status bar say: %1 the device, %2 its lock file, %3 the pid in it.
    QTest::addColumn<QString>("why");
    QTest::newRow("free pty") << QString() << false << QString();
    QTest::newRow("locked for a running process by another user")
        << QString() << true << "COM1 stays closed: %1 is locked by %2 of user nobody, pid %3.";
    QTest::newRow("no such device") << "/dev/korvex-no-such-port" << false << "COM1 stays closed: there is no device %1.";
}

void tst_SettingsFlow::realPortThroughThePortMap()
{
    QFETCH(QString, device);
    QFETCH(bool, locked);
    QFETCH(QString, why);
    PtyPair pty;
    QVERIFY(pty.isValid());
    if (device.isEmpty()) device = pty.slavePath();
    // Where QSerialPort looks for the port's lock, as another user's program left it.
    const QString lock = QStringLiteral("/var/lock/LCK..") + device.mid(5).replace(QLatin1Char('/'), QLatin1Char('_'));
    const auto unlock = qScopeGuard([&] { QFile::remove(lock); });
    QProcess holder;
    if (locked) {
        holder.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(holder.waitForStarted());
        why = why.arg(device, lock, QString::number(holder.processId()));
        const QByteArray text = QByteArray::number(holder.processId()) + "\nsleep\n";
        QFile planted(lock);
        QVERIFY(planted.open(QIODevice::WriteOnly | QIODevice::Truncate) && planted.write(text) == text.size());
        planted.close();
        const passwd* nobody = ::getpwnam("nobody");
        QVERIFY(nobody && ::chown(qPrintable(lock), nobody->pw_uid, nobody->pw_gid) == 0);
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString ini = dir.filePath(QStringLiteral("Config.Ini"));
    QFile file(ini);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[Config]\r\nPowerID=1\r\n[Ports]\r\nCOM1=" + device.toLocal8Bit() + "\r\n");
    file.close();

    QtClock clock;
    QtSerialControl comm([ini](int port) { return PortDevicePath(port, ini); });
    SerialLink link(comm, clock);
    RecordingView view;
    RunEngine engine(link, clock, view);
    PlayedDialog dialog;
    link.SetDefaults();

    btnSettingClick(engine, dialog);

    QCOMPARE(comm.devicePath(), device);
    if (!why.isEmpty()) {
        QCOMPARE(view.boxTexts("Warning"), QStringList{QStringLiteral("Open COM1 failed,please check !")});
        if (!locked) why = why.arg(device);
        QCOMPARE(view.log, QStringList{why});
        QCOMPARE(view.statusPanels[0], why);
        QVERIFY(!link.FPortOpen);
        return;
    }
    QVERIFY(view.boxes.empty());
    QVERIFY(link.FPortOpen);
    QVERIFY(view.ButtonEnabled(ToolButton::Start));

    const TPsuFrame frame = MakeFrame(0, Cmd::ControlState);
    link.WriteFabData(frame);
    QByteArray got;
    QTRY_VERIFY_WITH_TIMEOUT((got += pty.readAvailable()).size() >= TPsuFrame::Size, 3000);
    QCOMPARE(got, QByteArray(reinterpret_cast<const char*>(frame.bytes.data()), TPsuFrame::Size));
}

QTEST_MAIN(tst_SettingsFlow)
#include "tst_SettingsFlow.moc"
