// The readings of ended calibrations summed up per model, point, bench, result and day, kept by
// whoever writes a run's end, so that the statistics over a line's lifetime need not read them all.
#pragma once

#include <QSqlDatabase>
#include <QString>

// Adds the readings of the ended calibration `runId` (0: of every ended calibration, as a
// migration fills the summary from the rows already there) to ReadingSummary, on a file or a line's
// server alike. The caller holds the transaction that writes the run's end, so that a run is
// counted exactly when its end is written.
bool AddToReadingSummary(const QSqlDatabase& db, qint64 runId, QString* error);

// Whether the summary holds the runs of this result: the results only a run's end gives.
bool SummaryHoldsResult(const QString& result);
