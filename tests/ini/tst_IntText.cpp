// Tests of the integer conversion rules used by the settings and the configuration file.
#include "AppError.h"
#include "IntText.h"

#include <QTest>

class TestIntText : public QObject {
    Q_OBJECT

private slots:
    void tryStrToInt_data();
    void tryStrToInt();
    void strToIntThrows_data();
    void strToIntThrows();
};

void TestIntText::tryStrToInt_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("value");

    QTest::newRow("decimal") << "42" << true << 42;
    QTest::newRow("plus sign") << "+7" << true << 7;
    QTest::newRow("minus sign") << "-7" << true << -7;
    QTest::newRow("leading blanks") << "  12" << true << 12;
    QTest::newRow("leading tab") << "\t12" << true << 12;
    QTest::newRow("leading zeros") << "0010" << true << 10;
    QTest::newRow("dollar hex") << "$10" << true << 16;
    QTest::newRow("x hex") << "x1A" << true << 26;
    QTest::newRow("X hex lower digits") << "Xff" << true << 255;
    QTest::newRow("signed hex") << "-$10" << true << -16;
    QTest::newRow("largest") << "2147483647" << true << 2147483647;
    QTest::newRow("smallest") << "-2147483648" << true << int(-2147483647 - 1);
    QTest::newRow("hex all ones is -1") << "$FFFFFFFF" << true << -1;
    QTest::newRow("hex top bit") << "$80000000" << true << int(-2147483647 - 1);

    QTest::newRow("one past largest") << "2147483648" << false << 0;
    QTest::newRow("one past smallest") << "-2147483649" << false << 0;
    QTest::newRow("long digit run that wraps 64 bits") << "18446744073709551626" << false << 0;
    QTest::newRow("nine hex digits") << "$100000000" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("blanks only") << "   " << false << 0;
    QTest::newRow("sign only") << "-" << false << 0;
    QTest::newRow("dollar only") << "$" << false << 0;
    QTest::newRow("letters") << "abc" << false << 0;
    QTest::newRow("trailing text") << "12abc" << false << 0;
    QTest::newRow("trailing blank") << "12 " << false << 0;
    QTest::newRow("0x is not this rule") << "0x10" << false << 0;
    QTest::newRow("hex digit in decimal") << "1F" << false << 0;
    QTest::newRow("double sign") << "--1" << false << 0;
    QTest::newRow("sign after dollar") << "$-1" << false << 0;
    QTest::newRow("non-ASCII digit") << QString::fromUtf8("\xD9\xA3") << false << 0;
}

void TestIntText::tryStrToInt()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, value);

    qint32 out = 12345;
    QCOMPARE(TryStrToInt(text, &out), ok);
    QCOMPARE(out, ok ? value : 12345);  // a failure leaves the target alone
}

void TestIntText::strToIntThrows_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("letters") << "abc";
    QTest::newRow("empty") << "";
    QTest::newRow("overflow") << "99999999999";
}

void TestIntText::strToIntThrows()
{
    QFETCH(QString, text);
    try {
        StrToInt(text);
        QFAIL("no error raised");
    } catch (const AppError& e) {
        QCOMPARE(e.message(), QStringLiteral("'%1' is not a valid integer value").arg(text));
    }
    QCOMPARE(StrToInt(QStringLiteral(" -$1f")), -31);
}

QTEST_APPLESS_MAIN(TestIntText)
#include "tst_IntText.moc"
