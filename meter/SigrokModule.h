// The hand-held meters of libsigrok, reached through a module loaded when one is first asked for:
// libsigrok and the twenty libraries it brings would otherwise slow every start of the calibrator.
#pragma once

#include "MeterLink.h"
#include "MeterSample.h"
#include "MeterSettings.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <utility>

class QObject;

// A libsigrok meter: a channel the settling reader reads, and single samples of any kind for the
// meter dialog's Test.
class SigrokDevice : public MeterChannel {
public:
    // The next sample as the meter reported it, whatever its kind; null with the error otherwise.
    using Sampled = std::function<void(const MeterSample* sample, const QString& error)>;
    virtual void Sample(Sampled done) = 0;
};

using SigrokScanDone = std::function<void(const QList<MeterIdentity>& found, const QString& error)>;

// What the module gives, found by its entry's name.
struct SigrokModuleApi {
    std::unique_ptr<SigrokDevice> (*makeMeter)(const MeterSettings& settings, const QString& conn);
    QList<std::pair<QString, QString>> (*drivers)(QString* error);
    void (*scan)(const MeterSettings& settings, const QString& conn, QObject* context, SigrokScanDone done);
};
using SigrokModuleEntry = const SigrokModuleApi* (*)();
inline constexpr char SigrokModuleSymbol[] = "KorvexSigrokModule";
inline constexpr char SigrokModuleFile[] = "libkorvex-sigrok.so";

// A meter on `conn` (COMn already mapped, see MeterDevicePath); null with `error` set when the
// module cannot be loaded.
std::unique_ptr<SigrokDevice> MakeSigrokMeter(const MeterSettings& settings, const QString& conn, QString* error);
// The library's multimeter drivers, name and long name, sorted by name; empty with `error` set
// when the module or the library cannot be started.
QList<std::pair<QString, QString>> SigrokMultimeterDrivers(QString* error);
// Looks for meters of the settings' driver on `conn`, off the window's thread; `done` is called on
// `context`'s thread with what was found or why nothing was, unless `context` is gone by then.
void SigrokScan(const MeterSettings& settings, const QString& conn, QObject* context, SigrokScanDone done);
