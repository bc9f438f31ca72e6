// The texts a run shows for what it passes between modules as enums: each text is written here once.
#pragma once

#include <QString>

// What the step list shows as a step's state.
enum class StepOutcome { Succeed, CommunicationFailed, TestAbort, CalibratingAbort };

QString StepOutcomeText(StepOutcome outcome);

// What to check while a run waits for a supply that has not answered its sends: the port, or the
// supply on it (COM`port` at `baud`, its `address`).
QString StallText(bool portOpen, int port, int baud, int address);
