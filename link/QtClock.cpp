// The real clock: QTimer timers and a thread sleep.
#include "QtClock.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

namespace {

class QtTimer : public Timer {
public:
    QtTimer()
    {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] { fire(); });
    }
    void setInterval(int ms) override { timer_.setInterval(ms); }
    int interval() const override { return timer_.interval(); }
    void start() override { timer_.start(); }
    void stop() override { timer_.stop(); }
    bool isActive() const override { return timer_.isActive(); }

private:
    QTimer timer_;
};

}  // namespace

std::unique_ptr<Timer> QtClock::createTimer() { return std::make_unique<QtTimer>(); }

qint64 QtClock::tickMs() const { return started_.elapsed(); }

void QtClock::SleepBlocking(int ms) { QThread::msleep(static_cast<unsigned long>(qMax(0, ms))); }

QDateTime QtClock::now() const { return QDateTime::currentDateTime(); }
