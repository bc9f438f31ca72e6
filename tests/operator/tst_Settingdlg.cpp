// Tests of the settings dialog: its starting state, the address rule, typed list text and closing.
#include "Settingdlg.h"
#include "WidgetInput.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

class tst_Settingdlg : public QObject {
    Q_OBJECT
private slots:
    void startingState();
    void address_data();
    void address();
    void typedListText_data();
    void typedListText();
    void keysDoNotClose_data();
    void keysDoNotClose();
    void closeBoxCancelsAndKeepsText();
};

void tst_Settingdlg::startingState()
{
    TFormSetting form;
    QCOMPARE(form.windowTitle(), QStringLiteral("Settings"));
    QCOMPARE(form.PortIndex(), 0);
    QCOMPARE(form.PortText(), QStringLiteral("COM1"));
    QCOMPARE(form.cbPort1->count(), 8);
    QCOMPARE(form.cbPort1->itemText(7), QStringLiteral("COM8"));
    QCOMPARE(form.ModelIndex(), 1);
    QCOMPARE(form.cbSerial->currentText(), QStringLiteral("Power 7212B"));
    QCOMPARE(form.AddressValue(), 0);
    QCOMPARE(form.Addr->minimum(), 0);
    QCOMPARE(form.Addr->maximum(), 31);
    QCOMPARE(form.BaudText(), QStringLiteral("9600"));
    QCOMPARE(form.TemperatureText(), QStringLiteral("25±5"));
    QCOMPARE(form.HumidityText(), QStringLiteral("<70%"));
    QVERIFY(!form.Tempreature->isEnabled());
    QVERIFY(!form.Humidity->isEnabled());
    QCOMPARE(form.OperatorText(), QString());

    QTest::keyClicks(form.Power_Testor, QStringLiteral("Operator7x"));
    QCOMPARE(form.OperatorText(), QStringLiteral("Operator"));

    QStringList captions;
    for (QLabel* l : form.findChildren<QLabel*>()) captions << l->text();
    for (const char* c : {"Serail Port :", "Model :", "Adress :", "Baudrate :", "Temp (°C) :", "RH :", "User :", "Note :",
                          "The PowerSupply must be set to the same adress and baudrate with the computer."})
        QVERIFY2(captions.contains(QString::fromUtf8(c)), c);

    for (QWidget* w : {static_cast<QWidget*>(form.cbPort1->lineEdit()), static_cast<QWidget*>(form.cbSerial->lineEdit()),
                       static_cast<QWidget*>(form.Power_Testor)})
        QVERIFY(!w->testAttribute(Qt::WA_InputMethodEnabled));
}

void tst_Settingdlg::address_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("whileTyping");
    QTest::addColumn<int>("value");
    QTest::newRow("in range") << "12" << "12" << 12;
    QTest::newRow("above range") << "45" << "45" << 31;
    QTest::newRow("below range") << "-3" << "-3" << 0;
    QTest::newRow("sign") << "+7" << "+7" << 7;
    QTest::newRow("decimal") << "1.5" << "1.5" << 0;
    QTest::newRow("letters refused") << "a7b" << "7" << 7;
    QTest::newRow("empty") << "" << "" << 0;
    QTest::newRow("too long for an integer") << "99999999999" << "99999999999" << 0;
}

void tst_Settingdlg::address()
{
    QFETCH(QString, typed);
    QFETCH(QString, whileTyping);
    QFETCH(int, value);

    TFormSetting form;
    form.Addr->setValue(4);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QLineEdit* edit = form.Addr->findChild<QLineEdit*>();
    QVERIFY(edit);
    TypeInto(edit, typed);
    QCOMPARE(edit->text(), whileTyping);

    QTest::mouseClick(form.btnOK, Qt::LeftButton);
    QCOMPARE(form.result(), int(QDialog::Accepted));
    QCOMPARE(form.AddressValue(), value);
    QCOMPARE(form.Addr->text(), QString::number(value));
}

void tst_Settingdlg::typedListText_data()
{
    QTest::addColumn<bool>("model");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("then");
    QTest::addColumn<int>("index");
    QTest::newRow("port not in the list") << false << "COM9" << "" << -1;
    QTest::newRow("port equal to an item") << false << "COM2" << "" << -1;
    QTest::newRow("port equal to an item, Enter") << false << "COM2" << "enter" << -1;
    QTest::newRow("port equal to an item, focus leaves") << false << "COM3" << "leave" << -1;
    QTest::newRow("port typed, then chosen by key") << false << "COM9" << "down" << 1;
    QTest::newRow("port typed, then the same item chosen") << false << "COM9" << "pick0" << 0;
    QTest::newRow("model equal to an item") << true << "Power 7211B" << "" << -1;
    QTest::newRow("model equal to an item, focus leaves") << true << "Power 7213B" << "leave" << -1;
    QTest::newRow("model typed, then chosen") << true << "7212" << "pick2" << 2;
}

void tst_Settingdlg::typedListText()
{
    QFETCH(bool, model);
    QFETCH(QString, typed);
    QFETCH(QString, then);
    QFETCH(int, index);

    TFormSetting form;
    form.show();
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QComboBox* box = model ? form.cbSerial : form.cbPort1;
    box->setFocus();
    QTRY_VERIFY(box->lineEdit()->hasFocus());
    TypeInto(box->lineEdit(), typed);

    if (then == "enter") {
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        QVERIFY(form.isVisible());
    } else if (then == "leave") {
        form.Power_Testor->setFocus();
        QTRY_VERIFY(!box->lineEdit()->hasFocus());
    } else if (then == "down") {
        QTest::keyClick(box->lineEdit(), Qt::Key_Down);
    } else if (then.startsWith("pick")) {
        PickFromPopup(box, then.mid(4).toInt());
    }

    const int got = model ? form.ModelIndex() : form.PortIndex();
    QCOMPARE(got, index);
    if (index < 0) QCOMPARE(model ? form.cbSerial->currentText() : form.PortText(), typed);
}

void tst_Settingdlg::keysDoNotClose_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("where");
    QTest::newRow("Enter on the dialog") << int(Qt::Key_Return) << "dialog";
    QTest::newRow("keypad Enter on the dialog") << int(Qt::Key_Enter) << "dialog";
    QTest::newRow("Esc on the dialog") << int(Qt::Key_Escape) << "dialog";
    QTest::newRow("Enter in the address") << int(Qt::Key_Return) << "address";
    QTest::newRow("Esc in the address") << int(Qt::Key_Escape) << "address";
    QTest::newRow("Enter in the user") << int(Qt::Key_Return) << "user";
    QTest::newRow("Enter on OK") << int(Qt::Key_Return) << "ok";
    QTest::newRow("Esc in the port list") << int(Qt::Key_Escape) << "port";
}

void tst_Settingdlg::keysDoNotClose()
{
    QFETCH(int, key);
    QFETCH(QString, where);

    TFormSetting form;
    QVERIFY(!form.btnOK->isDefault() && !form.btnOK->autoDefault());
    QVERIFY(!form.btnCancel->isDefault() && !form.btnCancel->autoDefault());

    bool visibleAfterKey = false;
    bool ran = false;
    QTimer::singleShot(0, &form, [&] {
        QWidget* target = &form;
        if (where == "address") target = form.Addr;
        if (where == "user") target = form.Power_Testor;
        if (where == "ok") target = form.btnOK;
        if (where == "port") target = form.cbPort1->lineEdit();
        target->setFocus();
        QTest::keyClick(target, Qt::Key(key));
        visibleAfterKey = form.isVisible();
        ran = true;
        form.btnCancel->click();
    });
    const bool ok = form.Execute();

    QVERIFY(ran);
    QVERIFY(visibleAfterKey);
    QVERIFY(!ok);
}

void tst_Settingdlg::closeBoxCancelsAndKeepsText()
{
    TFormSetting form;
    QTimer::singleShot(0, &form, [&] {
        TypeInto(form.cbPort1->lineEdit(), QStringLiteral("COM9"));
        form.Addr->setValue(6);
        form.close();
    });
    QVERIFY(!form.Execute());
    QVERIFY(!form.isVisible());

    // The next opening shows what the operator left, not what was last applied.
    bool keptText = false;
    QTimer::singleShot(0, &form, [&] {
        keptText = form.PortText() == QStringLiteral("COM9") && form.PortIndex() == -1 && form.AddressValue() == 6;
        QTest::mouseClick(form.btnOK, Qt::LeftButton);
    });
    QVERIFY(form.Execute());
    QVERIFY(keptText);
}

QTEST_MAIN(tst_Settingdlg)
#include "tst_Settingdlg.moc"
