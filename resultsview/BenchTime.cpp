// Times as the results window shows them: in the bench's own zone, with its offset from UTC.
#include "BenchTime.h"

#include "ResultsDb.h"

QString BenchTime(const QDateTime& moment)
{
    const QDateTime local = moment.toLocalTime();
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + UtcOffsetText(local);
}

QString BenchTimeOf(const QString& recorded)
{
    const QDateTime moment = QDateTime::fromString(recorded.trimmed(), Qt::ISODateWithMs);
    return moment.isValid() ? BenchTime(moment) : recorded;
}
