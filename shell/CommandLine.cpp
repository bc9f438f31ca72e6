// The calibrator's command line: parsing, the GNU-style --help and --version, and their answers.
#include "CommandLine.h"

#include "Version.h"

#include <cstdio>

namespace {

constexpr char Program[] = "korvex-calibrator";

void Write(std::FILE* stream, const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
}

}  // namespace

CommandLine ParseCommandLine(const QStringList& args) {
    CommandLine line;
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == QLatin1String("--help")) {
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
