// Serial numbers for supplies without one, from the line's database: two benches never hand out
// the same number.
#pragma once

#include "LineSettings.h"
#include "ResultsDb.h"
#include "RunEngine.h"

#include <functional>

class SerialAllocator : public SerialSource {
public:
    // `runUid` names the run asking, as its record will carry it to the line.
    SerialAllocator(LineSettings settings, std::function<QString()> runUid);

    // One transaction: the line's counter raised to at least this bench's unit counter (so that
    // no number a bench gave before it joined the line comes again), then taken and advanced,
    // and the number recorded with the bench and the run.
    Grant Allocate(const TRunState& state) override;

    const LineSettings& settings() const { return settings_; }

private:
    bool TryAllocate(const TRunState& state, std::uint32_t* serial, QString* error);

    LineSettings settings_;
    std::function<QString()> runUid_;
    ResultsDb db_;
};
