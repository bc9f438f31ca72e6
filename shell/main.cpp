// Program entry: the options, the single-instance rule, then the station built and run.
#include <QApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>
#include <sys/stat.h>
#include <memory>

#include "AutoOperator.h"
#include "CommandLine.h"
#include "ConfigFile.h"
#include "PortMap.h"
#include "QtClock.h"
#include "QtSerialControl.h"
#include "SingleInstance.h"
#include "TerminalText.h"
#include "Station.h"

int main(int argc, char* argv[]) {
    if (const std::optional<int> answered = AnswerCommandLine(argc, argv)) return *answered;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvex Power Calibrator"));

    // Only for a run without anyone at the bench (a server, a container, a check of the set-up)
    // and for measuring the start-up; a line that cannot be used was answered above.
    const CommandLine options = ParseCommandLine(QApplication::arguments());
    const bool automatic = options.automatic;
    const bool quitWhenShown = options.quitWhenShown;

    // A second start shows nothing, reads nothing and opens nothing: it only calls the first.
    SingleInstance instance;
    const SingleInstance::Role role = instance.Claim();
    // Why a folder was passed by, and why none served.
    for (const QString& problem : instance.problems())
        std::fputs(qPrintable(QStringLiteral("korvex-calibrator: %1\n").arg(problem)), stderr);
    switch (role) {
        case SingleInstance::Role::Primary:
            break;
        case SingleInstance::Role::Secondary:
            if (automatic) {
                std::fputs("korvex-calibrator: the calibrator is running already; no automatic run\n", stderr);
                return 1;
            }
            return 0;
        case SingleInstance::Role::Failed:
            return 1;
    }

    const QString dir = DataDir();
    QDir().mkpath(dir);
    // The shared folder of an installed bench (or any folder a bench's operators share) is theirs
    // together: what one of them writes there (the results database above all) the others must
    // be able to write too.
    if (dir != ExeDir() || IsSharedFolder(dir)) ::umask(0002);
    const QString iniPath = dir + QStringLiteral("Config.Ini");

    QtClock clock;
    QtSerialControl comm([iniPath](int port) { return PortDevicePath(port, iniPath); });

    StationParts parts;
    parts.comm = &comm;
    parts.clock = &clock;
    parts.iniPath = iniPath;
    Station station(parts);
    TMainForm& form = station.form();

    QObject::connect(&instance, &SingleInstance::restoreRequested, &form,
                     [&form] { form.guard().Run([&form] { form.WMRestoreInstance(); }); });

    std::unique_ptr<AutoOperator> autoOperator;
    if (automatic) {
        AutoOperator::Options autoOptions;
        autoOptions.levelsFile = options.levels;
        autoOptions.runs = options.runs;
        autoOptions.databasePath = station.databasePath();
        autoOptions.runUid = [&station] { return station.record().runUid(); };
        autoOperator = std::make_unique<AutoOperator>(form, autoOptions, [](const QString& line) {
            // Box texts carry what a meter or a file said, which must not reach the terminal raw.
            std::fputs(qPrintable(TerminalText(line) + QLatin1Char('\n')), stdout);
            std::fflush(stdout);
        });
        autoOperator->Start();
    }

    form.show();
    if (quitWhenShown) {
        QApplication::processEvents();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("PEAK_RSS_KB %ld\n", usage.ru_maxrss);
        return 0;
    }
    // Opened once the window is up (every run start opens it too, should it still be closed): the
    // start-up does not wait for the database.
    QTimer::singleShot(0, &form, [&station] { station.OpenRecord(); });
    const int code = QApplication::exec();
    autoOperator.reset();
    return code;
}
