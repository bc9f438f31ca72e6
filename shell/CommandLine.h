// The calibrator's command line: the options of a run without anyone at the bench, --help and --version.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

struct CommandLine {
    bool automatic = false;
    QString levels;
    int runs = 1;
    bool quitWhenShown = false;
    bool help = false;
    bool version = false;
    // Why the line cannot be used; empty when it can.
    QString error;
};

// Only the calibrator's own options are read: Qt's (-platform, -style, ...) are passed over for
// QApplication, and any other option makes the line unusable.
CommandLine ParseCommandLine(const QStringList& args);
QString HelpText();
QString VersionBanner();

// Answers --help, --version and a misused option on the terminal, before any window or the
// single-instance name exists: gives the exit status then, nothing when the program is to start.
std::optional<int> AnswerCommandLine(int argc, char* argv[]);
