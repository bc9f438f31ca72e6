// Tests of the value dialog: the wording per step, the entry check with its refusals, Enter and Abort.
#include "LabelFit.h"
#include "ModalAnswerer.h"
#include "ValueDlg.h"

#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTest>

namespace {

// Readings are typed the way the operator's platform writes numbers.
QString Typed(QString text)
{
    return text.replace(QLatin1Char('.'), QLocale::system().decimalPoint());
}

}  // namespace

class TestValueDlg : public QObject {
    Q_OBJECT
private slots:
    void wording_data();
    void wording();
    void entryCheck_data();
    void entryCheck();
    void plausibility_data();
    void plausibility();
    void meterLine_data();
    void meterLine();
    void enterActsAsOk_data();
    void enterActsAsOk();
    void unusualNotice_data();
    void unusualNotice();
    void abortButton();
};

void TestValueDlg::wording_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<bool>("current");
    QTest::addColumn<QString>("pointLine");  // for a 7212B; empty: none
    const char* levels[] = {"100mV", "3.999V", "4.00V", "37.0V", "20.0V", "100mA", "3.1A"};
    const int steps[] = {5, 8, 11, 14, 17, 20, 23};
    for (int point = 0; point < 7; ++point) {
        const bool current = steps[point] > 18;
        QTest::addRow("meter step %d", steps[point]) << steps[point] << current
                                                     << QStringLiteral("Point %1 of 7: about %2, type %3")
                                                            .arg(point + 1)
                                                            .arg(QLatin1String(levels[point]), current ? "amperes" : "volts");
    }
    // Every step of a point takes its point's quantity; steps of no point read volts.
    QTest::newRow("value step of the last voltage point") << 18 << false << "Point 5 of 7: about 20.0V, type volts";
    QTest::newRow("selection step of the first current point") << 19 << true << "Point 6 of 7: about 100mA, type amperes";
    QTest::newRow("value step of the last current point") << 24 << true << "Point 7 of 7: about 3.1A, type amperes";
    QTest::newRow("past the points") << 25 << false << "";
}

void TestValueDlg::wording()
{
    QFETCH(int, step);
    QFETCH(bool, current);
    QFETCH(QString, pointLine);
    TFormValue dialog;
    QCOMPARE(dialog.Edit1->text(), QStringLiteral("0.0"));
    dialog.PrepareForStep(RunMode::Calibration, static_cast<std::uint8_t>(step));
    const int plainHeight = dialog.height();
    dialog.ShowPointLine(1);
    QCOMPARE(dialog.Label1->text(), current ? QStringLiteral("Please measure PS current value and input")
                                            : QStringLiteral("Please measure PS voltage value and input"));
    QCOMPARE(dialog.Label2->text(), current ? QStringLiteral("(A)") : QStringLiteral("(V)"));
    // The point line is a line of its own: the design's lines stay as they are, the dialog grows.
    QCOMPARE(!dialog.Label5->isHidden(), !pointLine.isEmpty());
    if (!pointLine.isEmpty()) {
        QCOMPARE(dialog.Label5->text(), pointLine);
        QVERIFY(dialog.height() > plainHeight);
        QVERIFY(dialog.Button1->geometry().top() > dialog.Label5->geometry().bottom());
        QVERIFY(dialog.Label5->geometry().top() > dialog.Edit1->geometry().bottom());
    }
    QVERIFY2(CutLabels(dialog).isEmpty(), qPrintable(CutLabels(dialog).join(QStringLiteral(" | "))));

    // Assistive technology reads the entry box by the request line above it.
    QAccessibleInterface* edit = QAccessible::queryAccessibleInterface(dialog.Edit1);
    QVERIFY(edit);
    QCOMPARE(edit->role(), QAccessible::EditableText);
    QCOMPARE(edit->text(QAccessible::Name), dialog.Label1->text());
    QCOMPARE(edit->text(QAccessible::Value), QStringLiteral("0.0"));
    QCOMPARE(QAccessible::queryAccessibleInterface(&dialog)->role(), QAccessible::Dialog);
    // A meter's line comes under the point line.
    dialog.StartMeterReading();
    QVERIFY(dialog.Label3->geometry().top() > dialog.Label5->geometry().bottom() || pointLine.isEmpty());
    QVERIFY(dialog.Button1->geometry().top() > dialog.Label3->geometry().bottom());
}

void TestValueDlg::entryCheck_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("milli");

    QTest::newRow("zero") << 5 << "0" << false << 0;
    QTest::newRow("zero with decimals") << 5 << "0.0" << false << 0;
    QTest::newRow("letters") << 5 << "abc" << false << 0;
    QTest::newRow("empty") << 5 << "" << false << 0;
    QTest::newRow("nan") << 5 << "nan" << false << 0;
    QTest::newRow("inf") << 8 << "inf" << false << 0;
    QTest::newRow("minus inf") << 8 << "-inf" << false << 0;
    QTest::newRow("1e12 volts") << 8 << "1e12" << false << 0;
    QTest::newRow("0.1 V") << 5 << "0.1" << true << 100;
    QTest::newRow("-1.5 V") << 8 << "-1.5" << true << -1500;
    QTest::newRow("2.5 V") << 11 << "2.5" << true << 2500;
    QTest::newRow("0.0025 V halves to even") << 5 << "0.0025" << true << 2;
    QTest::newRow("largest millivolt value") << 14 << "2147483.647" << true << 2147483647;
    QTest::newRow("millivolts beyond 32 bits") << 14 << "2147483.648" << false << 0;
    QTest::newRow("0.1 A") << 20 << "0.1" << true << 100;
    QTest::newRow("65.535 A fits 16 bits") << 23 << "65.535" << true << 65535;
    QTest::newRow("65.536 A does not") << 23 << "65.536" << false << 0;
    QTest::newRow("-32.768 A fits") << 23 << "-32.768" << true << -32768;
    QTest::newRow("-32.769 A does not") << 23 << "-32.769" << false << 0;
    QTest::newRow("100 A refused at a current point") << 20 << "100" << false << 0;
    QTest::newRow("100 V taken at a voltage point") << 17 << "100" << true << 100000;
}

void TestValueDlg::entryCheck()
{
    QFETCH(int, step);
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(int, milli);

    TFormValue dialog;
    dialog.PrepareForStep(RunMode::Calibration, static_cast<std::uint8_t>(step));
    dialog.show();
    const QString typed = Typed(text);
    dialog.Edit1->setText(typed);

    ModalAnswerer answerer;
    if (!accepted) answerer.pressBox(QMessageBox::Ok);
    dialog.Button1->click();

    QTRY_VERIFY(answerer.done() && !QApplication::activeModalWidget());
    QCOMPARE(answerer.unexpected, 0);
    if (accepted) {
        QVERIFY(answerer.boxes.empty());
        QCOMPARE(dialog.result(), TFormValue::ResultAccepted);
        QVERIFY(!dialog.isVisible());
        const auto value = TFormValue::MilliValue(dialog.FValue, static_cast<std::uint8_t>(step));
        QVERIFY(value.has_value());
        QCOMPARE(*value, milli);
    } else {
        QCOMPARE(answerer.boxes.size(), std::size_t(1));
        QCOMPARE(answerer.boxes[0].text, QStringLiteral("Please input valid value !"));
        QCOMPARE(answerer.boxes[0].title, QStringLiteral("Korvex Power Calibrator"));
        QCOMPARE(answerer.boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), 0);
        QCOMPARE(dialog.Edit1->text(), typed);
    }
}

void TestValueDlg::plausibility_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("share");
    QTest::addColumn<QString>("expected");  // the level the question names; empty: no question
    QTest::addColumn<QString>("howTyped");  // how the question says the level is typed
    QTest::addColumn<bool>("useAnyway");
    QTest::newRow("in range") << 8 << "3.9988" << 0.10 << "" << "" << false;
    QTest::newRow("meter on mV: 1000 times too large, No") << 5 << "100.3" << 0.10 << "100mV" << "volts: 100 mV is 0.1" << false;
    QTest::newRow("1000 times too large, used anyway") << 5 << "100.3" << 0.10 << "100mV" << "volts: 100 mV is 0.1" << true;
    QTest::newRow("decimal point missed") << 14 << "370125" << 0.10 << "37.0V(7212B)" << "volts: 37.0 V is 37" << false;
    QTest::newRow("wrong sign") << 11 << "-4.0012" << 0.10 << "4.00V" << "volts: 4.00 V is 4" << false;
    QTest::newRow("current point read as a voltage") << 20 << "4.0012" << 0.10 << "100mA" << "amperes: 100 mA is 0.1" << false;
    QTest::newRow("check off") << 5 << "100.3" << 0.0 << "" << "" << false;
    QTest::newRow("a wider share lets it pass") << 11 << "4.3" << 0.10 << "" << "" << false;
}

void TestValueDlg::plausibility()
{
    QFETCH(int, step);
    QFETCH(QString, text);
    QFETCH(double, share);
    QFETCH(QString, expected);
    QFETCH(QString, howTyped);
    QFETCH(bool, useAnyway);
    TFormValue dialog;
    dialog.PrepareForStep(RunMode::Calibration, static_cast<std::uint8_t>(step));
    dialog.SetPlausibility(1, share);
    dialog.show();
    const QString typed = Typed(text);
    dialog.Edit1->setText(typed);

    ModalAnswerer answerer;
    if (!expected.isEmpty()) answerer.pressBox(useAnyway ? QMessageBox::Yes : QMessageBox::No);
    dialog.Button1->click();
    QTRY_VERIFY(answerer.done());
    QCOMPARE(answerer.unexpected, 0);
    const bool accepted = expected.isEmpty() || useAnyway;
    QCOMPARE(dialog.result(), accepted ? TFormValue::ResultAccepted : 0);
    if (!expected.isEmpty()) {
        QCOMPARE(answerer.boxes.size(), std::size_t(1));
        const QString number = howTyped.section(QLatin1Char(' '), -1);
        QCOMPARE(answerer.boxes[0].text, QStringLiteral("The value %1 is far from the expected %2. The entry is in %3. Use it anyway?")
                                             .arg(typed, expected, howTyped.section(QLatin1Char(' '), 0, -2) + QLatin1Char(' ') + Typed(number)));
        // Going ahead takes a deliberate Yes: Enter answers No.
        QCOMPARE(answerer.boxes[0].defaultButton, QMessageBox::No);
    }
    // No returns to the dialog with the text as typed.
    if (!accepted) {
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.Edit1->text(), typed);
    }
}

void TestValueDlg::meterLine_data()
{
    QTest::addColumn<QString>("typedMeanwhile");
    QTest::addColumn<QString>("meterValue");  // empty: no reading
    QTest::addColumn<QString>("entry");
    QTest::addColumn<bool>("fromMeter");
    QTest::newRow("reading filled in") << "" << "3.9988" << "3.9988" << true;
    QTest::newRow("no reading: left for the operator") << "" << "" << "" << false;
    QTest::newRow("typed while the meter was read: kept") << "4.1" << "3.9988" << "4.1" << false;
}

void TestValueDlg::meterLine()
{
    QFETCH(QString, typedMeanwhile);
    QFETCH(QString, meterValue);
    QFETCH(QString, entry);
    QFETCH(bool, fromMeter);
    TFormValue plain;
    TFormValue dialog;
    dialog.PrepareForStep(RunMode::Calibration, 8);
    dialog.StartMeterReading();
    // One line taller than the dialog without a meter; nothing of it cut.
    QCOMPARE(dialog.width(), plain.width());
    QVERIFY(dialog.height() > plain.height());
    QVERIFY(dialog.Edit1->text().isEmpty());
    QCOMPARE(dialog.Label3->text(), QStringLiteral("Reading the meter ..."));
    if (!typedMeanwhile.isEmpty()) QTest::keyClicks(dialog.Edit1, typedMeanwhile);
    dialog.SetMeterValue(meterValue, QStringLiteral("Meter: 2 readings"));
    QCOMPARE(dialog.Edit1->text(), entry);
    QVERIFY(dialog.Label3->text().startsWith(QStringLiteral("Meter: 2 readings")));
    QCOMPARE(dialog.ValueFromMeter(), fromMeter);
    QVERIFY(!dialog.Button1->geometry().intersects(dialog.Label3->geometry()));
    QVERIFY2(CutLabels(dialog).isEmpty(), qPrintable(CutLabels(dialog).join(QStringLiteral(" | "))));
    // Typing over the meter's value makes it the operator's own.
    if (fromMeter) {
        QTest::keyClicks(dialog.Edit1, QStringLiteral("4"));
        QVERIFY(!dialog.ValueFromMeter());
    }
}

void TestValueDlg::enterActsAsOk_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("reading") << "2.5" << true;
    QTest::newRow("zero") << "0" << false;
}

void TestValueDlg::enterActsAsOk()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);

    TFormValue dialog;
    dialog.PrepareForStep(RunMode::Calibration, 8);
    ModalAnswerer answerer;
    answerer.then([&](QWidget* w) {
        QCOMPARE(w, &dialog);
        dialog.Edit1->setText(Typed(text));
        QTest::keyClick(dialog.Edit1, Qt::Key_Return);
    });
    if (!accepted) {
        answerer.pressBox(QMessageBox::Ok);
        // The check ran once: one refusal box, then the dialog is still there to take Abort.
        answerer.then([&](QWidget* w) {
            QCOMPARE(w, &dialog);
            QCOMPARE(answerer.boxes.size(), std::size_t(1));
            dialog.Button2->click();
        });
    }

    const int result = dialog.exec();

    QCOMPARE(answerer.unexpected, 0);
    QVERIFY(answerer.done());
    if (accepted) {
        QCOMPARE(result, TFormValue::ResultAccepted);
        QCOMPARE(dialog.FValue, 2.5);
        QVERIFY(answerer.boxes.empty());
    } else {
        QCOMPARE(result, TFormValue::ResultAbort);
        QCOMPARE(answerer.boxes.size(), std::size_t(1));
    }
}

void TestValueDlg::unusualNotice_data()
{
    QTest::addColumn<QString>("meterValue");  // empty: typed
    QTest::addColumn<QStringList>("enters");  // the entry at each Enter; the last one is taken
    QTest::addColumn<double>("plausibility");
    QTest::addColumn<QStringList>("notices");  // what the notice line said after each Enter
    QTest::newRow("typed, usual: the first Enter takes it") << "" << QStringList{"3.9988"} << 0.0 << QStringList{""};
    QTest::newRow("typed, unusual: shown at the first Enter, the second takes it")
        << "" << QStringList{"4.25", "4.25"} << 0.0 << QStringList{"far 4.25", "far 4.25"};
    QTest::newRow("changed after the notice: asked again")
        << "" << QStringList{"4.25", "4.3", "4.3"} << 0.0 << QStringList{"far 4.25", "far 4.3", "far 4.3"};
    QTest::newRow("changed to a usual value: taken at once") << "" << QStringList{"4.25", "3.9988"} << 0.0 << QStringList{"far 4.25", ""};
    QTest::newRow("the meter's unusual value: beside it, the first Enter takes it")
        << "4.25" << QStringList{"4.25"} << 0.0 << QStringList{"far 4.25"};
    QTest::newRow("far off and used anyway: no notice as well") << "" << QStringList{"40.0"} << 0.10 << QStringList{""};
}

void TestValueDlg::unusualNotice()
{
    QFETCH(QString, meterValue);
    QFETCH(QStringList, enters);
    QFETCH(double, plausibility);
    QFETCH(QStringList, notices);

    TFormValue dialog;
    dialog.PrepareForStep(RunMode::Calibration, 8);
    dialog.SetPlausibility(0, plausibility);
    dialog.SetUnusualCheck([](double value, const QString& shown) {
        return value > 4.1 ? QStringLiteral("far ") + shown : QString();
    });
    const int plainHeight = dialog.height();
    if (!meterValue.isEmpty()) {
        dialog.StartMeterReading();
        dialog.SetMeterValue(Typed(meterValue), QStringLiteral("Meter: 2 readings"));
        QCOMPARE(dialog.Label4->text(), QStringLiteral("far ") + Typed(meterValue));
        QVERIFY(dialog.Label4->geometry().top() > dialog.Label3->geometry().bottom());
    }
    ModalAnswerer answerer;
    answerer.then([&](QWidget*) {
        for (int i = 0; i < enters.size(); ++i) {
            if (dialog.Edit1->text() != Typed(enters[i])) dialog.Edit1->setText(Typed(enters[i]));
            QTest::keyClick(dialog.Edit1, Qt::Key_Return);
            const QString expected = notices[i].isEmpty() ? QString() : QStringLiteral("far ") + Typed(notices[i].mid(4));
            QCOMPARE(dialog.Label4->isHidden() ? QString() : dialog.Label4->text(), expected);
            // Every Enter but the last leaves the dialog open for another look; the last one closes
            // it, after the question where there is one.
            QCOMPARE(dialog.isVisible(), i + 1 < enters.size() || plausibility > 0.0);
        }
    });
    if (plausibility > 0.0) answerer.pressBox(QMessageBox::Yes);
    QCOMPARE(dialog.exec(), TFormValue::ResultAccepted);
    QVERIFY(answerer.done());
    QCOMPARE(answerer.unexpected, 0);
    QCOMPARE(dialog.FValue, TFormValue::EntryValue(Typed(enters.last())));
    // The notice has a line of its own: the buttons moved below it, nothing of it cut.
    if (!dialog.Label4->isHidden()) {
        QVERIFY(dialog.height() > plainHeight);
        QVERIFY(dialog.Button1->geometry().top() > dialog.Label4->geometry().bottom());
        QVERIFY2(CutLabels(dialog).isEmpty(), qPrintable(CutLabels(dialog).join(QStringLiteral(" | "))));
    }
}

void TestValueDlg::abortButton()
{
    TFormValue dialog;
    ModalAnswerer answerer;
    answerer.then([&](QWidget*) {
        dialog.Edit1->setText(Typed("3.999"));
        dialog.Button2->click();
    });
    QCOMPARE(dialog.exec(), TFormValue::ResultAbort);
    QVERIFY(answerer.boxes.empty());
    QCOMPARE(answerer.unexpected, 0);
}

QTEST_MAIN(TestValueDlg)
#include "tst_ValueDlg.moc"
