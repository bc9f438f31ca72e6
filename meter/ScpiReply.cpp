// What a bench multimeter answers to a measure query, taken apart without trusting it.
#include "ScpiReply.h"

#include <QRegularExpression>

#include <cmath>

namespace {

constexpr double OverloadValue = 9.9e37;
constexpr int LongestLine = 64;

// A number, blanks, and the letters of a unit.
const QRegularExpression NumberAndUnit(
    QStringLiteral("^([+-]?(?:[0-9]+\\.?[0-9]*|\\.[0-9]+)(?:[eE][+-]?[0-9]{1,3})?)\\s*([A-Za-z]*)$"));

// A number as typed or answered, with a decimal point or comma: its places and exponent.
const QRegularExpression PlainNumber(QStringLiteral("^\\s*[+-]?([0-9]*)(?:[.,]([0-9]*))?(?:[eE]([+-]?[0-9]{1,3}))?\\s*$"));

MeterReply Garbled(const QString& why)
{
    MeterReply r;
    r.kind = MeterReply::Kind::Garbled;
    r.problem = why;
    return r;
}

}  // namespace

double NumberResolution(const QString& text)
{
    const auto m = PlainNumber.match(text);
    if (!m.hasMatch() || m.captured(1).size() + m.captured(2).size() == 0) return 0.0;
    return std::pow(10.0, m.captured(3).toInt() - static_cast<int>(m.captured(2).size()));
}

MeterReply ParseMeterReply(const QByteArray& line, MeterQuantity expected)
{
    const QByteArray trimmed = line.trimmed();
    if (trimmed.isEmpty()) {
        MeterReply r;
        r.problem = QStringLiteral("the meter sent an empty answer");
        return r;
    }
    if (trimmed.size() > LongestLine) return Garbled(QStringLiteral("the meter's answer is not a reading"));
    for (char c : trimmed)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7E)
            return Garbled(QStringLiteral("the meter's answer is not a reading"));

    const auto m = NumberAndUnit.match(QString::fromLatin1(trimmed));
    if (!m.hasMatch()) return Garbled(QStringLiteral("the meter's answer \"%1\" is not a reading").arg(QString::fromLatin1(trimmed)));
    const QString unit = m.captured(2).toUpper();
    const bool volts = unit == QLatin1String("V") || unit == QLatin1String("VDC");
    const bool amps = unit == QLatin1String("A") || unit == QLatin1String("ADC");
    if (!unit.isEmpty() && !volts && !amps)
        return Garbled(QStringLiteral("the meter answered in an unknown unit \"%1\"").arg(m.captured(2)));
    if ((expected == MeterQuantity::Voltage && amps) || (expected == MeterQuantity::Current && volts))
        return Garbled(expected == MeterQuantity::Voltage ? QStringLiteral("the meter measures a current, not a voltage")
                                                          : QStringLiteral("the meter measures a voltage, not a current"));

    bool ok = false;
    const double value = m.captured(1).toDouble(&ok);
    if (!ok || !std::isfinite(value)) return Garbled(QStringLiteral("the meter's answer is not a reading"));
    MeterReply r;
    if (std::fabs(value) >= OverloadValue) {
        r.kind = MeterReply::Kind::Overload;
        r.problem = QStringLiteral("the meter shows an overload: its range is too small");
        return r;
    }
    r.kind = MeterReply::Kind::Value;
    r.value = value;
    r.resolution = NumberResolution(m.captured(1));
    return r;
}
