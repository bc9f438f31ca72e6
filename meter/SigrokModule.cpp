// Loads the libsigrok module when a hand-held meter is first asked for, and forwards to it.
#include "SigrokModule.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QStringList>

namespace {

// Loaded once and kept for the process: beside the program as installed, else where the build
// made it.
const SigrokModuleApi* Module(QString* error)
{
    static const SigrokModuleApi* api = nullptr;
    if (api) return api;
    const QStringList dirs = {QCoreApplication::applicationDirPath() + QStringLiteral("/../" KORVEX_MODULE_SUBDIR),
                              QStringLiteral(KORVEX_BUILD_MODULE_DIR)};
    QStringList failures;
    for (const QString& dir : dirs) {
        const QString path = dir + QLatin1Char('/') + QLatin1String(SigrokModuleFile);
        if (!QFileInfo::exists(path)) {
            failures << QStringLiteral("%1 is missing").arg(QDir::cleanPath(path));
            continue;
        }
        QLibrary module(path);
        if (module.load()) {
            if (const auto entry = reinterpret_cast<SigrokModuleEntry>(module.resolve(SigrokModuleSymbol))) {
                api = entry();
                return api;
            }
        }
        failures << module.errorString();
    }
    if (error) *error = QStringLiteral("libsigrok cannot be loaded: %1").arg(failures.join(QStringLiteral("; ")));
    return nullptr;
}

}  // namespace

std::unique_ptr<SigrokDevice> MakeSigrokMeter(const MeterSettings& settings, const QString& conn, QString* error)
{
    const SigrokModuleApi* api = Module(error);
    return api ? api->makeMeter(settings, conn) : nullptr;
}

QList<std::pair<QString, QString>> SigrokMultimeterDrivers(QString* error)
{
    const SigrokModuleApi* api = Module(error);
    return api ? api->drivers(error) : QList<std::pair<QString, QString>>{};
}

void SigrokScan(const MeterSettings& settings, const QString& conn, QObject* context, SigrokScanDone done)
{
    QString error;
    const SigrokModuleApi* api = Module(&error);
    if (!api) {
        done({}, error);
        return;
    }
    api->scan(settings, conn, context, std::move(done));
}
