// A station made of fakes: virtual time, a fake serial control, and the real link and engine
// reporting to a recording window. Test rigs build on it.
#pragma once

#include "FakeClock.h"
#include "FakeSerialControl.h"
#include "RecordingView.h"
#include "RunEngine.h"
#include "SerialLink.h"

struct FakeStation {
    FakeClock clock;
    FakeSerialControl comm;
    SerialLink link{comm, clock};
    RecordingView view;
    RunEngine engine{link, clock, view};

    FakeStation() { link.SetDefaults(); }
};
