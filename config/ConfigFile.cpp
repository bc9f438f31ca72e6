// Config.Ini beside the executable: the unit counter, its Equality flag and the read-timer period.
#include "ConfigFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include "IniFile.h"

namespace {
const QString Section = QStringLiteral("Config");
const QString KeyPowerId = QStringLiteral("PowerID");
const QString KeyEquality = QStringLiteral("Equality");
const QString KeyInterval = QStringLiteral("Interval");
constexpr qint32 DefaultPowerId = 1;
constexpr int DefaultInterval = 500;
constexpr int MaxInterval = 60000;
}  // namespace

QString ExeDir() {
    QString dir =
        QCoreApplication::instance()
            ? QCoreApplication::applicationDirPath()
            : QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath()).absolutePath();
    if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
    return dir;
}

QString ResultsDatabasePath(const QString& iniPath) {
    const QDir folder = QFileInfo(iniPath).absoluteDir();
    const QString set =
        IniFile(iniPath).ReadString(QStringLiteral("Results"), QStringLiteral("Database"), QString()).trimmed();
    if (set.isEmpty()) return folder.filePath(QStringLiteral("PowerTestDb.sqlite"));
    return QDir::cleanPath(folder.absoluteFilePath(set));
}

QString DataDirFor(const QString& exeDir, const QString& installedBinDir, const QString& sharedDir) {
    auto slash = [](QString dir) {
        if (!dir.endsWith(QLatin1Char('/'))) dir += QLatin1Char('/');
        return dir;
    };
    const QString here = QFileInfo(exeDir).canonicalFilePath();
    const QString installed = QFileInfo(installedBinDir).canonicalFilePath();
    if (!installed.isEmpty() && here == installed) return slash(sharedDir);
    return slash(exeDir);
}

QString DataDir() {
    return DataDirFor(ExeDir(), QStringLiteral(KORVEX_INSTALLED_BINDIR), QStringLiteral(KORVEX_SHARED_DATA_DIR));
}

int ClampInterval(int ms) {
    if (ms <= 0) return DefaultInterval;
    if (ms > MaxInterval) return MaxInterval;
    return ms;
}

StoredConfig ReadConfig(const QString& iniPath) {
    const IniFile ini(iniPath);
    StoredConfig config;
    config.unitCounter = ini.ReadInteger(Section, KeyPowerId, DefaultPowerId);
    const bool equality = ini.ReadBool(Section, KeyEquality, false);
    const int interval = ini.ReadInteger(Section, KeyInterval, DefaultInterval);
    // Wraps like the 32-bit counter it is instead of overflowing at the top of the range.
    if (equality) config.unitCounter = static_cast<qint32>(static_cast<quint32>(config.unitCounter) + 1u);
    config.readIntervalMs = ClampInterval(interval);
    return config;
}

void SaveConfig(const TRunState& state, const QString& iniPath) {
    IniFile ini(iniPath);
    ini.WriteInteger(Section, KeyPowerId, state.FUnitCounter);
    ini.WriteBool(Section, KeyEquality, state.FReadSerial == static_cast<quint32>(state.FUnitCounter));
}
