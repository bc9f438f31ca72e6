// Tests of the main window: creation, the version line, the splash, the close sequence and its guard.
#include <QAccessible>
#include <QDialog>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QProgressBar>
#include <QTableWidget>
#include <QToolButton>
#include <QtTest>
#include <deque>
#include <memory>
#include <sys/stat.h>

#include "AboutDlg.h"
#include "LabelFit.h"
#include "AppError.h"
#include "ClearingRun.h"
#include "FakeClock.h"
#include "FakeSerialControl.h"
#include "MainUnit.h"
#include "ProgressDisplay.h"
#include "SettingsFlow.h"

namespace {

// Answers the boxes from a queue (Yes when empty) and keeps what was shown.
class RecordingBoxes : public BoxPresenter {
public:
    struct Box {
        QString kind;
        QString text;
    };
    void Notice(QWidget*, const QString& text) override { box("Notice", text); }
    void Warning(QWidget*, const QString& text) override { box("Warning", text); }
    void Error(QWidget*, const QString& text) override { box("Error", text); }
    void Information(QWidget*, const QString& text) override { box("Information", text); }
    void Question(QWidget*, const QString& text, Answered then) override { then(ask("Question", text)); }
    void WarningQuestion(QWidget*, const QString& text, Answered then) override { then(ask("WarningQuestion", text)); }

    std::vector<Box> boxes;
    std::deque<BoxAnswer> answers;
    // Runs for every box, as a modal box would while it is up.
    std::function<void()> whileShown;

    QStringList texts(const QString& kind) const {
        QStringList out;
        for (const Box& b : boxes)
            if (b.kind == kind) out << b.text;
        return out;
    }

private:
    void box(const char* kind, const QString& text) {
        boxes.push_back({QString::fromLatin1(kind), text});
        if (whileShown) whileShown();
    }
    BoxAnswer ask(const char* kind, const QString& text) {
        box(kind, text);
        if (answers.empty()) return BoxAnswer::Yes;
        const BoxAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
};

// Notes, at the moment the port is closed, whether Config.Ini was already there.
class OrderedSerialControl : public FakeSerialControl {
public:
    bool setPortOpen(bool open) override {
        if (!open && portOpen()) iniExistedAtClose = QFile::exists(iniPath);
        return FakeSerialControl::setPortOpen(open);
    }
    QString iniPath;
    bool iniExistedAtClose = true;
};

class FixedSettings : public SettingsSource {
public:
    bool Execute() override { return true; }
    QString OperatorText() const override { return {}; }
    QString TemperatureText() const override { return QStringLiteral("25±5"); }
    QString HumidityText() const override { return QStringLiteral("<70%"); }
    int AddressValue() const override { return 0; }
    QString BaudText() const override { return baud; }
    int PortIndex() const override { return 0; }
    QString PortText() const override { return QStringLiteral("COM1"); }
    int ModelIndex() const override { return 1; }
    QString baud = QStringLiteral("9600");
};

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void toolbar_data();
    void toolbar();
    void windowFrame();
    void accessibleRolesAndNames();
    void resultsButtonBesideTheSerialNumber();
    void stalledRunSaysWhatToCheck_data();
    void stalledRunSaysWhatToCheck();
    void recordFaultShownOnce();
    void creation_data();
    void creation();
    void existingTempIsLeftAlone();
    void versionLine();
    void splashOnlyOnFirstActivation();
    void closeWritesConfigAfterClosingPort();
    void closeDuringRun_data();
    void closeDuringRun();
    void unwritableConfigKeepsWindowOpen();
    void counterSavedBeforeTheSupplyHasItsNumber_data();
    void counterSavedBeforeTheSupplyHasItsNumber();
    void failedConversionInAClickIsShownAndEndsIt();
    void restoreInstance();

private:
    TMainForm& makeForm();

    std::unique_ptr<QTemporaryDir> dir_;
    QString ini_;
    std::unique_ptr<FakeClock> clockHolder_;
    std::unique_ptr<OrderedSerialControl> commHolder_;
    std::unique_ptr<RecordingBoxes> boxesHolder_;
    std::unique_ptr<TMainForm> form_;
    // Fresh for every test.
    FakeClock* clock_ = nullptr;
    OrderedSerialControl* comm_ = nullptr;
    RecordingBoxes* boxes_ = nullptr;
};

void TestMainWindow::init() {
    dir_ = std::make_unique<QTemporaryDir>();
    ini_ = dir_->filePath(QStringLiteral("Config.Ini"));
    clockHolder_ = std::make_unique<FakeClock>();
    commHolder_ = std::make_unique<OrderedSerialControl>();
    boxesHolder_ = std::make_unique<RecordingBoxes>();
    clock_ = clockHolder_.get();
    comm_ = commHolder_.get();
    boxes_ = boxesHolder_.get();
    comm_->iniPath = ini_;
}

void TestMainWindow::cleanup() {
    form_.reset();
    boxesHolder_.reset();
    commHolder_.reset();
    clockHolder_.reset();
    dir_.reset();
}

TMainForm& TestMainWindow::makeForm() {
    MainFormParts parts;
    parts.comm = comm_;
    parts.clock = clock_;
    parts.iniPath = ini_;
    parts.tempDir = dir_->filePath(QStringLiteral("Temp"));
    parts.boxes = boxes_;
    form_ = std::make_unique<TMainForm>(parts);
    return *form_;
}

void TestMainWindow::toolbar_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("tip");
    QTest::addColumn<bool>("enabled");
    QTest::newRow("btnSetting") << 0 << "&Setting"
                                << "setting comm" << true;
    QTest::newRow("btnStart") << 1 << "&Calibrate"
                              << "calibrate powersupply value" << true;
    QTest::newRow("btnClear") << 2 << "&Reset"
                              << "clear the value" << true;
    QTest::newRow("btnCancel") << 3 << "&Abort"
                               << "undo" << false;
    QTest::newRow("SpeedButton1") << 4 << "&Help"
                                  << "help contents" << true;
    QTest::newRow("SpeedButton2") << 5 << "&About"
                                  << "about us" << true;
    QTest::newRow("btnClose") << 6 << "&Exit"
                              << "close the window" << true;
}

void TestMainWindow::toolbar() {
    QFETCH(int, index);
    QFETCH(QString, caption);
    QFETCH(QString, tip);
    QFETCH(bool, enabled);

    TMainForm& w = makeForm();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QToolButton* buttons[] = {w.btnSetting,   w.btnStart,     w.btnClear, w.btnCancel,
                                    w.SpeedButton1, w.SpeedButton2, w.btnClose};
    const QToolButton* b = buttons[index];
    QCOMPARE(b->text(), caption);
    QCOMPARE(b->toolTip(), tip);
    QCOMPARE(b->isEnabled(), enabled);
    QCOMPARE(b->size(), QSize(108, 30));
    // The caption is not cut beside its picture, which takes its width and 4 pixels, inside the
    // button's frame.
    const int captionWidth = QFontMetrics(b->font()).horizontalAdvance(QString(caption).remove(QLatin1Char('&')));
    QVERIFY2(captionWidth <= b->width() - b->iconSize().width() - 14, qPrintable(b->font().toString()));
    QVERIFY(!b->icon().isNull());
    QCOMPARE(b->parentWidget(), w.Panel1);
    // Left to right in the order of the table, the banner after the last one.
    const QWidget* next = index + 1 < 7 ? static_cast<const QWidget*>(buttons[index + 1]) : w.Image1;
    QVERIFY2(b->geometry().right() < next->geometry().left(), qPrintable(caption));
}

void TestMainWindow::windowFrame() {
    const QFont appFont = QGuiApplication::font();
    TMainForm& w = makeForm();
    // The other windows keep the application's face; the main window's boxes take its own.
    QCOMPARE(QGuiApplication::font(), appFont);
    QCOMPARE(w.Panel2->Edit1->font(), w.font());
    QCOMPARE(w.windowTitle(), QStringLiteral("Korvex Power Calibrator"));
    QCOMPARE(w.size(), QSize(836, 653));
    QCOMPARE(w.minimumSize(), QSize(513, 338));
    QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(w.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(w.font().pixelSize(), 13);
    // Named by the face that is installed, Times New Roman before its stand-in: a name missing
    // from the font database is looked up among the system's substitutes for every size drawn.
    const QStringList installed = QFontDatabase::families();
    for (const QString& face : {QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif")}) {
        if (!installed.contains(face)) continue;
        QCOMPARE(w.font().families(), QStringList{face});
        break;
    }
    QCOMPARE(w.Panel1->height(), 41);
    QVERIFY(!w.Image1->pixmap().isNull());
    // The display panel takes everything below the toolbar.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(w.Panel2->geometry(), QRect(0, 41, w.width(), w.height() - 41));
    QVERIFY2(CutLabels(w).isEmpty(), qPrintable(CutLabels(w).join(QStringLiteral(" | "))));
}

// What screen readers and UI automation see over AT-SPI.
void TestMainWindow::accessibleRolesAndNames() {
    TMainForm& w = makeForm();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto iface = [](QObject* object) { return QAccessible::queryAccessibleInterface(object); };

    QAccessibleInterface* window = iface(&w);
    QVERIFY(window);
    QCOMPARE(window->role(), QAccessible::Window);
    QCOMPARE(window->text(QAccessible::Name), QStringLiteral("Korvex Power Calibrator"));

    const std::vector<std::pair<QToolButton*, QString>> buttons{
        {w.btnSetting, "Setting"}, {w.btnStart, "Calibrate"}, {w.btnClear, "Reset"},  {w.btnCancel, "Abort"},
        {w.SpeedButton1, "Help"},  {w.SpeedButton2, "About"}, {w.btnClose, "Exit"}};
    for (const auto& [button, name] : buttons) {
        QAccessibleInterface* b = iface(button);
        QVERIFY(b);
        QCOMPARE(b->role(), QAccessible::Button);
        QCOMPARE(b->text(QAccessible::Name), name);
        QCOMPARE(b->text(QAccessible::Description), button->toolTip());
        QCOMPARE(b->state().disabled, !button->isEnabled());
        QCOMPARE(b->text(QAccessible::Accelerator), QStringLiteral("Alt+") + name[0]);
        QVERIFY(b->actionInterface());
        QCOMPARE(b->actionInterface()->actionNames().contains(QAccessibleActionInterface::pressAction()), button->isEnabled());
    }
    // Pressed by a screen reader or a test driver, a button is clicked once the request has been
    // answered: a modal window its click opens must not hold the answer back. Setting opens
    // nothing here, and the disabled Abort is never clicked.
    for (QToolButton* button : {w.btnSetting, w.btnCancel}) {
        int clicks = 0;
        const QMetaObject::Connection counted = connect(button, &QToolButton::clicked, this, [&clicks] { ++clicks; });
        iface(button)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        QCOMPARE(clicks, 0);
        QCoreApplication::processEvents();
        QCOMPARE(clicks, button->isEnabled() ? 1 : 0);
        disconnect(counted);
    }

    QAccessibleInterface* grid = iface(w.Panel2->StringGrid);
    QVERIFY(grid);
    QCOMPARE(grid->role(), QAccessible::Table);
    QCOMPARE(grid->text(QAccessible::Name), QStringLiteral("Calibration steps"));
    QAccessibleTableInterface* table = grid->tableInterface();
    QVERIFY(table);
    QCOMPARE(table->columnCount(), 3);
    QCOMPARE(table->rowCount(), 15);
    const QStringList titles{QStringLiteral("Step"), QStringLiteral("Command"), QStringLiteral("State")};
    for (int column = 0; column < 3; ++column) {
        QAccessibleTableCellInterface* cell = table->cellAt(4, column)->tableCellInterface();
        QVERIFY(cell);
        const QList<QAccessibleInterface*> headers = cell->columnHeaderCells();
        QCOMPARE(headers.size(), 1);
        QCOMPARE(headers[0]->role(), QAccessible::ColumnHeader);
        QCOMPARE(headers[0]->text(QAccessible::Name), titles[column]);
    }
    QCOMPARE(table->cellAt(4, 1)->text(QAccessible::Name), QStringLiteral("Calibrate the 1st voltage point"));

    QAccessibleInterface* bar = iface(w.Panel2->ProgressBar1);
    QVERIFY(bar);
    QCOMPARE(bar->role(), QAccessible::ProgressBar);
    QCOMPARE(bar->text(QAccessible::Name), QStringLiteral("Progress"));
    QVERIFY(bar->valueInterface());
    QCOMPARE(bar->valueInterface()->currentValue().toInt(), 0);
    QCOMPARE(bar->valueInterface()->maximumValue().toInt(), 100);
    QCOMPARE(iface(w.Panel2->Edit1)->text(QAccessible::Name), QStringLiteral("Testing Step"));
    QCOMPARE(iface(w.Panel2->EditSerial)->text(QAccessible::Name), QStringLiteral("Serial No."));
}

void TestMainWindow::resultsButtonBesideTheSerialNumber() {
    TMainForm& w = makeForm();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    int clicks = 0, meterClicks = 0;
    w.setResultsClick([&] { ++clicks; });
    w.setMeterClick([&] { ++meterClicks; });
    for (QPushButton* b : {w.btnResults, w.btnMeter}) {
        QVERIFY(b);
        QCOMPARE(b->parentWidget(), static_cast<QWidget*>(w.Panel2));
        QVERIFY(b->isVisible());
        QVERIFY(b->sizeHint().width() <= b->width());
        // Clear of the serial number's box, of the result label and of each other.
        QVERIFY(!b->geometry().intersects(w.Panel2->EditSerial->geometry()));
        QVERIFY(!b->geometry().intersects(w.Panel2->Label4->geometry()));
    }
    QVERIFY(!w.btnResults->geometry().intersects(w.btnMeter->geometry()));
    // The toolbar keeps its seven buttons.
    QCOMPARE(w.Panel1->findChildren<QToolButton*>().size(), 7);
    QCOMPARE(w.Panel1->findChildren<QPushButton*>().size(), 0);
    QTest::mouseClick(w.btnResults, Qt::LeftButton);
    QCOMPARE(clicks, 1);
    QTest::mouseClick(w.btnMeter, Qt::LeftButton);
    QCOMPARE(meterClicks, 1);
    QCOMPARE(clicks, 1);
    // Each has an Alt key of its own, taken by no toolbar button.
    QString keys;
    for (const QAbstractButton* b : std::initializer_list<const QAbstractButton*>{
             w.btnSetting, w.btnStart, w.btnClear, w.btnCancel, w.SpeedButton1, w.SpeedButton2, w.btnClose})
        keys += b->text().section(QLatin1Char('&'), 1).left(1).toLower();
    for (const QAbstractButton* b : {w.btnResults, w.btnMeter}) {
        const QString key = b->text().section(QLatin1Char('&'), 1).left(1).toLower();
        QVERIFY2(!key.isEmpty() && !keys.contains(key), qPrintable(b->text()));
        keys += key;
    }
    // A button's Alt key clicks it a moment later, as it shows itself pressed.
    QTest::keyClick(&w, Qt::Key_U, Qt::AltModifier);
    QTRY_COMPARE(clicks, 2);
    QTest::keyClick(&w, Qt::Key_M, Qt::AltModifier);
    QTRY_COMPARE(meterClicks, 2);
}

void TestMainWindow::stalledRunSaysWhatToCheck_data() {
    QTest::addColumn<bool>("portOpen");
    QTest::addColumn<int>("width");  // of the window; 0: its own size
    QTest::newRow("no answer, default size") << true << 0;
    QTest::newRow("no answer, maximised on 1366x768") << true << 1366;
    QTest::newRow("Calibrate before Setting") << false << 0;
}

void TestMainWindow::stalledRunSaysWhatToCheck() {
    QFETCH(bool, portOpen);
    QFETCH(int, width);
    TMainForm& w = makeForm();
    if (width) w.resize(width, 700);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    if (portOpen) QVERIFY(w.engine().OpenPort(1, 9600));
    const QLabel* line = w.Panel2->StallLine;
    // Esc asks nothing outside a run.
    QTest::keyClick(&w, Qt::Key_Escape);
    QVERIFY(boxes_->texts(QStringLiteral("Question")).isEmpty());
    QTest::mouseClick(w.btnStart, Qt::LeftButton);
    QVERIFY(w.state().FCalibrating);
    QVERIFY(line->isHidden());
    clock_->advance(5000);
    QVERIFY(w.state().FCalibrating);
    QVERIFY(line->isVisible());
    QCOMPARE(line->text(), portOpen ? QStringLiteral("The supply does not answer on COM1 at 9600 baud, address %1: check the cable, "
                                                     "the address and the baud rate, or press Abort.")
                                          .arg(w.state().FAddress)
                                    : QStringLiteral("The port is not open: press Setting first."));
    // Read whole, clear of the boxes and buttons beside it, and of the logo.
    QVERIFY2(line->heightForWidth(line->width()) <= line->height(), qPrintable(QStringLiteral("%1 px wide").arg(line->width())));
    for (const QWidget* other : std::initializer_list<const QWidget*>{w.Panel2->Edit1, w.Panel2->EditSerial, w.Panel2->ProgressBar1,
                                                                    w.Panel2->Image3, w.btnResults, w.btnMeter})
        QVERIFY2(!line->geometry().intersects(other->geometry()), qPrintable(other->objectName()));
    const QString shots = qEnvironmentVariable("KORVEX_SCREENSHOT_DIR");
    if (!shots.isEmpty() && portOpen && !width) QVERIFY(w.grab().save(QDir(shots).filePath(QStringLiteral("stalled-run.png"))));
    // Esc asks "Abort ?" as the toolbar's Abort does (Alt+A is About's too): No goes on, Yes ends.
    boxes_->boxes.clear();
    boxes_->answers = {BoxAnswer::No, BoxAnswer::Yes};
    QTest::keyClick(&w, Qt::Key_Escape);
    QVERIFY(w.state().FCalibrating);
    QTest::keyClick(&w, Qt::Key_Escape);
    QCOMPARE(boxes_->texts(QStringLiteral("Question")), QStringList(2, QStringLiteral("Abort ?")));
    QVERIFY(!w.state().FCalibrating && w.state().FAborted);
    QVERIFY(line->isHidden());
}

void TestMainWindow::recordFaultShownOnce() {
    TMainForm& w = makeForm();
    const QString logText = w.state().FLogText;
    const int logBefore = w.Panel2->EventLog->count();
    w.ShowRecordFault(QStringLiteral("<Results> results are not recorded: disk full"), true);
    // Nothing modal inside the call: the box waits for the event loop.
    QVERIFY(boxes_->boxes.empty());
    w.ShowRecordFault(QStringLiteral("<Results> results are not recorded: disk full"), false);
    QTRY_COMPARE(boxes_->boxes.size(), std::size_t(1));
    QTest::qWait(20);
    QCOMPARE(boxes_->boxes.size(), std::size_t(1));
    QCOMPARE(boxes_->boxes[0].kind, QStringLiteral("Warning"));
    QCOMPARE(boxes_->boxes[0].text, QStringLiteral("Results are not recorded: disk full\nThe calibration is not affected."));
    QCOMPARE(w.Panel2->EventLog->count(), logBefore + 2);
    QCOMPARE(w.Panel2->EventLog->item(w.Panel2->EventLog->count() - 1)->text(),
             QStringLiteral("<Results> results are not recorded: disk full"));
    QCOMPARE(w.Panel2->StatusPanelText(0), QStringLiteral("<Results> results are not recorded: disk full"));
    QCOMPARE(w.state().FLogText, logText);
    w.ShowRecordFault(QStringLiteral("<Meter> the meter's calibration was due on 2026-03-08"), true);
    w.ShowRecordFault(QStringLiteral("<Results> results are not recorded: disk full"), true);
    QTRY_COMPARE(boxes_->boxes.size(), std::size_t(2));
    QCOMPARE(boxes_->boxes[1].text, QStringLiteral("The meter's calibration was due on 2026-03-08\nResults are not recorded: disk full\n"
                                                   "The calibration is not affected."));
}

void TestMainWindow::creation_data() {
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<int>("counter");
    QTest::addColumn<int>("interval");
    QTest::newRow("no Config.Ini") << QByteArray() << 1 << 500;
    QTest::newRow("counter, flag and period")
        << QByteArray("[Config]\r\nPowerID=41\r\nEquality=1\r\nInterval=800\r\n") << 42 << 800;
    QTest::newRow("period 0") << QByteArray("[Config]\r\nInterval=0\r\n") << 1 << 500;
}

void TestMainWindow::creation() {
    QFETCH(QByteArray, config);
    QFETCH(int, counter);
    QFETCH(int, interval);
    if (!config.isEmpty()) {
        QFile f(ini_);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(config);
    }

    TMainForm& w = makeForm();
    const TRunState& s = w.state();
    QCOMPARE(s.FUnitCounter, counter);
    QCOMPARE(w.engine().TimerReadVol().interval(), interval);
    QVERIFY(!w.engine().TimerReadVol().isActive());
    QVERIFY(!w.engine().TimerSend().isActive());
    QVERIFY(!w.engine().TimerShow().isActive());
    QCOMPARE(s.FModel, std::uint8_t(0));
    QCOMPARE(s.FTestCode, 0x020101u);
    QCOMPARE(s.FReadSerial, 0u);
    QCOMPARE(s.FMeterDelay, 1000);
    QCOMPARE(s.FStartTime, clock_->now());
    QCOMPARE(w.link().FRxCount(), 0);
    // Serial defaults set, port left closed.
    QCOMPARE(comm_->settings(), QStringLiteral("9600,n,8,1"));
    QCOMPARE(comm_->opens, 0);
    QVERIFY(QFileInfo(dir_->filePath(QStringLiteral("Temp"))).isDir());
    // Creation reads the file but never writes it.
    QCOMPARE(QFile::exists(ini_), !config.isEmpty());
    if (!config.isEmpty()) QCOMPARE(ReadAll(ini_), config);
}

void TestMainWindow::existingTempIsLeftAlone() {
    const QString temp = dir_->filePath(QStringLiteral("Temp"));
    QVERIFY(QDir().mkpath(temp));
    QFile keep(temp + QStringLiteral("/keep.txt"));
    QVERIFY(keep.open(QIODevice::WriteOnly));
    keep.write("x");
    keep.close();

    makeForm();
    QCOMPARE(ReadAll(temp + QStringLiteral("/keep.txt")), QByteArray("x"));
}

void TestMainWindow::versionLine() {
    QCOMPARE(VersionText(), QStringLiteral("1.1.0.19"));

    TMainForm& w = makeForm();
    const QString logText = w.state().FLogText;
    TFormAbout about(&w);
    QList<QDialog*> shown;
    MainFormWindows windows;
    // The box is made when first opened, and only then.
    int made = 0;
    windows.createLater = [&](MainFormWindows& later) {
        ++made;
        later.about = &about;
        later.aboutVersion = about.Label2;
    };
    windows.showModal = [&](QDialog& d) {
        shown << &d;
        // The line must be written before the box is up.
        return about.Label2->text() == QStringLiteral("Ver : 1.1.0.19") ? 1 : 0;
    };
    w.AttachWindows(windows);

    w.show();
    QCOMPARE(w.Panel2->StatusPanelText(0), QStringLiteral("Ver : 1.1.0.19"));
    QCOMPARE(w.state().FLogText, logText);

    QCOMPARE(made, 0);
    about.Label2->setText(QStringLiteral("Ver : 1.0.0.0"));
    QTest::mouseClick(w.SpeedButton2, Qt::LeftButton);
    QCOMPARE(shown, QList<QDialog*>{&about});
    QCOMPARE(about.Label2->text(), QStringLiteral("Ver : 1.1.0.19"));
    QTest::mouseClick(w.SpeedButton2, Qt::LeftButton);
    QCOMPARE(shown.size(), 2);
    QCOMPARE(made, 1);
}

namespace {
class ActivationCounter : public QObject {
public:
    int count = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::WindowActivate) ++count;
        return false;
    }
};
}  // namespace

void TestMainWindow::splashOnlyOnFirstActivation() {
    TMainForm& w = makeForm();
    ActivationCounter activations;
    w.installEventFilter(&activations);
    QDialog splash(&w), help(&w), about(&w);
    QLabel version;
    QList<QDialog*> shown;
    // Real modal windows that close themselves at once.
    auto runModal = [&shown](QDialog& d) {
        shown << &d;
        QTimer::singleShot(0, &d, &QDialog::accept);
        return d.exec();
    };
    MainFormWindows windows;
    windows.splash = &splash;
    windows.help = &help;
    windows.about = &about;
    windows.aboutVersion = &version;
    windows.showModal = runModal;
    w.AttachWindows(windows);
    QDialog box(&w);
    boxes_->whileShown = [&] {
        QTimer::singleShot(0, &box, &QDialog::accept);
        box.exec();
    };
    // Each modal window hands the activation back to the main window when it is gone.
    auto activateMain = [&] {
        const int before = activations.count;
        w.activateWindow();
        return QTest::qWaitFor([&] { return activations.count > before && w.isActiveWindow(); });
    };

    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QTRY_COMPARE(shown.size(), 1);
    QCOMPARE(shown.front(), &splash);

    QVERIFY(activateMain());
    QTest::mouseClick(w.SpeedButton1, Qt::LeftButton);
    QVERIFY(activateMain());
    QTest::mouseClick(w.SpeedButton2, Qt::LeftButton);
    QVERIFY(activateMain());
    w.Notice(QStringLiteral("Please open serial port !"));
    QVERIFY(activateMain());

    // Another window takes the focus and gives it back.
    QWidget other;
    other.show();
    other.activateWindow();
    QTRY_VERIFY(other.isActiveWindow());
    QVERIFY(activateMain());
    QCoreApplication::processEvents();

    QVERIFY(activations.count >= 6);
    QCOMPARE(shown, (QList<QDialog*>{&splash, &help, &about}));
    QCOMPARE(boxes_->boxes.size(), std::size_t(1));
}

void TestMainWindow::closeWritesConfigAfterClosingPort() {
    TMainForm& w = makeForm();
    w.show();
    QVERIFY(w.engine().OpenPort(1, 9600));
    QVERIFY(!QFile::exists(ini_));

    QTest::mouseClick(w.btnClose, Qt::LeftButton);

    QVERIFY(!w.isVisible());
    QCOMPARE(comm_->closes, 1);
    QVERIFY(!comm_->portOpen());
    QVERIFY2(!comm_->iniExistedAtClose, "Config.Ini was written before the port was closed");
    QCOMPARE(ReadAll(ini_), QByteArray("[Config]\r\nPowerID=1\r\nEquality=0\r\n"));
    QVERIFY(boxes_->boxes.empty());
}

void TestMainWindow::closeDuringRun_data() {
    QTest::addColumn<QString>("run");
    QTest::addColumn<bool>("closes");
    QTest::newRow("idle") << "idle" << true;
    QTest::newRow("calibration") << "calibration" << false;
    QTest::newRow("calibration aborted") << "aborted" << true;
    QTest::newRow("clearing") << "clearing" << true;
}

void TestMainWindow::closeDuringRun() {
    QFETCH(QString, run);
    QFETCH(bool, closes);

    TMainForm& w = makeForm();
    ClearingRun clearing(w.engine());
    w.setClearClick([&clearing] { clearing.btnClearClick(); });
    w.show();
    QVERIFY(w.engine().OpenPort(1, 9600));

    if (run == QLatin1String("calibration") || run == QLatin1String("aborted")) {
        QTest::mouseClick(w.btnStart, Qt::LeftButton);
        QVERIFY(w.state().FCalibrating);
        QVERIFY(w.btnCancel->isEnabled());
    }
    if (run == QLatin1String("aborted")) {
        QTest::mouseClick(w.btnCancel, Qt::LeftButton);
        QVERIFY(!w.state().FCalibrating);
    }
    if (run == QLatin1String("clearing")) {
        QTest::mouseClick(w.btnClear, Qt::LeftButton);
        QVERIFY(w.state().FClearing);
    }
    boxes_->boxes.clear();

    QTest::mouseClick(w.btnClose, Qt::LeftButton);

    QCOMPARE(!w.isVisible(), closes);
    QCOMPARE(QFile::exists(ini_), closes);
    QCOMPARE(comm_->portOpen(), !closes);
    if (closes) {
        QVERIFY(boxes_->boxes.empty());
    } else {
        QCOMPARE(boxes_->texts(QStringLiteral("Warning")),
                 QStringList{QStringLiteral("Sorry,please wait for a moment !\rif you abort ,please choose "
                                            "\"abort\" function !")});
        // The run goes on behind the refusal.
        QVERIFY(w.state().FCalibrating);
        QVERIFY(w.engine().TimerSend().isActive());
    }
}

void TestMainWindow::unwritableConfigKeepsWindowOpen() {
    // A directory in the file's place cannot be replaced by a file, whoever runs the test; put
    // there after the start, which read the counter.
    TMainForm& w = makeForm();
    QVERIFY(QDir().mkpath(ini_));
    w.show();
    QVERIFY(w.engine().OpenPort(1, 9600));
    w.engine().LoadConfig(StoredConfig{43, 500});

    QTest::mouseClick(w.btnClose, Qt::LeftButton);

    QVERIFY(w.isVisible());
    QCOMPARE(boxes_->texts(QStringLiteral("Error")),
             QStringList{QStringLiteral("Unable to write to %1").arg(QFileInfo(ini_).absoluteFilePath())});
    QCOMPARE(boxes_->boxes.size(), std::size_t(1));
    QVERIFY(!comm_->portOpen());
    QCOMPARE(w.state().FUnitCounter, 43);

    // Once the file can be written the same window closes and keeps the counter.
    QVERIFY(QDir().rmdir(ini_));
    QVERIFY(w.close());
    QCOMPARE(ReadAll(ini_), QByteArray("[Config]\r\nPowerID=43\r\nEquality=0\r\n"));
}

void TestMainWindow::counterSavedBeforeTheSupplyHasItsNumber_data() {
    QTest::addColumn<QString>("kind");
    QTest::newRow("Config.Ini as always") << "file";
    // Read as "counter 1", either would give this supply the bench's first number again.
    QTest::newRow("a folder in its place") << "folder";
    QTest::newRow("a FIFO in its place, which must not hang the start") << "fifo";
}

void TestMainWindow::counterSavedBeforeTheSupplyHasItsNumber() {
    QFETCH(QString, kind);
    QFile file(ini_);
    if (kind == "file") QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[Config]\r\nPowerID=700\r\nEquality=0\r\n") > 0);
    if (kind == "folder") QVERIFY(QDir().mkpath(ini_));
    if (kind == "fifo") QCOMPARE(::mkfifo(QFile::encodeName(ini_).constData(), 0644), 0);
    file.close();
    RunEngine& engine = makeForm().engine();
    QVERIFY(engine.OpenPort(1, 9600));
    // A supply without a number, which answers every frame.
    QByteArray iniWhenNumbered = "never numbered";
    comm_->setFrameHandler([&](const TPsuFrame& f) {
        if (f.command() == Cmd::SerialAndModel) iniWhenNumbered = ReadAll(ini_);
        TPsuFrame r = MakeFrame(f.address(), f.command());
        for (int i = 0; f.command() == Cmd::ReadSerial && i < 6; ++i) r.data(i) = ' ';
        SealFrame(r);
        clock_->scheduleIn(5, [&, r] { comm_->inject(r); });
    });
    engine.setReadVolHandler([&] { engine.AcceptReading(QStringLiteral("1"), 1000); });
    engine.StartCalibration();
    QVERIFY(clock_->advanceUntil([&] { return !engine.state().FCalibrating; }, 300000));

    const QStringList errors = boxes_->texts(QStringLiteral("Error"));
    if (kind == "file") {
        // On the disk before the supply has the number: a crash or a full disk from then on can
        // never make a later start give 700 again.
        QCOMPARE(iniWhenNumbered, QByteArray("[Config]\r\nPowerID=701\r\nEquality=0\r\n"));
        QCOMPARE(ReadAll(ini_), iniWhenNumbered);
        QCOMPARE(comm_->frames.size(), std::size_t(22));
        QVERIFY(errors.isEmpty());
    } else {
        QCOMPARE(iniWhenNumbered, QByteArray("never numbered"));
        QCOMPARE(comm_->frames.size(), std::size_t(3));
        QVERIFY2(errors.size() == 1 &&
                     errors[0].startsWith(QStringLiteral("This supply has no serial number and the unit counter cannot give one:\n") + ini_),
                 qPrintable(errors.join(QLatin1Char('|'))));
    }
}

void TestMainWindow::failedConversionInAClickIsShownAndEndsIt() {
    TMainForm& w = makeForm();
    FixedSettings settings;
    settings.baud = QStringLiteral("abc");
    w.setSettingClick([&] { btnSettingClick(w.engine(), settings); });
    w.show();

    QTest::mouseClick(w.btnSetting, Qt::LeftButton);

    QCOMPARE(boxes_->boxes.size(), std::size_t(1));
    QCOMPARE(boxes_->boxes.front().kind, QStringLiteral("Error"));
    QCOMPARE(boxes_->boxes.front().text, QStringLiteral("'abc' is not a valid integer value"));
    // The handler stopped at the conversion: no port, buttons left disabled.
    QCOMPARE(comm_->opens, 0);
    QVERIFY(!w.btnStart->isEnabled());
    QVERIFY(!w.btnClear->isEnabled());

    // The program goes on: the next click runs to its end.
    settings.baud = QStringLiteral("9600");
    QTest::mouseClick(w.btnSetting, Qt::LeftButton);
    QCOMPARE(boxes_->boxes.size(), std::size_t(1));
    QCOMPARE(comm_->opens, 1);
    QVERIFY(w.btnStart->isEnabled());
    QVERIFY(w.btnClear->isEnabled());
}

void TestMainWindow::restoreInstance() {
    TMainForm& w = makeForm();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.setWindowState(Qt::WindowMinimized);
    QVERIFY(w.isMinimized());

    w.WMRestoreInstance();
    QVERIFY(!w.isMinimized());
    QVERIFY(w.isVisible());
    QTRY_VERIFY(w.isActiveWindow());

    // Not minimised: brought forward over another window.
    QWidget other;
    other.show();
    other.activateWindow();
    QTRY_VERIFY(other.isActiveWindow());
    w.WMRestoreInstance();
    QTRY_VERIFY(w.isActiveWindow());
}

QTEST_MAIN(TestMainWindow)
#include "tst_MainWindow.moc"
