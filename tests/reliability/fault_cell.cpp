// One cell of the fault matrix: a whole calibration or clearing run, in real time over a
// pseudo-terminal, against the simulated supply started with the given faults. It tells how the
// run ended and whether any frame carried a value or serial number other than the one meant.
// Usage: fault_cell <psu-sim> calibration|clearing|meter [psu-sim options...]
#include "CalList.h"
#include "ClearingRun.h"
#include "MeterLink.h"
#include "MeterReader.h"
#include "QtClock.h"
#include "QtSerialControl.h"
#include "RecordingView.h"
#include "RunEngine.h"
#include "SerialLink.h"
#include "SimulatedSupply.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>

namespace {

// What the operator types when no meter gives a reading.
const QStringList Typed{QStringLiteral("0.1003"), QStringLiteral("3.9988"), QStringLiteral("4.0012"), QStringLiteral("37.0125"),
                        QStringLiteral("19.994"), QStringLiteral("0.1004"), QStringLiteral("3.0985")};

class Watcher : public RunObserver {
public:
    QString end;
    bool stalled = false;
    int endStep = 0;  // the step the run stalled or ended at
    std::map<int, std::int64_t> accepted;  // point -> the value the frame carries

    void RunStarted(RunKind, const TRunState&) override {}
    void FrameSent(int, const TPsuFrame&) override {}
    void StepState(int, StepOutcome) override {}
    void ReadingAccepted(int meterStep, const QString&, std::int64_t sent, ReadingSource, const ReadingQuality&) override
    {
        accepted[CalPointOfMeterStep(meterStep)] = sent;
    }
    void RunStalled(int step) override
    {
        stalled = true;
        endStep = step;
    }
    void LogLine(const QString&) override {}
    void RunEnded(RunKind, RunEnd e, const TRunState& state) override
    {
        if (end.isEmpty()) endStep = state.FStep;
        static const char* const names[] = {"finished", "failed", "refused", "aborted", "cleared", "clearing_failed"};
        // A stalled run is ended by this harness; it stays what it was seen to be.
        if (end.isEmpty()) end = QString::fromLatin1(names[static_cast<int>(e)]);
    }
};

std::int64_t FrameValue(const QStringList& hex)
{
    bool ok = false;
    auto byte = [&](int i) { return static_cast<std::int64_t>(hex.value(i).toUInt(&ok, 16)); };
    if (hex.value(2) == QLatin1String("88")) return byte(3) | (byte(4) << 8);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(byte(3) | (byte(4) << 8) | (byte(5) << 16) | (byte(6) << 24)));
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: fault_cell <psu-sim> calibration|clearing|meter [psu-sim options...]\n");
        return 2;
    }
    const QString kind = args[2];
    const bool withMeter = kind == QLatin1String("meter");
    QStringList simArgs = args.mid(3);
    if (withMeter) simArgs << QStringLiteral("--meter-pty");
    SimulatedSupply sim(args[1]);
    const QString pty = sim.start(simArgs);
    if (pty.isEmpty()) {
        std::printf("CELL end=nosim\n");
        return 1;
    }

    QtClock clock;
    QtSerialControl comm([pty](int) { return pty; });
    SerialLink link(comm, clock);
    RecordingView view;
    RunEngine engine(link, clock, view);
    ClearingRun clearing(engine);
    Watcher watcher;
    engine.AddObserver(&watcher);
    const TRunState& s = engine.state();
    engine.SelectModel(1);
    engine.LoadConfig(StoredConfig{500, 500});

    std::unique_ptr<MeterLink> meter;
    std::unique_ptr<MeterReader> reader;
    if (withMeter) {
        QString meterPty;
        for (int i = 0; i < 100 && meterPty.isEmpty(); ++i) {
            const QStringList lines = sim.linesStartingWith(QStringLiteral("METERPTY "));
            if (!lines.isEmpty()) meterPty = lines.first().mid(9);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        MeterSettings settings;
        settings.connection = MeterSettings::Connection::Serial;
        settings.port = meterPty;
        settings.timeoutMs = 500;
        meter = std::make_unique<MeterLink>(settings, meterPty);
        reader = std::make_unique<MeterReader>(*meter, settings.settleShare, settings.maxReads);
    }
    engine.setReadVolHandler([&] {
        const int meterStep = s.FStep;
        const int point = CalPointOfMeterStep(meterStep);
        const QString typed = Typed.value(point - 1);
        auto accept = [&engine, &s, meterStep](const QString& text, ReadingSource source) {
            if (!s.FCalibrating || s.FStep != meterStep) return;
            engine.AcceptReading(text, static_cast<std::int32_t>(std::lround(text.toDouble() * 1000.0)), source);
        };
        if (!reader) {
            accept(typed, ReadingSource::Typed);
            return;
        }
        const MeterQuantity q = IsCurrentPoint(meterStep) ? MeterQuantity::Current : MeterQuantity::Voltage;
        reader->Read(q, IsCurrentPoint(meterStep) ? QByteArray("MEAS:CURR:DC?") : QByteArray("MEAS:VOLT:DC?"),
                     [accept, typed](const MeterResult& r) {
                         // Whatever the meter did, the operator has the value: typed when it gave none.
                         if (r.ok) accept(QString::number(r.value, 'g', 8), ReadingSource::Meter);
                         else accept(typed, ReadingSource::Typed);
                     });
    });

    link.SetDefaults();
    if (!link.OpenPort(1, 9600)) {
        std::printf("CELL end=noport\n");
        return 1;
    }
    if (kind == QLatin1String("clearing"))
        clearing.btnClearClick();
    else
        engine.btnStartClick();

    // A stalled run waits for ever by design: seen still waiting a little later, it is stalled.
    QTimer watch;
    int stalledFor = 0;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!watcher.end.isEmpty()) QCoreApplication::quit();
        if (watcher.stalled && s.FCalibrating && ++stalledFor >= 15) {
            watcher.end = QStringLiteral("stalled");
            engine.btnCancelClick();
            QCoreApplication::quit();
        }
    });
    watch.start(100);
    QTimer patience;
    patience.setSingleShot(true);
    QObject::connect(&patience, &QTimer::timeout, [&] {
        watcher.end = QStringLiteral("hung");
        QCoreApplication::quit();
    });
    patience.start(180000);
    QCoreApplication::exec();
    link.ClosePort();
    sim.stop();

    // Every set-point frame the supply received carries the reading confirmed for its point, and
    // every serial-number frame the number meant for this supply (it reports 000042).
    bool valuesOk = true, serialOk = true;
    int point = 0;
    for (const QString& line : sim.linesStartingWith(QStringLiteral("RX "))) {
        const QStringList hex = line.mid(3).section(QLatin1Char('|'), 0, 0).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (hex.value(2) == QLatin1String("85")) point = hex.value(3).toInt(nullptr, 16);
        if (hex.value(2) == QLatin1String("87")) point = 5 + hex.value(3).toInt(nullptr, 16);
        if (hex.value(2) == QLatin1String("86") || hex.value(2) == QLatin1String("88")) {
            const auto it = watcher.accepted.find(point);
            if (it == watcher.accepted.end() || it->second != FrameValue(hex)) valuesOk = false;
        }
        if (hex.value(2) == QLatin1String("8B")) {
            QByteArray digits;
            for (int i = 3; i < 9; ++i) digits += static_cast<char>(hex.value(i).toUInt(nullptr, 16));
            if (digits != "000042") serialOk = false;
        }
    }
    // The supply's own account of the cell, for looking into one that ended otherwise than meant.
    if (const QString log = qEnvironmentVariable("CELL_LOG"); !log.isEmpty()) {
        QFile file(log);
        if (file.open(QIODevice::WriteOnly)) file.write(sim.output().toUtf8());
    }
    std::printf("CELL end=%s values=%s serial=%s step=%d\n", qPrintable(watcher.end), valuesOk ? "ok" : "BAD",
                serialOk ? "ok" : "BAD", watcher.endStep);
    return 0;
}
