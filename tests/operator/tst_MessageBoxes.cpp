// Tests of the message boxes: titles, icons and buttons of each kind, and what each answer returns.
#include "MessageBoxes.h"
#include "ModalAnswerer.h"

#include <QKeyEvent>
#include <QTest>

Q_DECLARE_METATYPE(BoxAnswer)

class TestMessageBoxes : public QObject {
    Q_OBJECT
private slots:
    void singleButtonBoxes_data();
    void singleButtonBoxes();
    void questions_data();
    void questions();
};

void TestMessageBoxes::singleButtonBoxes_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("button");

    QTest::newRow("notice") << "Notice" << "Korvex Power Calibrator" << int(QMessageBox::NoIcon)
                            << int(QMessageBox::Ok);
    QTest::newRow("warning") << "Warning" << "Warning" << int(QMessageBox::Warning) << int(QMessageBox::Yes);
    QTest::newRow("error") << "Error" << "Error" << int(QMessageBox::Critical) << int(QMessageBox::Yes);
    QTest::newRow("information") << "Information" << "Information" << int(QMessageBox::Information)
                                 << int(QMessageBox::Yes);
}

void TestMessageBoxes::singleButtonBoxes()
{
    QFETCH(QString, kind);
    QFETCH(QString, title);
    QFETCH(int, icon);
    QFETCH(int, button);

    ModalAnswerer answerer;
    answerer.pressBox(QMessageBox::StandardButton(button));
    const QString text = QStringLiteral("Please open serial port !");
    if (kind == "Notice") MessageBoxes::Notice(nullptr, text);
    if (kind == "Warning") MessageBoxes::Warning(nullptr, text);
    if (kind == "Error") MessageBoxes::Error(nullptr, text);
    if (kind == "Information") MessageBoxes::Information(nullptr, text);
    // Told while the first is up, the second waits for it.
    const QString then = QStringLiteral("Calibrating abort !");
    answerer.pressBox(QMessageBox::Ok);
    MessageBoxes::Notice(nullptr, then);
    const QWidgetList windows = QApplication::topLevelWidgets();
    QCOMPARE(std::count_if(windows.begin(), windows.end(), [](QWidget* w) { return qobject_cast<QMessageBox*>(w) && w->isVisible(); }), 1);
    QTRY_VERIFY(answerer.done() && !QApplication::activeModalWidget());

    QCOMPARE(answerer.unexpected, 0);
    QCOMPARE(answerer.boxes.size(), std::size_t(2));
    const auto& seen = answerer.boxes.front();
    QCOMPARE(seen.title, title);
    QCOMPARE(seen.text, text);
    QCOMPARE(int(seen.icon), icon);
    QCOMPARE(int(seen.buttons), button);
    QCOMPARE(answerer.boxes[1].text, then);
}

void TestMessageBoxes::questions_data()
{
    QTest::addColumn<bool>("warning");
    QTest::addColumn<QString>("how");
    QTest::addColumn<BoxAnswer>("expected");

    QTest::newRow("question yes") << false << "yes" << BoxAnswer::Yes;
    QTest::newRow("question no") << false << "no" << BoxAnswer::No;
    QTest::newRow("question esc") << false << "esc" << BoxAnswer::Closed;
    QTest::newRow("question close box") << false << "close" << BoxAnswer::Closed;
    QTest::newRow("question enter") << false << "enter" << BoxAnswer::Yes;
    QTest::newRow("warning question yes") << true << "yes" << BoxAnswer::Yes;
    QTest::newRow("warning question no") << true << "no" << BoxAnswer::No;
    QTest::newRow("warning question esc") << true << "esc" << BoxAnswer::No;
    QTest::newRow("warning question close box") << true << "close" << BoxAnswer::No;
    QTest::newRow("warning question enter") << true << "enter" << BoxAnswer::No;
}

void TestMessageBoxes::questions()
{
    QFETCH(bool, warning);
    QFETCH(QString, how);
    QFETCH(BoxAnswer, expected);

    ModalAnswerer answerer;
    if (how == "yes") answerer.pressBox(QMessageBox::Yes);
    if (how == "no") answerer.pressBox(QMessageBox::No);
    if (how == "esc")
        answerer.dismissBox([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
    if (how == "close") answerer.dismissBox([](QMessageBox* box) { box->close(); });
    if (how == "enter") answerer.dismissBox([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });

    const QString text = warning ? QStringLiteral("Do you clearing ?") : QStringLiteral("Abort ?");
    std::vector<BoxAnswer> answers;
    const Answered answered = [&answers](BoxAnswer a) { answers.push_back(a); };
    if (warning)
        MessageBoxes::WarningQuestion(nullptr, text, answered);
    else
        MessageBoxes::Question(nullptr, text, answered);
    // Asked without a loop of its own: the call is back before the box is answered.
    QVERIFY(answers.empty());
    QVERIFY(QApplication::activeModalWidget());
    QTRY_COMPARE(answers.size(), std::size_t(1));

    QCOMPARE(answerer.unexpected, 0);
    QCOMPARE(answers[0], expected);
    QCOMPARE(answerer.boxes.size(), std::size_t(1));
    const auto& seen = answerer.boxes.front();
    QCOMPARE(seen.text, text);
    QCOMPARE(seen.title, warning ? QStringLiteral("Warning") : QStringLiteral("Confirm"));
    QCOMPARE(seen.icon, warning ? QMessageBox::Warning : QMessageBox::Question);
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Yes | QMessageBox::No));
    // A warning question guards what cannot be undone: Enter answers No.
    QCOMPARE(seen.defaultButton, warning ? QMessageBox::No : QMessageBox::Yes);
}

QTEST_MAIN(TestMessageBoxes)
#include "tst_MessageBoxes.moc"
