// The splash, help and about windows: their texts, sizes and the ways they close.
#include "AboutDlg.h"
#include "LabelFit.h"
#include "Unit1.h"
#include "CalPoints.h"
#include "ReportPage.h"
#include "RunWords.h"
#include "Unit2.h"

#include <QApplication>
#include <QFontInfo>
#include <QSignalSpy>
#include <QTest>

namespace {

// The splash's tick as its timer delivers it, without waiting three real seconds.
void Tick(TForm1& splash)
{
    QVERIFY(QMetaObject::invokeMethod(&splash.Timer1, "timeout", Qt::DirectConnection));
}

QStringList LabelTexts(const QWidget* page)
{
    QStringList texts;
    for (const QLabel* label : page->findChildren<QLabel*>()) texts << label->text();
    texts.sort();
    return texts;
}

} // namespace

class TestSmallWindows : public QObject {
    Q_OBJECT

private slots:
    void splashLooksRight();
    void splashClosesOnFirstTickAfterShown();
    void splashClosesAtOnceOnClick();
    void splashTickWhileHiddenDoesNothing();
    void helpTexts();
    void helpOkClosesWithResultOne();
    void aboutTexts_data();
    void aboutTexts();
    void aboutShowsVersionWrittenBeforeOpening();
    void aboutOkCloses();
};

void TestSmallWindows::splashLooksRight()
{
    TForm1 splash;
    QVERIFY(splash.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(splash.size(), QSize(677, 478));
    QVERIFY(splash.isModal());
    // The picture is decoded when the splash is first shown, not at start-up.
    QVERIFY(splash.Image1->pixmap().isNull());
    splash.show();
    QCOMPARE(splash.Image1->pixmap().size(), QSize(680, 476));
    QCOMPARE(splash.Image1->geometry(), QRect(0, 0, 677, 478));
}

void TestSmallWindows::splashClosesOnFirstTickAfterShown()
{
    TForm1 splash;
    // Running since creation with a 3000 ms period: the next tick is never more than 3000 ms away.
    QVERIFY(splash.Timer1.isActive());
    QVERIFY(!splash.Timer1.isSingleShot());
    QCOMPARE(splash.Timer1.interval(), 3000);

    QSignalSpy finished(&splash, &QDialog::finished);
    splash.open();
    QVERIFY(splash.isVisible());
    QCOMPARE(splash.Timer1.timerType(), Qt::PreciseTimer);
    QVERIFY2(splash.Timer1.remainingTime() <= 3000, qPrintable(QString::number(splash.Timer1.remainingTime())));
    Tick(splash);
    QVERIFY(!splash.isVisible());
    QCOMPARE(finished.count(), 1);
    // It keeps running for the life of the process.
    QVERIFY(splash.Timer1.isActive());

    // The same instance can be shown again and closes again on the next tick.
    splash.open();
    QVERIFY(splash.isVisible());
    Tick(splash);
    QVERIFY(!splash.isVisible());
    QCOMPARE(finished.count(), 2);
}

void TestSmallWindows::splashClosesAtOnceOnClick()
{
    TForm1 splash;
    QSignalSpy finished(&splash, &QDialog::finished);
    splash.open();
    QVERIFY(splash.isVisible());
    QTest::mouseClick(splash.Image1, Qt::LeftButton, {}, QPoint(300, 200));
    QVERIFY(!splash.isVisible());
    QCOMPARE(finished.count(), 1);
}

void TestSmallWindows::splashTickWhileHiddenDoesNothing()
{
    TForm1 splash;
    QSignalSpy finished(&splash, &QDialog::finished);
    Tick(splash);
    Tick(splash);
    QCOMPARE(finished.count(), 0);
    QVERIFY(!splash.isVisible());

    // A tick before showing must not have left a pending close behind.
    splash.open();
    QVERIFY(splash.isVisible());
    QCOMPARE(finished.count(), 0);
    Tick(splash);
    QCOMPARE(finished.count(), 1);
}

void TestSmallWindows::helpTexts()
{
    TForm2 help;
    QCOMPARE(help.windowTitle(), QStringLiteral("Help"));
    QCOMPARE(help.size(), QSize(515, 526));
    QVERIFY(help.minimumSize() != help.maximumSize()); // sizeable
    QCOMPARE(help.Label1->text(), QStringLiteral("Korvex Power Calibrator Help  "));
    QCOMPARE(help.Label1->font().pixelSize(), 19);
    help.show();
    QVERIFY(QTest::qWaitForWindowExposed(&help));
    QVERIFY2(CutLabels(help).isEmpty(), qPrintable(CutLabels(help).join(QStringLiteral(" | "))));

    QCOMPARE(help.PageControl1->count(), 3);
    QCOMPARE(help.PageControl1->tabText(0), QStringLiteral("About Program"));
    QCOMPARE(help.PageControl1->tabText(1), QStringLiteral("About PowerSupply"));
    QStringList program;
    for (const QLabel* label : help.PageControl1->widget(0)->findChildren<QLabel*>()) program << label->text();
    QCOMPARE(program.mid(0, 2), (QStringList{QStringLiteral("Button:"), QStringLiteral("Function")}));
    // Every toolbar button, in the toolbar's order, then the panel's, each with what it does.
    QCOMPARE(program.size(), 2 + 9 * 2);
    const QStringList buttons{"Setting", "Calibrate", "Reset", "Abort", "Help", "About", "Exit", "Results...", "Meter..."};
    for (int i = 0; i < buttons.size(); ++i) QCOMPARE(program[2 + 2 * i], buttons[i]);
    // The points page says what the run does at each point, for each model.
    const QStringList supply = LabelTexts(help.PageControl1->widget(1));
    for (const CalPoint& p : CalPoints())
        for (std::uint8_t model = 0; model < OfferedModelCount; ++model)
            QVERIFY2(supply.contains(NominalLevel(p, model).section(QLatin1Char('('), 0, 0)), qPrintable(NominalLevel(p, model)));
    QCOMPARE(supply.count(QStringLiteral("current")), 2);
    QCOMPARE(supply.count(QStringLiteral("2 (V)")), 4);
    // How to type a reading, and every result word the record can show with its meaning.
    QStringList results;
    for (const QLabel* label : help.PageControl1->widget(2)->findChildren<QLabel*>()) results << label->text();
    QVERIFY(!results.filter(QStringLiteral("100.3 mV is typed 0.1003")).isEmpty());
    for (const QString& word : ResultWords()) {
        const qsizetype at = results.indexOf(word);
        QVERIFY2(at >= 0 && at + 1 < results.size() && results[at + 1] == ResultMeaningText(word), qPrintable(word));
        QVERIFY2(!results[at + 1].startsWith(QStringLiteral("A result this program does not know")), qPrintable(word));
    }
    const QString shots = qEnvironmentVariable("KORVEX_SCREENSHOT_DIR");
    if (!shots.isEmpty()) QVERIFY(help.grab().save(shots + QStringLiteral("/help.png")));
    help.PageControl1->setCurrentIndex(2);
    QVERIFY2(CutLabels(help).isEmpty(), qPrintable(CutLabels(help).join(QStringLiteral(" | "))));
    QCOMPARE(help.BitBtn1->text(), QStringLiteral("OK"));
}

void TestSmallWindows::helpOkClosesWithResultOne()
{
    TForm2 help;
    QSignalSpy finished(&help, &QDialog::finished);
    help.open();
    QVERIFY(help.isVisible());
    QTest::mouseClick(help.BitBtn1, Qt::LeftButton);
    QVERIFY(!help.isVisible());
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished.at(0).at(0).toInt(), 1);
    QCOMPARE(help.result(), 1);
}

void TestSmallWindows::aboutTexts_data()
{
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("pixels");
    QTest::newRow("Label6") << "Label6" << "Korvex  7200 Series " << 19;
    QTest::newRow("Label1") << "Label1" << " PowerSupply Calibration Program" << 19;
    QTest::newRow("Label2 before opening") << "Label2" << "Ver : 1.1.0.19" << 15;
}

void TestSmallWindows::aboutTexts()
{
    QFETCH(QString, label);
    QFETCH(QString, text);
    QFETCH(int, pixels);
    TFormAbout about;
    const QLabel* l = about.findChild<QLabel*>(label);
    QVERIFY(l);
    QCOMPARE(l->text(), text);
    // The designed size in the faces the box is drawn for; smaller in a wider stand-in only.
    const QString face = QFontInfo(l->font()).family();
    if (face == QLatin1String("Times New Roman") || face == QLatin1String("Liberation Serif"))
        QCOMPARE(l->font().pixelSize(), pixels);
    else
        QVERIFY2(l->font().pixelSize() <= pixels, qPrintable(face));
    QCOMPARE(l->palette().color(QPalette::WindowText), QColor(0x80, 0x00, 0x00));
    QVERIFY(about.Bevel1->isAncestorOf(l));
    // The whole line must be readable, not cut off at the label's edge or the frame.
    QVERIFY2(ShowsWholeText(*l), qPrintable(l->font().toString()));
    QVERIFY(l->geometry().right() < about.Bevel1->contentsRect().right());
}

void TestSmallWindows::aboutShowsVersionWrittenBeforeOpening()
{
    TFormAbout about;
    QCOMPARE(about.windowTitle(), QStringLiteral("About"));
    QCOMPARE(about.size(), QSize(349, 283));
    QCOMPARE(about.minimumSize(), about.maximumSize());
    QVERIFY(about.font().families().contains(QStringLiteral("Times New Roman")));
    QVERIFY(about.Image1->pixmap().isNull());
    QVERIFY(about.Image1->geometry().top() < about.Label6->geometry().top());

    about.Label2->setText(QStringLiteral("Ver : 1.1.0.19"));
    about.open();
    QCOMPARE(about.Image1->pixmap().size(), QSize(76, 73));
    QCOMPARE(about.Label2->text(), QStringLiteral("Ver : 1.1.0.19"));
    QVERIFY(about.Label2->isVisible());
}

void TestSmallWindows::aboutOkCloses()
{
    TFormAbout about;
    QSignalSpy finished(&about, &QDialog::finished);
    about.open();
    QVERIFY(about.isVisible());
    QTest::mouseClick(about.Button1, Qt::LeftButton);
    QVERIFY(!about.isVisible());
    QCOMPARE(finished.count(), 1);
    // Reused: the same box opens again.
    about.open();
    QVERIFY(about.isVisible());
}

QTEST_MAIN(TestSmallWindows)
#include "tst_SmallWindows.moc"
