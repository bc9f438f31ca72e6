// Serial numbers for supplies without one, from the line's database: two benches never hand out
// the same number, and none is given that a record already shows in a supply.
#pragma once

#include "LineSettings.h"
#include "ResultsDb.h"
#include "RunEngine.h"

#include <QObject>

#include <functional>
#include <map>

// The line's counter, on the thread that uses it: one number per call, in one transaction.
class LineCounter {
public:
    // `benchRecord`: the bench's own results file, whose numbers are not given again either
    // (empty: none is looked at).
    LineCounter(LineSettings settings, QString benchRecord);

    // The line's counter raised to at least `unitCounter` (so that no number a bench gave before
    // it joined the line comes again); from there the first number that neither the line's record
    // nor the bench's own holds, recorded with the bench and the run `runUid`. The counter then
    // stands after it, whatever it stood at before.
    SerialSource::Grant Take(std::int64_t unitCounter, const QString& runUid);

private:
    // False with grant->refusal set; *stale when the connection failed at its first use.
    bool TryTake(std::int64_t unitCounter, const QString& runUid, SerialSource::Grant* grant, bool* stale);

    LineSettings settings_;
    QString benchRecord_;
    ResultsDb db_;
    ResultsDb local_;
};

// The run engine's numbers on a line. Each is taken on a thread of its own, so that the window
// never waits for the server, and given on the thread that asked for it.
class SerialAllocator : public SerialSource {
public:
    // `runUid` names the run asking, as its record will carry it to the line.
    SerialAllocator(LineSettings settings, std::function<QString()> runUid, QString benchRecord = QString());
    // Waits a few seconds at most for a number still being taken; one taken later is given to
    // no one (the line's record keeps it, and never gives it again).
    ~SerialAllocator() override;
    SerialAllocator(const SerialAllocator&) = delete;
    SerialAllocator& operator=(const SerialAllocator&) = delete;

    void Request(const TRunState& state, Answer answer) override;
    // A connection's time and a statement's, and a second more.
    int LimitMs() const override;

    const LineSettings& settings() const { return settings_; }

private:
    class Worker;

    void Deliver(quint64 id, const Grant& grant);

    LineSettings settings_;
    std::function<QString()> runUid_;
    // Answers reach the asking thread through it; gone with the allocator, so are they.
    QObject context_;
    std::map<quint64, Answer> waiting_;
    quint64 lastId_ = 0;
    Worker* worker_ = nullptr;
};
