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
#include "Station.h"

int main(int argc, char* argv[]) {
    if (const std::optional<int> answered = AnswerCommandLine(argc, argv)) return *answered;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvex Power Calibrator"));

    // Only for a run without anyone at the bench (a server, a container, a check of the set-up):
    // --automatic answers every window as an operator would, --levels FILE names the simulator's
    // output that tells the levels to type when no meter is read.
    const QStringList args = QApplication::arguments();
    const bool automatic = args.contains(QStringLiteral("--automatic"));
    const int levelsAt = static_cast<int>(args.indexOf(QStringLiteral("--levels")));
    const QString levels = levelsAt > 0 ? args.value(levelsAt + 1) : QString();
    const int runsAt = static_cast<int>(args.indexOf(QStringLiteral("--runs")));
    const int runs = runsAt > 0 ? qMax(1, args.value(runsAt + 1).toInt()) : 1;
    // For measuring the start-up: ends once the main window is shown, telling its peak memory.
    const bool quitWhenShown = args.contains(QStringLiteral("--quit-when-shown"));

    // A second start shows nothing, reads nothing and opens nothing: it only calls the first.
    SingleInstance instance;
    switch (instance.Claim()) {
        case SingleInstance::Role::Primary:
            break;
        case SingleInstance::Role::Secondary:
            if (automatic) {
                std::fputs("korvex-calibrator: the calibrator is running already; no automatic run\n", stderr);
                return 1;
            }
            return 0;
        case SingleInstance::Role::Failed:
            std::fputs("korvex-calibrator: another start holds the instance name but cannot be reached\n",
                       stderr);
            return 1;
    }

    const QString dir = DataDir();
    QDir().mkpath(dir);
    // The shared folder of an installed bench is its operators' together: what one of them
    // writes there (the results database above all) the others must be able to write too.
    if (dir != ExeDir()) ::umask(0002);
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
        AutoOperator::Options options;
        options.levelsFile = levels;
        options.runs = runs;
        options.databasePath = station.databasePath();
        autoOperator = std::make_unique<AutoOperator>(form, options, [](const QString& line) {
            std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
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
