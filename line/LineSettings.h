// The [Database] section of Config.Ini: the line's PostgreSQL server and this bench's name in it.
#pragma once

#include "ResultsDb.h"

#include <QString>

struct LineSettings {
    // A [Database] section names a driver: the bench is on a line, whether or not the rest of
    // the section is sound. It then never hands out numbers of its own counter.
    bool enabled = false;
    // What is wrong with the section, for the operator; empty when it can be used.
    QString problem;
    ServerSettings server;
    QString bench;          // Bench=, else the host name
    int retryMs = 10000;    // how often a bench whose server is away tries again
};

// The bench's own folder of the system's settings: a password file or a certificate authority
// there serves every operator of the bench.
inline const QString BenchSystemFolder = QStringLiteral("/etc/korvex-calibrator");

LineSettings LoadLineSettings(const QString& iniPath, const QString& hostName);

// How long the calibrator's end waits for a call to the line's server still under way: a run it
// was sending stays queued and goes at the next start; a number it was taking goes to no one.
inline constexpr int LineStopLimitMs = 3000;
