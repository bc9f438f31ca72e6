// The expanded uncertainty of a reading, from the meter's datasheet accuracy, the reading's last
// digit and the spread of the readings taken at its point.
#include "Uncertainty.h"

#include <QRegularExpression>
#include <QStringList>

#include <cmath>

namespace {

// DCV:0.2=0.05%+3, DCA:2A=0.2%+0.5mA; the unit letters are checked against the function.
const QRegularExpression Entry(QStringLiteral("^(DC[VA])(?::([0-9]*\\.?[0-9]+)(M|U)?([VA])?)?=([0-9]*\\.?[0-9]+)%"
                                              "(?:\\+([0-9]*\\.?[0-9]+)(M|U)?([VA])?)?$"));

double Scale(const QString& prefix)
{
    if (prefix == QLatin1String("M")) return 1e-3;
    if (prefix.isEmpty()) return 1.0;
    return 1e-6;
}

}  // namespace

const AccuracyTerm* MeterAccuracy::TermFor(bool current, double value) const
{
    const AccuracyTerm* ranged = nullptr;
    const AccuracyTerm* any = nullptr;
    for (const AccuracyTerm& t : terms) {
        if (t.current != current) continue;
        if (t.fullScale == 0.0) {
            if (!any) any = &t;
        } else if (std::fabs(value) <= t.fullScale && (!ranged || t.fullScale < ranged->fullScale)) {
            ranged = &t;
        }
    }
    return ranged ? ranged : any;
}

std::optional<MeterAccuracy> ParseAccuracy(const QString& text, QString* problem)
{
    MeterAccuracy accuracy;
    auto refuse = [&](const QString& why) {
        if (problem) *problem = why;
        return std::nullopt;
    };
    for (QString part : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        part.remove(QRegularExpression(QStringLiteral("\\s"))).replace(QLatin1Char(','), QLatin1Char('.'));
        // Upper case would make a micro sign a Greek capital.
        part.replace(QChar(0x00B5), QLatin1Char('u')).replace(QChar(0x03BC), QLatin1Char('u'));
        if (part.isEmpty()) continue;
        const auto m = Entry.match(part.toUpper());
        if (!m.hasMatch()) return refuse(QStringLiteral("\"%1\" is not a function with its accuracy, such as DCV=0.025%+2").arg(part));
        AccuracyTerm t;
        t.current = m.captured(1) == QLatin1String("DCA");
        const QChar unit = t.current ? QLatin1Char('A') : QLatin1Char('V');
        if ((!m.captured(4).isEmpty() && m.captured(4)[0] != unit) || (!m.captured(8).isEmpty() && m.captured(8)[0] != unit))
            return refuse(QStringLiteral("\"%1\" mixes volts and amperes").arg(part));
        if (!m.captured(3).isEmpty() && m.captured(4).isEmpty())
            return refuse(QStringLiteral("\"%1\": a range's prefix needs its unit").arg(part));
        if (!m.captured(7).isEmpty() && m.captured(8).isEmpty())
            return refuse(QStringLiteral("\"%1\": a floor's prefix needs its unit").arg(part));
        if (!m.captured(2).isEmpty()) {
            t.fullScale = m.captured(2).toDouble() * Scale(m.captured(3));
            if (t.fullScale <= 0) return refuse(QStringLiteral("\"%1\" names a range of zero").arg(part));
        }
        t.readingPct = m.captured(5).toDouble();
        const double floor = m.captured(6).toDouble();
        if (m.captured(8).isEmpty()) t.counts = floor;
        else t.floor = floor * Scale(m.captured(7));
        accuracy.terms.push_back(t);
    }
    if (accuracy.terms.empty()) return refuse(QStringLiteral("no accuracy is given"));
    return accuracy;
}

UncertaintyBudget EvaluateUncertainty(const MeterAccuracy& accuracy, bool current, const ReadingEvidence& reading)
{
    UncertaintyBudget b;
    const AccuracyTerm* term = accuracy.TermFor(current, reading.value);
    if (!term) {
        b.why = current ? QStringLiteral("no accuracy for DC amperes") : QStringLiteral("no accuracy for DC volts");
        return b;
    }
    if (!(reading.resolution > 0)) {
        b.why = QStringLiteral("the reading's last digit is not known");
        return b;
    }
    const double root3 = std::sqrt(3.0);
    b.accuracyLimit = term->readingPct / 100.0 * std::fabs(reading.value) + term->counts * reading.resolution + term->floor;
    const double uAccuracy = b.accuracyLimit / root3;
    const double uResolution = reading.resolution / (2.0 * root3);
    const double uSpread = reading.reads >= 2 ? reading.deviation : 0.0;
    b.expanded = 2.0 * std::sqrt(uAccuracy * uAccuracy + uResolution * uResolution + uSpread * uSpread);
    b.evaluated = true;
    return b;
}

QString ExpandedText(double expanded, bool current)
{
    const QString unit = current ? QStringLiteral("mA") : QStringLiteral("mV");
    const double milli = expanded * 1000.0;
    if (!(milli > 0)) return QStringLiteral("\u00b10 ") + unit;
    // Two significant digits, as an uncertainty is stated; the places follow from them.
    const int exponent = static_cast<int>(std::floor(std::log10(milli)));
    const double step = std::pow(10.0, exponent - 1);
    const double rounded = std::round(milli / step) * step;
    const int places = std::max(0, 1 - static_cast<int>(std::floor(std::log10(rounded))));
    return QStringLiteral("\u00b1%1 %2").arg(QString::number(rounded, 'f', places), unit);
}
