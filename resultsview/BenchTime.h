// Times as the results window shows them: in the bench's own zone, with its offset from UTC.
#pragma once

#include <QDateTime>
#include <QString>

// "2026-12-10 14:03:11 +01:00": the moment in the bench's local time, whichever bench or zone
// recorded it, so that runs of a line in several zones, or across a change of summer time, read
// in one order.
QString BenchTime(const QDateTime& moment);
// A time the record holds (ISO 8601, with or without its offset) as BenchTime shows it; text that
// is no such time as it stands.
QString BenchTimeOf(const QString& recorded);
