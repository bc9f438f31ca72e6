// Config.Ini beside the executable: the unit counter, its Equality flag and the read-timer period.
#pragma once

#include <QString>

#include "RunEngine.h"
#include "WholeFile.h"

// The running executable's directory, always ending in "/".
QString ExeDir();

// Where Config.Ini, the results database and the work directory live, ending in "/": beside the
// executable (the portable layout: a folder holding the program and its Config.Ini), except for
// the installed program, whose folder belongs to the system: it uses the bench's shared folder,
// the same for every operator of the bench and for korvex-results.
QString DataDir();
// The rule of DataDir, for an executable in `exeDir` with the program installed in
// `installedBinDir` and the shared folder `sharedDir`.
QString DataDirFor(const QString& exeDir, const QString& installedBinDir, const QString& sharedDir);

// The read timer's period as applied: 0 or below would leave the timer unable to fire and a run
// stuck at its first meter step, so it reads as the default; more than a minute is cut to one.
int ClampInterval(int ms);

// The results database: "Database" of section "Results" when set (a relative path is taken from
// the folder of Config.Ini), otherwise PowerTestDb.sqlite beside Config.Ini. With `problem`, why
// it must not be opened: a Config.Ini in a shared folder names a file outside that folder.
QString ResultsDatabasePath(const QString& iniPath, QString* problem = nullptr);

// The unit counter := "PowerID" (default 1), plus 1 when "Equality" is true; the read timer's
// period := "Interval" (default 500), clamped. A missing file, section or key or an unreadable
// value gives the default; this never fails. A file that is there but cannot be read also gives
// the defaults, and then *unreadable says why: its counter is not known, and 1 would be a number
// given before.
StoredConfig ReadConfig(const QString& iniPath, QString* unreadable = nullptr);

// Writes "PowerID" and "Equality" in one replacement of the file, whole or not at all. Throws
// AppError "Unable to write to <path>" when it fails; the file is then as it was.
void SaveConfig(const TRunState& state, const QString& iniPath);
// The same with the two values given.
void SaveUnitCounter(std::int32_t counter, bool equality, const QString& iniPath);
// The counter after `counter`, wrapping at the top of its 32 bits.
std::int32_t NextUnitCounter(std::int32_t counter);
