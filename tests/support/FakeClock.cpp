// A deterministic clock for tests: timers fire in virtual time, and scheduled actions run at their moment.
#include "FakeClock.h"

#include <algorithm>

class FakeClock::FakeTimer : public Timer {
public:
    explicit FakeTimer(FakeClock& clock) : clock_(clock) { clock_.timers_.push_back(this); }
    ~FakeTimer() override
    {
        auto& t = clock_.timers_;
        t.erase(std::remove(t.begin(), t.end(), this), t.end());
    }
    void setInterval(int ms) override { interval_ = ms; }
    int interval() const override { return interval_; }
    void start() override
    {
        // Started anew inside its own handler it is a new timer, as a Qt timer is: a wait that
        // handler opens lets it fire.
        running_ = false;
        active_ = true;
        due_ = clock_.now_ + std::max(0, interval_);
        seq_ = ++clock_.seq_;
    }
    void stop() override { active_ = false; }
    bool isActive() const override { return active_; }

    // Like a Qt timer, one does not fire again while its own handler still runs, unless restarted.
    bool ready(qint64 limit) const { return active_ && !running_ && due_ <= limit; }
    qint64 due() const { return due_; }
    quint64 seq() const { return seq_; }
    void trigger()
    {
        due_ = clock_.now_ + std::max(1, interval_);
        running_ = true;
        fire();
        running_ = false;
    }

private:
    FakeClock& clock_;
    int interval_ = 0;
    bool active_ = false;
    bool running_ = false;
    qint64 due_ = 0;
    quint64 seq_ = 0;
};

FakeClock::FakeClock(QDateTime start) : start_(std::move(start)) {}

FakeClock::~FakeClock() = default;

std::unique_ptr<Timer> FakeClock::createTimer() { return std::make_unique<FakeTimer>(*this); }

void FakeClock::scheduleIn(qint64 ms, std::function<void()> action)
{
    actions_.emplace(std::make_pair(now_ + ms, ++seq_), std::move(action));
}

bool FakeClock::runNextDue(qint64 limit)
{
    FakeTimer* bestTimer = nullptr;
    for (FakeTimer* t : timers_) {
        if (!t->ready(limit)) continue;
        if (!bestTimer || t->due() < bestTimer->due() ||
            (t->due() == bestTimer->due() && t->seq() < bestTimer->seq()))
            bestTimer = t;
    }
    const bool haveAction = !actions_.empty() && actions_.begin()->first.first <= limit;
    if (haveAction && (!bestTimer || actions_.begin()->first.first <= bestTimer->due())) {
        auto it = actions_.begin();
        now_ = std::max(now_, it->first.first);
        auto run = std::move(it->second);
        actions_.erase(it);
        run();
        return true;
    }
    if (bestTimer) {
        now_ = std::max(now_, bestTimer->due());
        bestTimer->trigger();
        return true;
    }
    return false;
}

void FakeClock::advance(qint64 ms)
{
    const qint64 target = now_ + ms;
    while (runNextDue(target)) {
    }
    now_ = std::max(now_, target);
}

bool FakeClock::advanceUntil(const std::function<bool()>& pred, qint64 maxMs)
{
    for (qint64 i = 0; i < maxMs && !pred(); ++i) advance(1);
    return pred();
}

void FakeClock::SleepBlocking(int ms)
{
    waits_.push_back({now_, ms, true});
    now_ += ms;
}
