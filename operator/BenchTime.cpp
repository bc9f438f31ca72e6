// Times as the results window shows them: in the bench's own zone, with its offset from UTC.
#include "BenchTime.h"

#include <cstdlib>

QString BenchTime(const QDateTime& moment)
{
    const QDateTime local = moment.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return local.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) +
           QStringLiteral("%1%2:%3")
               .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString BenchTimeOf(const QString& recorded)
{
    const QDateTime moment = QDateTime::fromString(recorded.trimmed(), Qt::ISODateWithMs);
    return moment.isValid() ? BenchTime(moment) : recorded;
}
