// Tests of the meter prompt: prompt texts and pictures, the accepted reading handed to the run,
// the abort path, an abort that comes before the tick, and the same road through the real windows.
#include "FakeClock.h"
#include "FakeSerialControl.h"
#include "FakeStation.h"
#include "MeterLink.h"
#include "LabelFit.h"
#include "MeterPrompt.h"
#include "ModalAnswerer.h"
#include "RecordingObserver.h"
#include "RecordingView.h"
#include "RunEngine.h"
#include "SerialLink.h"
#include "Unit3.h"
#include "ValueDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTest>

namespace {

// Stands in for the two windows: records what each was asked and answers as told.
class FakeDialogs : public MeterDialogs {
public:
    struct Info {
        QString text;
        int picture;
    };
    struct Ask {
        int step;
    };

    // Each window answered at once, as by an operator who answers before anything else happens.
    void ShowInformation(const QString& text, int picture, Closed closed) override
    {
        infos.push_back({text, picture});
        order << QStringLiteral("info");
        if (onInfo) onInfo();
        closed();
    }
    void AskValue(const ValueRequest& request, Answered answered) override
    {
        asks.push_back({request.step});
        requests.push_back(request);
        order << QStringLiteral("ask");
        ValueAnswer answer;
        if (result == TFormValue::ResultAccepted) {
            answer.milli = TFormValue::MilliValue(reading, static_cast<std::uint8_t>(request.step)).value_or(0);
            answer.typed = QString::number(reading);
        }
        answered(result, answer);
    }

    int result = TFormValue::ResultAccepted;
    double reading = 1.0;
    std::function<void()> onInfo;
    std::vector<Info> infos;
    std::vector<Ask> asks;
    std::vector<ValueRequest> requests;
    QStringList order;
};

struct Rig : FakeStation {
    const TRunState& s = engine.state();

    void wire(MeterPrompt& prompt)
    {
        engine.setReadVolHandler([&prompt] { prompt.TimerReadVolTimer(); });
    }

    // Runs a calibration up to the reply of a point-selection step: after the meter delay the
    // run stands at the meter step with the read timer started.
    void answerPointStep(int pointStep)
    {
        engine.StartCalibration();
        engine.StartStep(pointStep);
        clock.advance(400);
        link.FReply = s.FLastSent;
        engine.HandleReply();
        clock.advance(s.FMeterDelay + 1);
    }
};

QString Typed(QString text) { return text.replace(QLatin1Char('.'), QLocale::system().decimalPoint()); }

// A meter whose answers are given in advance, each a little after its question, as a real one
// answers while the value dialog is open; "!text" is a fault of the line.
class ScriptedMeter : public QObject, public MeterChannel {
public:
    QStringList answers;
    QList<QByteArray> asked;

    ScriptedMeter()
    {
        timer_.setSingleShot(true);
        timer_.setInterval(10);
        connect(&timer_, &QTimer::timeout, this, [this] {
            Answer a = std::move(pending_);
            pending_ = {};
            const QString next = answers.isEmpty() ? QStringLiteral("!the meter did not answer within 3 s") : answers.takeFirst();
            if (!a) return;
            if (next.startsWith(QLatin1Char('!')))
                a({}, next.mid(1));
            else
                a(next.toLatin1(), QString());
        });
    }
    void Query(const QByteArray& command, Answer answer) override
    {
        asked << command;
        pending_ = std::move(answer);
        timer_.start();
    }
    void Cancel() override
    {
        pending_ = {};
        timer_.stop();
    }

private:
    QTimer timer_;
    Answer pending_;
};

// The prompt's windows return at once: its answers come in while the test waits for them.
bool AllAnswered(const ModalAnswerer& answerer)
{
    return QTest::qWaitFor([&] { return answerer.done() && !QApplication::activeModalWidget(); }, 5000);
}

const char* const Tail = "Please select proper %1 range of the multimeter, then connect the two probes to the "
                         "output terminals of the power supply";

}  // namespace

class TestMeterPrompt : public QObject {
    Q_OBJECT
private slots:
    void promptForStep_data();
    void promptForStep();
    void acceptedReading_data();
    void acceptedReading();
    void abortAtStep14_data();
    void abortAtStep14();
    void abortBeforeTheTick_data();
    void abortBeforeTheTick();
    void realWindowsAccepted();
    void realWindowsAbort();
    void meterFillsTheDialog_data();
    void meterFillsTheDialog();
};

void TestMeterPrompt::promptForStep_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("model");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("picture");
    QTest::addColumn<QString>("unit");

    const QString v = QString::fromLatin1(Tail).arg(QStringLiteral("VOLTAGE"));
    const QString c = QString::fromLatin1(Tail).arg(QStringLiteral("CURRENT"));
    struct Row {
        int step;
        QString head;
        QStringList pieces;  // per model 0, 1, 2; empty for texts without a piece
        QString end;
        int picture;
        QString unit;
    };
    const std::vector<Row> rows{
        {5, "1.Calibrate the 1st VOLTAGE point. The output VOLTAGE is about 100mV. ", {}, v + ".", 1, "(V)"},
        {8, "2.Calibrate the 2nd VOLTAGE point. The output VOLTAGE is about 3.999V. ", {}, v + ". ", 2, "(V)"},
        {11, "3.Calibrate the 3rd VOLTAGE point. The output VOLTAGE is about 4.00V. ", {}, v + ".", 2, "(V)"},
        {14, "4.Calibrate the 4th VOLTAGE point. The output VOLTAGE is about ",
         {"19.0V(7211B)", "37.0V(7212B)", "73.0V(7213B)"}, v + ". ", 2, "(V)"},
        {17, "5.Calibrate the 5th VOLTAGE point. The output VOLTAGE is about ",
         {"19.0V(7211B)", "20.0V(7212B)", "20.0V(7213B)"}, v + ". ", 2, "(V)"},
        {20, "6.Calibrate the 1st CURRENT point. The output CURRENT is about 100mA. ", {}, c + ".", 3, "(A)"},
        {23, "7.Calibrate the 2nd CURRENT point. The output CURRENT is about ",
         {"5.1A(7211B)", "3.1A(7212B)", "1.6A(7213B)"}, c, 4, "(A)"},
    };
    for (const Row& row : rows) {
        for (int model : {0, 1, 2, 7}) {
            QString text = row.head;
            if (!row.pieces.isEmpty())
                text += (model <= 2 ? row.pieces[model] : QString()) + QStringLiteral(" . ");
            text += row.end;
            QTest::addRow("step %d model %d", row.step, model) << row.step << model << text << row.picture << row.unit;
        }
    }
    QTest::newRow("step without a prompt") << 6 << 0 << QString() << 4 << "(V)";
}

void TestMeterPrompt::promptForStep()
{
    QFETCH(int, step);
    QFETCH(int, model);
    QFETCH(QString, text);
    QFETCH(int, picture);
    QFETCH(QString, unit);

    Rig rig;
    FakeDialogs dialogs;
    MeterPrompt prompt(rig.engine, dialogs);
    rig.engine.SelectModel(static_cast<std::uint8_t>(model));
    rig.engine.StartCalibration();
    rig.engine.StartStep(step);

    prompt.TimerReadVolTimer();
    if (text.isEmpty()) {
        // A step that is no point's meter step asks nothing.
        QVERIFY(dialogs.infos.empty());
        QVERIFY(dialogs.asks.empty());
        return;
    }

    QCOMPARE(dialogs.infos.size(), std::size_t(1));
    QCOMPARE(dialogs.infos[0].text, text);
    QCOMPARE(dialogs.infos[0].picture, picture);
    QCOMPARE(dialogs.asks.size(), std::size_t(1));
    QCOMPARE(dialogs.asks[0].step, step);

    TFormValue valueDialog;
    valueDialog.PrepareForStep(RunMode::Calibration, static_cast<std::uint8_t>(dialogs.asks[0].step));
    QCOMPARE(valueDialog.Label2->text(), unit);

    // The whole prompt is readable in the information window, whatever the machine's faces.
    TForm3 form3;
    form3.SetPrompt(text);
    QCOMPARE(form3.Label1->text(), text);
    QVERIFY2(ShowsWholeText(*form3.Label1), qPrintable(form3.Label1->font().toString()));
    QVERIFY(form3.Label1->font().pixelSize() <= 17);
}

void TestMeterPrompt::acceptedReading_data()
{
    QTest::addColumn<int>("pointStep");
    QTest::addColumn<double>("reading");
    QTest::addColumn<int>("milli");
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("0.1 V at step 5") << 4 << 0.1 << 100 << QByteArray("\x64\x00\x00\x00", 4);
    QTest::newRow("3.999 V at step 8") << 7 << 3.999 << 3999 << QByteArray("\x9F\x0F\x00\x00", 4);
    QTest::newRow("0.0025 V halves to even") << 4 << 0.0025 << 2 << QByteArray("\x02\x00\x00\x00", 4);
    QTest::newRow("-1.5 V at step 17") << 16 << -1.5 << -1500 << QByteArray("\x24\xFA\xFF\xFF", 4);
    QTest::newRow("0.1 A at step 20") << 19 << 0.1 << 100 << QByteArray("\x64\x00", 2);
    QTest::newRow("-1.5 A at step 23") << 22 << -1.5 << -1500 << QByteArray("\x24\xFA", 2);
}

void TestMeterPrompt::acceptedReading()
{
    QFETCH(int, pointStep);
    QFETCH(double, reading);
    QFETCH(int, milli);
    QFETCH(QByteArray, data);

    Rig rig;
    FakeDialogs dialogs;
    dialogs.reading = reading;
    MeterPrompt prompt(rig.engine, dialogs);
    rig.wire(prompt);
    RecordingObserver watcher;
    rig.engine.AddObserver(&watcher);
    bool readTimerStoppedFirst = false;
    dialogs.onInfo = [&] { readTimerStoppedFirst = !rig.engine.TimerReadVol().isActive(); };

    rig.answerPointStep(pointStep);
    const int meterStep = pointStep + 1;
    QCOMPARE(int(rig.s.FStep), meterStep);
    QVERIFY(dialogs.order.isEmpty());
    rig.clock.advance(rig.engine.TimerReadVol().interval());

    QCOMPARE(dialogs.order, QStringList({"info", "ask"}));
    QVERIFY(readTimerStoppedFirst);
    QCOMPARE(rig.s.FVoltageMv, milli);
    QCOMPARE(rig.s.FCurrentMa, milli);
    QCOMPARE(rig.view.stepStates[meterStep], QStringLiteral("Succeed !"));
    QCOMPARE(int(rig.s.FStep), meterStep + 1);
    QVERIFY(rig.view.log.contains(QStringLiteral("Average voltage : %1mV").arg(milli)));
    QVERIFY(rig.view.log.contains(QStringLiteral("Average current : %1mA").arg(milli)));

    const TPsuFrame stored = rig.s.FCalList[static_cast<std::size_t>(meterStep)].Frame;
    for (int i = 0; i < data.size(); ++i) QCOMPARE(int(stored.data(i)), int(std::uint8_t(data[i])));
    QCOMPARE(stored.bytes[25], FrameChecksum(stored));
    // Told as typed, and as the frame carries it: a current's low 16 bits, unsigned.
    QCOMPARE(watcher.readings.size(), 1u);
    QCOMPARE(watcher.readings[0].meterStep, meterStep);
    QCOMPARE(watcher.readings[0].typed, QString::number(reading));
    QCOMPARE(watcher.readings[0].sent, data.size() == 2 ? std::int64_t(std::uint16_t(milli)) : std::int64_t(milli));

    // The set-point frame goes out on the next send tick, not before.
    QVERIFY(rig.engine.TimerSend().isActive());
    rig.clock.advance(399);
    QVERIFY(rig.s.FLastSent.bytes != stored.bytes);
    rig.clock.advance(1);
    QVERIFY(rig.s.FLastSent.bytes == stored.bytes);
    QVERIFY(rig.view.boxes.empty());
}

void TestMeterPrompt::abortAtStep14_data()
{
    QTest::addColumn<int>("result");
    QTest::newRow("abort button") << int(TFormValue::ResultAbort);
    QTest::newRow("close box") << 0;
}

void TestMeterPrompt::abortAtStep14()
{
    QFETCH(int, result);

    Rig rig;
    FakeDialogs dialogs;
    dialogs.result = result;
    MeterPrompt prompt(rig.engine, dialogs);
    rig.wire(prompt);
    RecordingObserver watcher(&rig.view);
    rig.engine.AddObserver(&watcher);
    rig.answerPointStep(13);
    rig.view.calls.clear();
    const TPsuFrame lastSent = rig.s.FLastSent;

    struct AtBox {
        bool calibrating, aborted, show, send, read;
        QString state14;
        bool has15;
    } atBox{};
    rig.view.onBox = [&](const RecordingView::Box&) {
        atBox = {rig.s.FCalibrating,
                 rig.s.FAborted,
                 rig.engine.TimerShow().isActive(),
                 rig.engine.TimerSend().isActive(),
                 rig.engine.TimerReadVol().isActive(),
                 rig.view.stepStates[14],
                 rig.view.stepStates.count(15) > 0};
    };
    QVERIFY(rig.engine.TimerShow().isActive());
    rig.clock.advance(rig.engine.TimerReadVol().interval());

    QCOMPARE(rig.view.boxes.size(), std::size_t(1));
    QCOMPARE(rig.view.boxes[0].kind, QStringLiteral("Notice"));
    QCOMPARE(rig.view.boxes[0].text, QStringLiteral("Calibrating abort !"));
    QVERIFY(!atBox.calibrating);
    QVERIFY(atBox.aborted);
    QVERIFY(!atBox.show && !atBox.send && !atBox.read);
    QCOMPARE(atBox.state14, QStringLiteral("Test abort"));
    QVERIFY(!atBox.has15);

    QCOMPARE(rig.view.calls, QStringList({"SetStepState(14,Test abort)", "SetStepState(15,Calibrating Abort !)"}));
    QCOMPARE(rig.view.progressLine, QStringLiteral("Calibrating Abort !"));
    QCOMPARE(rig.view.progressBar, 0);
    QCOMPARE(rig.view.resultLabel, QStringLiteral("Failed!"));
    QCOMPARE(int(rig.s.FStep), 14);
    QCOMPARE(rig.s.FVoltageMv, 0);
    QCOMPARE(watcher.ended.size(), 1u);
    QCOMPARE(int(watcher.ended[0].end), int(RunEnd::Aborted));
    QVERIFY(watcher.ended[0].aborted && !watcher.ended[0].calibrating);
    QCOMPARE(watcher.ended[0].boxesBefore, 0);
    QVERIFY(watcher.readings.empty());

    // Nothing more goes out once the run is over.
    rig.clock.advance(5000);
    QVERIFY(rig.s.FLastSent.bytes == lastSent.bytes);
    QCOMPARE(dialogs.infos.size(), std::size_t(1));
}

void TestMeterPrompt::abortBeforeTheTick_data()
{
    QTest::addColumn<bool>("insideDelay");
    QTest::newRow("inside the meter delay") << true;
    QTest::newRow("after the delay, before the tick") << false;
}

void TestMeterPrompt::abortBeforeTheTick()
{
    QFETCH(bool, insideDelay);

    Rig rig;
    FakeDialogs dialogs;
    MeterPrompt prompt(rig.engine, dialogs);
    rig.wire(prompt);
    if (insideDelay) rig.clock.scheduleIn(400 + 500, [&] { rig.engine.btnCancelClick(); });
    rig.answerPointStep(4);
    if (!insideDelay) rig.engine.btnCancelClick();
    QVERIFY(rig.s.FAborted);

    rig.clock.advance(5000);

    QVERIFY(dialogs.order.isEmpty());
    QVERIFY(!rig.engine.TimerReadVol().isActive());
    QCOMPARE(rig.view.boxTexts(QStringLiteral("Notice")), QStringList());
    QVERIFY(rig.view.stepStates.count(5) == 0);
}

void TestMeterPrompt::realWindowsAccepted()
{
    Rig rig;
    QWidget owner;
    TForm3 form3;
    WindowMeterDialogs windows(form3, &owner);
    MeterPrompt prompt(rig.engine, windows);
    rig.wire(prompt);
    rig.answerPointStep(7);

    ModalAnswerer answerer;
    QString shownText;
    int shownPicture = 0;
    int picturesOnScreen = 0;
    answerer.then([&](QWidget* w) {
        QCOMPARE(w, &form3);
        shownText = form3.Label1->text();
        shownPicture = form3.VisiblePicture();
        for (QLabel* image : {form3.Image1, form3.Image2, form3.Image3, form3.Image4})
            picturesOnScreen += image->isVisible() ? 1 : 0;
        // Only the picture shown has been decoded.
        QVERIFY(!form3.Image2->pixmap().isNull());
        QVERIFY(form3.Image1->pixmap().isNull() && form3.Image4->pixmap().isNull());
        // Closed by the close box rather than OK: the prompt still goes on to the value dialog.
        form3.close();
    });
    QString unit, initial;
    answerer.then([&](QWidget* w) {
        auto* dialog = qobject_cast<TFormValue*>(w);
        QVERIFY(dialog);
        unit = dialog->Label2->text();
        initial = dialog->Edit1->text();
        dialog->Edit1->setText(Typed("3.999"));
        dialog->Button1->click();
    });
    rig.clock.advance(rig.engine.TimerReadVol().interval());
    // The read timer's tick is over while the prompt waits for its operator: no loop of its own.
    QVERIFY(form3.isVisible());
    QCOMPARE(int(rig.s.FStep), 8);

    QVERIFY(AllAnswered(answerer));
    QCOMPARE(answerer.unexpected, 0);
    QCOMPARE(shownText, PromptText(*PointOfMeterStep(8), 0));
    QCOMPARE(shownPicture, 2);
    QCOMPARE(picturesOnScreen, 1);
    QCOMPARE(unit, QStringLiteral("(V)"));
    QCOMPARE(initial, QStringLiteral("0.0"));
    QCOMPARE(rig.s.FVoltageMv, 3999);
    QCOMPARE(int(rig.s.FStep), 9);
    // The value dialog belonged to its prompt only.
    QTRY_VERIFY(owner.findChildren<TFormValue*>().isEmpty());

    // The next point gets a fresh dialog that starts from "0.0" again.
    rig.engine.StartStep(10);
    rig.clock.advance(400);
    rig.link.FReply = rig.s.FLastSent;
    rig.engine.HandleReply();
    rig.clock.advance(rig.s.FMeterDelay + 1);
    answerer.then([&](QWidget*) { form3.Button1->click(); });
    answerer.then([&](QWidget* w) {
        auto* dialog = qobject_cast<TFormValue*>(w);
        QVERIFY(dialog);
        initial = dialog->Edit1->text();
        dialog->Edit1->setText(Typed("4.001"));
        QTest::keyClick(dialog->Edit1, Qt::Key_Return);
    });
    rig.clock.advance(rig.engine.TimerReadVol().interval());
    QVERIFY(AllAnswered(answerer));
    QCOMPARE(answerer.unexpected, 0);
    QCOMPARE(initial, QStringLiteral("0.0"));
    QCOMPARE(rig.s.FVoltageMv, 4001);
    QCOMPARE(int(rig.s.FStep), 12);
}

void TestMeterPrompt::realWindowsAbort()
{
    Rig rig;
    QWidget owner;
    TForm3 form3;
    WindowMeterDialogs windows(form3, &owner);
    MeterPrompt prompt(rig.engine, windows);
    rig.wire(prompt);
    rig.engine.SelectModel(1);
    rig.answerPointStep(22);

    ModalAnswerer answerer;
    int shownPicture = 0;
    QString shownText;
    answerer.then([&](QWidget*) {
        shownText = form3.Label1->text();
        shownPicture = form3.VisiblePicture();
        form3.Button1->click();
    });
    QString unit;
    answerer.then([&](QWidget* w) {
        auto* dialog = qobject_cast<TFormValue*>(w);
        QVERIFY(dialog);
        unit = dialog->Label2->text();
        dialog->Button2->click();
    });
    rig.clock.advance(rig.engine.TimerReadVol().interval());

    QVERIFY(AllAnswered(answerer));
    QCOMPARE(answerer.unexpected, 0);
    QVERIFY(shownText.contains(QStringLiteral("about 3.1A(7212B) . ")));
    QCOMPARE(shownPicture, 4);
    QCOMPARE(unit, QStringLiteral("(A)"));
    QCOMPARE(rig.view.stepStates[23], QStringLiteral("Test abort"));
    QCOMPARE(rig.view.stepStates[24], QStringLiteral("Calibrating Abort !"));
    QCOMPARE(rig.view.boxTexts(QStringLiteral("Notice")), QStringList({"Calibrating abort !"}));
    QVERIFY(rig.s.FAborted);
    QVERIFY(!rig.s.FCalibrating);
    QVERIFY(owner.findChildren<TFormValue*>().isEmpty());
}

void TestMeterPrompt::meterFillsTheDialog_data()
{
    QTest::addColumn<int>("pointStep");
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QString>("note");       // how the dialog's meter line begins, or a word of it
    QTest::addColumn<QString>("entry");      // the entry once the meter has been read
    QTest::addColumn<QString>("typed");      // what the operator types then; empty: presses OK
    QTest::addColumn<int>("milli");
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<double>("resolution");  // the last digit of the meter's answer, or of what was typed
    const QByteArray volts = "Meas:Volt:DC?\n";
    const QByteArray amps = "MEAS:CURR:DC?";
    QTest::newRow("voltage point, OK only") << 7 << QStringList{"+3.99880E+00", "+3.99881E+00"} << "Meter: 2 readings"
                                            << "3.99881" << "" << 3999 << volts << 1e-5;
    QTest::newRow("current point asks for a current") << 19 << QStringList{"+1.00400E-01", "+1.00400E-01"}
                                                      << "Meter: 2 readings" << "0.1004" << "" << 100 << amps << 1e-6;
    QTest::newRow("overload: typed instead") << 7 << QStringList{"+9.9E37"} << "overload" << "" << "3.999" << 3999 << volts << 1e-3;
    QTest::newRow("garbled answer: typed instead") << 7 << QStringList{"#?!"} << "not a reading" << "" << "3.999" << 3999 << volts << 1e-3;
    QTest::newRow("no answer: typed instead") << 19 << QStringList{"!the meter did not answer within 3 s"} << "did not answer"
                                              << "" << "0.1" << 100 << amps << 0.1;
    QTest::newRow("line lost: typed instead") << 7 << QStringList{"!the connection to the meter was lost: gone"} << "lost"
                                              << "" << "3.999" << 3999 << volts << 1e-3;
    QTest::newRow("reading typed over") << 7 << QStringList{"+3.99880E+00", "+3.99880E+00"} << "Meter: " << "3.9988"
                                        << "3.997" << 3997 << volts << 1e-3;
}

void TestMeterPrompt::meterFillsTheDialog()
{
    QFETCH(int, pointStep);
    QFETCH(QStringList, answers);
    QFETCH(QString, note);
    QFETCH(QString, entry);
    QFETCH(QString, typed);
    QFETCH(int, milli);
    QFETCH(QByteArray, query);
    QFETCH(double, resolution);
    Rig rig;
    QWidget owner;
    TForm3 form3;
    WindowMeterDialogs windows(form3, &owner);
    ScriptedMeter meter;
    meter.answers = answers;
    MeterSettings settings;
    settings.connection = MeterSettings::Connection::Tcp;
    settings.plausibilityShare = 0.10;
    windows.ApplyMeter(settings, QString(), &meter);
    MeterPrompt prompt(rig.engine, windows);
    rig.wire(prompt);
    RecordingObserver watcher;
    rig.engine.AddObserver(&watcher);
    rig.engine.SelectModel(1);
    rig.answerPointStep(pointStep);

    ModalAnswerer answerer;
    // The wiring picture still comes first: the probes are moved by hand.
    answerer.then([&](QWidget* w) {
        QCOMPARE(w, &form3);
        form3.Button1->click();
    });
    QString shownNote, shownEntry;
    answerer.then([&](QWidget* w) {
        auto* dialog = qobject_cast<TFormValue*>(w);
        QVERIFY(dialog);
        QVERIFY(QTest::qWaitFor([&] { return dialog->Label3->text() != QStringLiteral("Reading the meter ..."); }, 3000));
        shownNote = dialog->Label3->text();
        shownEntry = dialog->Edit1->text();
        if (!typed.isEmpty()) {
            dialog->Edit1->selectAll();
            QTest::keyClicks(dialog->Edit1, Typed(typed));
        }
        QTest::keyClick(dialog->Edit1, Qt::Key_Return);
    });
    rig.clock.advance(rig.engine.TimerReadVol().interval());

    QVERIFY(AllAnswered(answerer));
    QCOMPARE(answerer.unexpected, 0);
    QVERIFY2(shownNote.contains(note), qPrintable(shownNote));
    QCOMPARE(shownEntry, entry.isEmpty() ? QString() : Typed(entry));
    QVERIFY(!meter.asked.isEmpty());
    for (const QByteArray& q : meter.asked) QCOMPARE(q, query);
    // Nothing is made up: the supply gets the meter's reading or what the operator typed.
    QCOMPARE(rig.s.FVoltageMv, milli);
    QCOMPARE(int(rig.s.FStep), pointStep + 2);
    QCOMPARE(watcher.readings.size(), 1u);
    QCOMPARE(watcher.readings[0].source, typed.isEmpty() ? ReadingSource::Meter : ReadingSource::Typed);
    // What its uncertainty is worked out from: the meter's readings, or the one typed.
    QCOMPARE(watcher.readings[0].quality.reads, typed.isEmpty() ? int(answers.size()) : 1);
    QCOMPARE(watcher.readings[0].quality.resolution, resolution);
}

QTEST_MAIN(TestMeterPrompt)
#include "tst_MeterPrompt.moc"
