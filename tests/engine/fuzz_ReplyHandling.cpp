// Fuzz target for the reply handling through the engine on the deterministic clock: any answers,
// in any pieces, at any moments, with the operator's readings and aborts in between, never break
// the run's state, and no frame leaves that the list does not hold as it stands.
#include "CalList.h"
#include "FakeStation.h"

#include <cstdlib>

namespace {

void Require(bool condition)
{
    if (!condition) std::abort();
}

}  // namespace

// Input: records of [operation][argument][bytes...]. Operations: 0 bytes arrive on the line
// (argument: how many), 1 time passes (argument x 10 ms), 2 the operator's reading at a meter
// step, 3 a whole valid answer to the last frame, 4 Abort, 5 Calibrate.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    FakeStation station;
    RunEngine& engine = station.engine;
    const TRunState& s = engine.state();
    station.link.OpenPort(1, 9600);
    engine.LoadConfig(StoredConfig{42, 500});
    engine.setReadVolHandler([] {});
    std::vector<TPsuFrame> sent;
    station.comm.setFrameHandler([&](const TPsuFrame& f) { sent.push_back(f); });
    engine.StartCalibration();

    std::size_t at = 0;
    while (at + 2 <= size) {
        const std::uint8_t op = data[at] % 6;
        const std::uint8_t arg = data[at + 1];
        at += 2;
        switch (op) {
            case 0: {
                const std::size_t n = std::min<std::size_t>(arg % 40, size - at);
                station.comm.inject(QByteArray(reinterpret_cast<const char*>(data + at), static_cast<int>(n)));
                at += n;
                break;
            }
            case 1: station.clock.advance(arg * 10); break;
            case 2:
                if (s.FCalibrating && CalPointOfMeterStep(s.FStep) != 0) engine.AcceptReading(QStringLiteral("1"), arg * 37 - 4000);
                break;
            case 3: {
                TPsuFrame answer = MakeFrame(s.FLastSent.address(), arg % 2 ? Cmd::ClearingAnswer : s.FLastSent.command());
                SealFrame(answer);
                station.comm.inject(answer);
                break;
            }
            case 4: engine.btnCancelClick(); break;
            case 5: engine.btnStartClick(); break;
        }
        Require(s.FStep <= CalStepCount);
        Require(s.FTryCount <= 102);
        Require(!(s.FCalibrating && s.FClearing));
        Require(station.view.boxes.size() < 1000);
    }
    // Every frame that went out is one of the list's, as it stood when it went.
    for (const TPsuFrame& f : sent) {
        Require(f[TPsuFrame::ChecksumIndex] == FrameChecksum(f));
        Require(f[0] == FrameStart && f.address() == 0);
    }
    return 0;
}
