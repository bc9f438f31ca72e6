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

QString ResultsDatabasePath(const QString& iniPath, QString* problem) {
    const QDir folder = QFileInfo(iniPath).absoluteDir();
    const QString set =
        IniFile(iniPath).ReadString(QStringLiteral("Results"), QStringLiteral("Database"), QString()).trimmed();
    if (set.isEmpty()) return folder.filePath(QStringLiteral("PowerTestDb.sqlite"));
    const QString path = QDir::cleanPath(folder.absoluteFilePath(set));
    // Whoever may edit a shared Config.Ini must not be able to point an operator's calibrator at
    // that operator's own files.
    if (problem && IsSharedFolder(folder.path())) {
        const QString inside = QDir::cleanPath(folder.absolutePath()) + QLatin1Char('/');
        const QString realFolder = QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath() + QLatin1Char('/');
        if (!path.startsWith(inside) || !realFolder.startsWith(QFileInfo(folder.absolutePath()).canonicalFilePath() + QLatin1Char('/')))
            *problem = QStringLiteral("[Results] Database=%1 lies outside the bench's folder %2, which other users may write; "
                                      "a record there is not opened")
                           .arg(set, folder.absolutePath());
    }
    return path;
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

StoredConfig ReadConfig(const QString& iniPath, QString* unreadable) {
    const IniFile ini(iniPath);
    if (unreadable) {
        unreadable->clear();
        if (ini.state(unreadable) != FileState::Unreadable) unreadable->clear();
    }
    StoredConfig config;
    config.unitCounter = ini.ReadInteger(Section, KeyPowerId, DefaultPowerId);
    const bool equality = ini.ReadBool(Section, KeyEquality, false);
    const int interval = ini.ReadInteger(Section, KeyInterval, DefaultInterval);
    if (equality) config.unitCounter = NextUnitCounter(config.unitCounter);
    config.readIntervalMs = ClampInterval(interval);
    return config;
}

std::int32_t NextUnitCounter(std::int32_t counter) {
    // Wraps like the 32-bit counter it is instead of overflowing at the top of the range.
    return static_cast<std::int32_t>(static_cast<quint32>(counter) + 1u);
}

void SaveUnitCounter(std::int32_t counter, bool equality, const QString& iniPath) {
    // One replacement for both keys: a counter on the disk always has its own Equality beside it.
    IniFile(iniPath).WriteStrings(Section, {{KeyPowerId, QString::number(counter)},
                                            {KeyEquality, equality ? QStringLiteral("1") : QStringLiteral("0")}});
}

void SaveConfig(const TRunState& state, const QString& iniPath) {
    SaveUnitCounter(state.FUnitCounter, state.FReadSerial == static_cast<quint32>(state.FUnitCounter), iniPath);
}
