// What can be seen of a run's life from outside. Whoever listens (the results record, the automatic
// operator's report, ...) only watches: nothing it does may steer the run.
#pragma once

#include "OPCPublic.h"
#include "RunTexts.h"

#include <QString>

#include <cstdint>

struct TRunState;

enum class RunKind { Calibration, Clearing };

// How a run ended.
enum class RunEnd {
    Finished,        // the answer to the last step came
    Failed,          // the serial-number or testing-information frame went unanswered
    Refused,         // the unit counter cannot be written as a serial number
    Aborted,         // the operator aborted, or refused a reading
    Cleared,         // every clearing frame was answered
    ClearingFailed,  // a clearing frame went unanswered
};

// Where an accepted reading came from: typed by the operator, or the meter's own reading taken
// unchanged.
enum class ReadingSource { Typed, Meter };

// How well a reading was taken, for its uncertainty: how many readings the meter gave at the point
// and how they spread, and the step of the reading's last digit. A typed reading is one reading.
struct ReadingQuality {
    int reads = 1;
    double deviation = 0.0;   // the readings' experimental standard deviation (V or A); 0 with one
    double resolution = 0.0;  // V or A; 0: not known
};

class RunObserver {
public:
    virtual ~RunObserver() = default;

    // The run's list is built and its state set; nothing has been sent yet.
    virtual void RunStarted(RunKind kind, const TRunState& state) = 0;
    // A frame of step `step` was handed to the port.
    virtual void FrameSent(int step, const TPsuFrame& frame) = 0;
    // The step list's state of a step changed.
    virtual void StepState(int step, StepOutcome outcome) = 0;
    // The operator's reading at meter step `meterStep` went into the frame of the step after it:
    // `typed` as entered, `valueSent` the millivolts or milliamperes as that frame carries them.
    virtual void ReadingAccepted(int meterStep, const QString& typed, std::int64_t valueSent, ReadingSource source,
                                 const ReadingQuality& quality) = 0;
    // A step ran out of sends; the run waits, still active, for a late answer.
    virtual void RunStalled(int step) = 0;
    // A line was added to the event log.
    virtual void LogLine(const QString& line) = 0;
    // The run is over; the state holds what it ended with.
    virtual void RunEnded(RunKind kind, RunEnd end, const TRunState& state) = 0;
};
