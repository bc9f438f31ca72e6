// A bench of fakes on the deterministic clock with the results record on a real file: a supply
// that answers what a test lets through and an operator who types seven fixed readings.
#pragma once

#include "CalList.h"
#include "ClearingRun.h"
#include "FakeStation.h"
#include "ResultsRecord.h"

#include <QStringList>

#include <cmath>
#include <functional>
#include <memory>

// The seven readings as the operator types them.
inline const QStringList Typed{QStringLiteral("0.1"), QStringLiteral("3.999"), QStringLiteral("4.0"), QStringLiteral("37.0"),
                        QStringLiteral("20.0"), QStringLiteral("0.1"), QStringLiteral("3.1")};

// A bench of fakes with a supply that answers what `answers` lets through, and an operator who
// types the readings above.
struct RecordedBench : FakeStation {
    ClearingRun clearing{engine};
    std::function<bool(const TPsuFrame&)> answers = [](const TPsuFrame&) { return true; };
    QByteArray serialDigits = "      ";
    std::unique_ptr<ResultsRecord> record;
    QStringList faults;
    int firstFaults = 0;

    explicit RecordedBench(const QString& dbPath)
    {
        link.OpenPort(1, 9600);
        engine.SelectModel(1);
        engine.LoadConfig(StoredConfig{42, 500});
        engine.ApplySettings(RunSettings{QStringLiteral("Anna"), QStringLiteral("25±5°C"), QStringLiteral("<70%"), 0});
        comm.setFrameHandler([this](const TPsuFrame& f) {
            if (!answers(f)) return;
            TPsuFrame r = MakeFrame(f.address(), f.command() == Cmd::ReadSerial ? Cmd::ReadSerial : Cmd::ClearingAnswer);
            if (f.command() == Cmd::ReadSerial)
                for (int i = 0; i < 6; ++i) r.data(i) = static_cast<std::uint8_t>(serialDigits[i]);
            SealFrame(r);
            clock.scheduleIn(5, [this, r] { comm.inject(r); });
        });
        engine.setReadVolHandler([this] {
            const int point = CalPointOfMeterStep(engine.state().FStep);
            const QString text = Typed[point - 1];
            // The two current points come from the meter, the voltage points are typed.
            engine.AcceptReading(text, static_cast<std::int32_t>(std::lround(text.toDouble() * 1000)),
                                 point >= 6 ? ReadingSource::Meter : ReadingSource::Typed,
                                 point >= 6 ? ReadingQuality{3, 2e-5, 1e-4} : ReadingQuality{1, 0.0, 1e-3});
        });
        if (!dbPath.isEmpty()) {
            record = std::make_unique<ResultsRecord>(engine, dbPath, RecordContext{QStringLiteral("bench-7"), QStringLiteral("1.1.0.19")});
            record->setFaultSink([this](const QString& text, bool first) {
                faults << text;
                if (first) ++firstFaults;
            });
            record->Open();
        }
    }
    bool calibrate()
    {
        engine.btnStartClick();
        return clock.advanceUntil([this] { return !engine.state().FCalibrating; }, 300000);
    }
    bool clear()
    {
        clearing.btnClearClick();
        return clock.advanceUntil([this] { return !engine.state().FClearing; }, 60000);
    }
};
