// What a meter driven by libsigrok reports, checked for the quantity a calibration point needs,
// and who a meter says it is, for the record.
#include "MeterSample.h"

#include <libsigrok/libsigrok.h>

#include <QStringList>

#include <cmath>

namespace {

// Flags that make a number something other than the present DC level at the terminals.
constexpr std::uint64_t NotPresentLevel = SR_MQFLAG_HOLD | SR_MQFLAG_MAX | SR_MQFLAG_MIN | SR_MQFLAG_RELATIVE |
                                          SR_MQFLAG_AVG | SR_MQFLAG_REFERENCE | SR_MQFLAG_DURATION;

QString UnitSymbol(int unit)
{
    switch (unit) {
        case SR_UNIT_VOLT: return QStringLiteral("V");
        case SR_UNIT_AMPERE: return QStringLiteral("A");
        case SR_UNIT_OHM: return QStringLiteral("Ω");
        case SR_UNIT_FARAD: return QStringLiteral("F");
        case SR_UNIT_KELVIN: return QStringLiteral("K");
        case SR_UNIT_CELSIUS: return QStringLiteral("°C");
        case SR_UNIT_FAHRENHEIT: return QStringLiteral("°F");
        case SR_UNIT_HERTZ: return QStringLiteral("Hz");
        case SR_UNIT_PERCENTAGE: return QStringLiteral("%");
        case SR_UNIT_SECOND: return QStringLiteral("s");
        case SR_UNIT_SIEMENS: return QStringLiteral("S");
        case SR_UNIT_DECIBEL_MW: return QStringLiteral("dBm");
        case SR_UNIT_DECIBEL_VOLT: return QStringLiteral("dBV");
        case SR_UNIT_WATT: return QStringLiteral("W");
        default: return QStringLiteral("(unit %1)").arg(unit);
    }
}

QString FlagWords(std::uint64_t flags)
{
    QStringList words;
    if (flags & SR_MQFLAG_AC) words << QStringLiteral("AC");
    if (flags & SR_MQFLAG_DC) words << QStringLiteral("DC");
    if (flags & SR_MQFLAG_DIODE) words << QStringLiteral("diode");
    if (flags & SR_MQFLAG_HOLD) words << QStringLiteral("HOLD");
    if (flags & SR_MQFLAG_RELATIVE) words << QStringLiteral("REL");
    if (flags & SR_MQFLAG_MIN) words << QStringLiteral("MIN");
    if (flags & SR_MQFLAG_MAX) words << QStringLiteral("MAX");
    if (flags & SR_MQFLAG_AVG) words << QStringLiteral("AVG");
    return words.join(QLatin1Char(' '));
}

MeterReply Refused(MeterReply::Kind kind, const QString& shows, const QString& todo)
{
    MeterReply r;
    r.kind = kind;
    r.problem = QStringLiteral("The meter %1: %2").arg(shows, todo);
    r.advice = true;
    return r;
}

}  // namespace

QString SampleText(const MeterSample& s)
{
    if (s.mq == SR_MQ_CONTINUITY) return QStringLiteral("continuity");
    const QString number = std::isfinite(s.value) ? QString::number(s.value, 'g', 6) : QStringLiteral("OL");
    const QString flags = FlagWords(s.flags);
    return QStringLiteral("%1 %2").arg(number, UnitSymbol(s.unit)) + (flags.isEmpty() ? QString() : QLatin1Char(' ') + flags);
}

MeterReply CheckSample(const MeterSample& s, MeterQuantity expected)
{
    const bool volts = expected == MeterQuantity::Voltage;
    const int mq = volts ? SR_MQ_VOLTAGE : SR_MQ_CURRENT;
    const int unit = volts ? SR_UNIT_VOLT : SR_UNIT_AMPERE;
    const QString dial = volts ? QStringLiteral("set its dial to DC volts") : QStringLiteral("set its dial to DC amperes");
    const QString shows = s.mq == SR_MQ_CONTINUITY ? QStringLiteral("is set to continuity")
                                                   : QStringLiteral("reads %1").arg(SampleText(s));
    // Some drivers (fluke-dmm among them) report an overload without the DC flag: the quantity
    // and unit are still the point's, so the range is what the operator must change.
    const bool quantityRight = s.mq == mq && s.unit == unit && !(s.flags & SR_MQFLAG_AC);
    if (quantityRight && !std::isfinite(s.value))
        return Refused(MeterReply::Kind::Overload, QStringLiteral("shows an overload (OL)"),
                       volts ? QStringLiteral("choose a higher volts range or auto range") : QStringLiteral("choose a higher amperes range or check its fuse"));
    // AC+DC is a true-RMS reading of both, not the DC level the supply is calibrated to.
    const bool kindRight = s.mq == mq && s.unit == unit && (s.flags & SR_MQFLAG_DC) && !(s.flags & (SR_MQFLAG_AC | SR_MQFLAG_DIODE));
    if (!kindRight) return Refused(MeterReply::Kind::OtherQuantity, shows, dial);
    if (s.flags & SR_MQFLAG_HOLD) return Refused(MeterReply::Kind::OtherQuantity, shows, QStringLiteral("release HOLD"));
    if (s.flags & NotPresentLevel)
        return Refused(MeterReply::Kind::OtherQuantity, shows, QStringLiteral("turn off %1").arg(FlagWords(s.flags & NotPresentLevel)));
    MeterReply r;
    r.kind = MeterReply::Kind::Value;
    r.value = s.value;
    // Without the driver's digits, the shortest text of the value is the best guess of the display.
    r.resolution = s.hasDigits ? std::pow(10.0, -s.digits) : NumberResolution(QString::number(s.value, 'g', 7));
    return r;
}

QString MeterIdentity::describe() const
{
    QStringList words;
    for (const QString& w : {vendor, model, version})
        if (!w.isEmpty()) words << w;
    QString text = words.join(QLatin1Char(' '));
    if (!serial.isEmpty()) text += QStringLiteral(" (serial %1)").arg(serial);
    if (!connection.isEmpty()) text += QStringLiteral(" on ") + connection;
    return text;
}

MeterIdentity ParseIdn(const QByteArray& line, const QString& connection)
{
    const QStringList fields = QString::fromLatin1(line).split(QLatin1Char(','));
    MeterIdentity id;
    id.source = QStringLiteral("SCPI");
    id.connection = connection;
    auto field = [&fields](int i) { return i < fields.size() ? fields[i].trimmed() : QString(); };
    id.vendor = field(0);
    id.model = field(1);
    id.serial = field(2) == QLatin1String("0") ? QString() : field(2);
    id.version = field(3);
    return id;
}
