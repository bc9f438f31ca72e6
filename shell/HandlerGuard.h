// The general error handler: every click, tick and port event of the program runs through it.
#pragma once

#include <QString>
#include <functional>
#include <memory>

#include "Clock.h"

class HandlerGuard {
public:
    explicit HandlerGuard(std::function<void(const QString&)> showError);

    // Runs the handler. An error it raises ends it at the failing step and is shown once;
    // the program goes on. True when the handler ran to its end.
    bool Run(const std::function<void()>& handler) const;

    // The handler, to be run through the guard whenever it is called later.
    std::function<void()> Wrap(std::function<void()> handler) const;

private:
    std::function<void(const QString&)> showError_;
};

// A clock whose timers run their ticks through the guard; the rest is the inner clock's.
class GuardedClock : public Clock {
public:
    GuardedClock(Clock& inner, const HandlerGuard& guard) : inner_(inner), guard_(guard) {}

    std::unique_ptr<Timer> createTimer() override;
    qint64 tickMs() const override { return inner_.tickMs(); }
    void SleepBlocking(int ms) override { inner_.SleepBlocking(ms); }
    QDateTime now() const override { return inner_.now(); }

private:
    Clock& inner_;
    const HandlerGuard& guard_;
};
