// The calibrator's command line: parsing, the GNU-style --help and --version, and their answers.
#include "CommandLine.h"

#include "Version.h"

#include <cstdio>

namespace {

constexpr char Program[] = "korvex-calibrator";

// Qt's own options, which QApplication takes off the line later: with a value, and without one.
// Qt reads them with one dash or two.
const QStringList QtValueOptions{QStringLiteral("platform"),   QStringLiteral("platformpluginpath"), QStringLiteral("platformtheme"),
                                 QStringLiteral("plugin"),     QStringLiteral("qwindowgeometry"),    QStringLiteral("qwindowicon"),
                                 QStringLiteral("qwindowtitle"), QStringLiteral("session"),          QStringLiteral("display"),
                                 QStringLiteral("geometry"),   QStringLiteral("title"),              QStringLiteral("icon"),
                                 QStringLiteral("name"),       QStringLiteral("style"),              QStringLiteral("stylesheet")};
const QStringList QtFlagOptions{QStringLiteral("reverse"), QStringLiteral("widgetcount"), QStringLiteral("nograb"),
                                QStringLiteral("dograb"),  QStringLiteral("sync"),        QStringLiteral("testability")};
const QStringList QtJoinedOptions{QStringLiteral("style="), QStringLiteral("stylesheet="), QStringLiteral("qmljsdebugger=")};

// How many arguments a Qt option at `arg` takes up (itself and its value); 0 when it is none of Qt's.
int QtOptionLength(const QString& arg) {
    if (!arg.startsWith(QLatin1Char('-'))) return 0;
    const QString name = arg.mid(arg.startsWith(QLatin1String("--")) ? 2 : 1);
    if (QtValueOptions.contains(name)) return 2;
    if (QtFlagOptions.contains(name)) return 1;
    for (const QString& joined : QtJoinedOptions)
        if (name.startsWith(joined)) return 1;
    return 0;
}

void Write(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& args) {
    CommandLine line;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == QLatin1String("--")) break;
        if (const int qtLength = QtOptionLength(arg)) {
            i += qtLength - 1;
        } else if (arg == QLatin1String("--help")) {
            line.help = true;
        } else if (arg == QLatin1String("--version")) {
            line.version = true;
        } else if (arg == QLatin1String("--automatic")) {
            line.automatic = true;
        } else if (arg == QLatin1String("--quit-when-shown")) {
            line.quitWhenShown = true;
        } else if (arg == QLatin1String("--levels") || arg == QLatin1String("--runs")) {
            if (i + 1 >= args.size()) {
                line.error = QStringLiteral("option '%1' requires an argument").arg(arg);
                continue;
            }
            const QString value = args.at(++i);
            if (arg == QLatin1String("--levels")) {
                line.levels = value;
                continue;
            }
            bool ok = false;
            line.runs = value.toInt(&ok);
            if (!ok || line.runs < 1) {
                line.error = QStringLiteral("invalid number of runs '%1'").arg(value);
                line.runs = 1;
            }
        } else if (arg.startsWith(QLatin1Char('-')) && arg.size() > 1 && line.error.isEmpty()) {
            // A mistyped option must not start a bench that silently does something else.
            line.error = QStringLiteral("unrecognized option '%1'").arg(arg);
        }
    }
    return line;
}

QString HelpText() {
    return QStringLiteral(
               "Usage: %1 [OPTION]...\n"
               "Calibrate Korvex 7200 series power supplies over a serial line and keep the\n"
               "record of every unit.\n"
               "\n"
               "Without options the main window opens for the operator at the bench. The\n"
               "options below are for a run without anyone at the bench (a server, a\n"
               "container, a check of the set-up).\n"
               "\n"
               "      --automatic        answer every window as an operator would\n"
               "      --levels FILE      read the levels to type, when no meter is read, from\n"
               "                           FILE, the output of the simulated supply psu-sim\n"
               "      --runs N           with --automatic, calibrate N units one after the\n"
               "                           other (default 1)\n"
               "      --quit-when-shown  end once the main window is shown and print its peak\n"
               "                           memory as PEAK_RSS_KB, for timing the start-up\n"
               "      --help             display this help and exit\n"
               "      --version          output version information and exit\n"
               "\n"
               "Qt's own options (-platform, -style, -reverse, ...) are passed on to Qt. Any\n"
               "other option is an error (exit status 2).\n"
               "\n"
               "Only one calibrator runs per user: a second start brings the running window to\n"
               "the front and ends. Installed, the calibrator keeps Config.Ini, the results\n"
               "database and its work folder Temp in %2; started from\n"
               "any other folder, it keeps them beside itself.\n"
               "\n"
               "Environment:\n"
               "  XDG_RUNTIME_DIR  the folder in which the running calibrator is found; without\n"
               "                   it, a folder of its own in TMPDIR (or /tmp), or in HOME where\n"
               "                   another user has taken that name\n")
        .arg(QLatin1String(Program), QStringLiteral(KORVEX_SHARED_DATA_DIR));
}

QString VersionBanner() {
    return QStringLiteral("%1 (Korvex Power Calibrator) " KORVEX_VERSION_TEXT "\n").arg(QLatin1String(Program));
}

std::optional<int> AnswerCommandLine(int argc, char* argv[]) {
    QStringList args;
    for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    const CommandLine line = ParseCommandLine(args);
    if (line.help) {
        Write(stdout, HelpText());
        return 0;
    }
    if (line.version) {
        Write(stdout, VersionBanner());
        return 0;
    }
    if (!line.error.isEmpty()) {
        Write(stderr, QStringLiteral("%1: %2\nTry '%1 --help' for more information.\n")
                          .arg(QLatin1String(Program), line.error));
        return 2;
    }
    return std::nullopt;
}
