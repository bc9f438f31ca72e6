// Tests of the general error handler: a raised error ends its handler, is shown once, and the program goes
// on.
#include <QtTest>
#include <stdexcept>

#include "AppError.h"
#include "FakeClock.h"
#include "HandlerGuard.h"

class TestHandlerGuard : public QObject {
    Q_OBJECT

private slots:
    void errorEndsHandler_data();
    void errorEndsHandler();
    void wrappedHandlerIsGuardedWhenCalled();
    void timerTickErrorIsShownAndTimerGoesOn();
};

void TestHandlerGuard::errorEndsHandler_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("shown");
    QTest::newRow("nothing raised") << 0 << QString();
    QTest::newRow("conversion") << 1 << QStringLiteral("'12a' is not a valid integer value");
    QTest::newRow("file write") << 2 << QStringLiteral("Unable to write to /x/Config.Ini");
    QTest::newRow("other standard error") << 3 << QStringLiteral("bad thing");
    QTest::newRow("anything else") << 4 << QStringLiteral("Unknown error");
}

void TestHandlerGuard::errorEndsHandler() {
    QFETCH(int, kind);
    QFETCH(QString, shown);

    QStringList errors;
    HandlerGuard guard([&errors](const QString& text) { errors << text; });
    QStringList steps;
    const bool completed = guard.Run([&] {
        steps << QStringLiteral("before");
        switch (kind) {
            case 1:
                throw AppError(QStringLiteral("'12a' is not a valid integer value"));
            case 2:
                throw AppError(QStringLiteral("Unable to write to /x/Config.Ini"));
            case 3:
                throw std::runtime_error("bad thing");
            case 4:
                throw 42;
            default:
                break;
        }
        steps << QStringLiteral("after");
    });

    QCOMPARE(completed, kind == 0);
    QCOMPARE(steps.size(), kind == 0 ? 2 : 1);
    QCOMPARE(errors, shown.isEmpty() ? QStringList() : QStringList{shown});

    // The next handler runs as usual.
    QVERIFY(guard.Run([&] { steps << QStringLiteral("next"); }));
    QCOMPARE(steps.last(), QStringLiteral("next"));
    QCOMPARE(errors.size(), shown.isEmpty() ? 0 : 1);
}

void TestHandlerGuard::wrappedHandlerIsGuardedWhenCalled() {
    QStringList errors;
    HandlerGuard guard([&errors](const QString& text) { errors << text; });
    int calls = 0;
    const auto handler = guard.Wrap([&] {
        ++calls;
        throw AppError(QStringLiteral("Unable to write to /y"));
    });
    QVERIFY(errors.isEmpty());
    handler();
    handler();
    QCOMPARE(calls, 2);
    QCOMPARE(errors,
             (QStringList{QStringLiteral("Unable to write to /y"), QStringLiteral("Unable to write to /y")}));
}

void TestHandlerGuard::timerTickErrorIsShownAndTimerGoesOn() {
    QStringList errors;
    HandlerGuard guard([&errors](const QString& text) { errors << text; });
    FakeClock inner;
    GuardedClock clock(inner, guard);
    auto timer = clock.createTimer();
    int ticks = 0;
    timer->setHandler([&] {
        ++ticks;
        if (ticks == 1) throw AppError(QStringLiteral("'x' is not a valid integer value"));
    });
    timer->setInterval(400);
    QCOMPARE(timer->interval(), 400);
    timer->start();
    QVERIFY(timer->isActive());

    inner.advance(399);
    QCOMPARE(ticks, 0);
    inner.advance(1);
    QCOMPARE(ticks, 1);
    QCOMPARE(errors, QStringList{QStringLiteral("'x' is not a valid integer value")});
    inner.advance(400);
    QCOMPARE(ticks, 2);
    QCOMPARE(errors.size(), 1);

    timer->stop();
    inner.advance(2000);
    QCOMPARE(ticks, 2);
    QCOMPARE(clock.now(), inner.now());
}

QTEST_GUILESS_MAIN(TestHandlerGuard)
#include "tst_HandlerGuard.moc"
