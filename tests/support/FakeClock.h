// A deterministic clock for tests: timers fire in virtual time, and scheduled actions (a reply,
// a click) run at their moment, also inside a pumping wait.
#pragma once

#include "Clock.h"

#include <QDateTime>

#include <functional>
#include <map>
#include <memory>
#include <vector>

class FakeClock : public Clock {
public:
    explicit FakeClock(QDateTime start = QDateTime(QDate(2026, 3, 9), QTime(9, 0)));
    ~FakeClock() override;

    std::unique_ptr<Timer> createTimer() override;
    qint64 tickMs() const override { return now_; }
    void SleepBlocking(int ms) override;
    QDateTime now() const override { return start_.addMSecs(now_); }

    // Runs virtual time forward by ms, firing due timers and scheduled actions in time order.
    void advance(qint64 ms);
    // Advances in 1 ms steps until pred() holds or maxMs have passed; returns pred().
    bool advanceUntil(const std::function<bool()>& pred, qint64 maxMs);
    // Runs `action` once when virtual time reaches now + ms.
    void scheduleIn(qint64 ms, std::function<void()> action);

    // Blocking sleeps seen so far, in order, as (start, ms).
    struct Wait {
        qint64 at;
        int ms;
        bool blocking;
    };
    const std::vector<Wait>& waits() const { return waits_; }

private:
    class FakeTimer;
    friend class FakeTimer;

    bool runNextDue(qint64 limit);

    QDateTime start_;
    qint64 now_ = 0;
    quint64 seq_ = 0;
    std::vector<FakeTimer*> timers_;
    std::multimap<std::pair<qint64, quint64>, std::function<void()>> actions_;
    std::vector<Wait> waits_;
};
