// The real clock: QTimer timers, an event-loop wait and a thread sleep.
#pragma once

#include "Clock.h"

#include <QElapsedTimer>

class QtClock : public Clock {
public:
    QtClock() { started_.start(); }
    std::unique_ptr<Timer> createTimer() override;
    qint64 tickMs() const override;
    void SleepBlocking(int ms) override;
    QDateTime now() const override;

private:
    QElapsedTimer started_;
};
