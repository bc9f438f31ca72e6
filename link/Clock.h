// Time as the link and the run engine see it: timers, the blocking pause, the date.
#pragma once

#include <QDateTime>

#include <functional>
#include <memory>

// A repeating timer; start() restarts the period anew.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void setInterval(int ms) = 0;
    virtual int interval() const = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
    void setHandler(std::function<void()> handler) { handler_ = std::move(handler); }

protected:
    void fire()
    {
        if (handler_) handler_();
    }

private:
    std::function<void()> handler_;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::unique_ptr<Timer> createTimer() = 0;
    // Monotonic milliseconds.
    virtual qint64 tickMs() const = 0;
    // Pauses without handling any tick, click or serial event.
    virtual void SleepBlocking(int ms) = 0;
    // Local date and time.
    virtual QDateTime now() const = 0;
};
