// A run's calibration report: one page for the unit's file, drawn for paper or PDF alike.
#include "ReportPage.h"

#include "CalPoints.h"
#include "ControlChartData.h"
#include "OPCPublic.h"
#include "RunWords.h"
#include "Uncertainty.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QLocale>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>

#include "WholeFile.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>
#include <vector>

namespace {

const QString NotRecorded = QStringLiteral("not recorded");

struct ResultMeaning {
    RecordResult result;
    const char* words;
};

// Whoever files the page may not know the stored codes; only "finished" vouches for the unit.
const ResultMeaning Meanings[] = {
    {RecordResult::Finished,
     "Every point was calibrated, and the serial number and the test date were written into the supply."},
    {RecordResult::Failed, "The supply did not take its serial number or test date; the unit is not calibrated."},
    {RecordResult::Aborted, "The run was aborted at the bench; the unit is not calibrated."},
    {RecordResult::Stalled, "The supply stopped answering and the run was left waiting; the unit is not calibrated."},
    {RecordResult::Cleared, "The supply's calibration data were cleared."},
    {RecordResult::ClearingFailed, "The supply did not confirm that its calibration data were cleared."},
    {RecordResult::Interrupted, "The program ended before the run did; how the run would have ended is not known."},
};


// In the bench's time at the moment of recording, with its offset, so that the page tells the
// moment wherever it is read.
QString Moment(const QString& iso)
{
    if (iso.isEmpty()) return NotRecorded;
    const QDateTime t = QDateTime::fromString(iso, Qt::ISODateWithMs);
    if (!t.isValid()) return iso;
    return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + t.timeZoneAbbreviation();
}

QString Duration(const RunDetails& run)
{
    const QDateTime from = QDateTime::fromString(run.startedAt, Qt::ISODateWithMs);
    const QDateTime to = QDateTime::fromString(run.endedAt, Qt::ISODateWithMs);
    if (!from.isValid() || !to.isValid()) return NotRecorded;
    const qint64 s = from.secsTo(to);
    return s < 60 ? QStringLiteral("%1 s").arg(s) : QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60);
}

QString OrNone(const QString& text) { return text.isEmpty() ? QStringLiteral("none") : text; }
QString Shown(const QString& text) { return text.isEmpty() ? NotRecorded : text; }


double ReadingValue(const ReadingRow& r) { return ReadingValue(r.typed, r.valueSent); }

// Milli-units to as many places as the reading had below them, so that the deviation claims no
// more than the meter showed.
int MilliPlaces(const QString& typed)
{
    if (typed.contains(QLatin1Char('e'), Qt::CaseInsensitive)) return 3;
    const qsizetype point = std::max(typed.indexOf(QLatin1Char('.')), typed.indexOf(QLatin1Char(',')));
    return point < 0 ? 0 : static_cast<int>(std::clamp<qsizetype>(typed.size() - point - 1 - 3, 0, 3));
}

QString Signed(double value, int places)
{
    const QString text = QString::number(std::fabs(value), 'f', places);
    if (text.toDouble() == 0.0) return text;
    return (value < 0 ? QLatin1Char('-') : QLatin1Char('+')) + text;
}

// What a certificate says of one point: how far the reading lay from the point's level, and the
// band of the plausibility check the bench held it to.
struct PointFigures {
    QString deviation;  // "+0.3 mV (+0.300 %)"
    QString band;       // "0.09–0.11 V"
    QString inBand;     // "yes", "no", or empty where there was no check
};

PointFigures Figures(const CalPoint& point, std::optional<std::uint8_t> model, const ReadingRow& r,
                     double plausibilityPct)
{
    PointFigures f;
    const double nominal = model ? NominalValue(point, *model) : 0.0;
    if (nominal == 0.0) return f;
    const double value = ReadingValue(r);
    const bool current = point.quantity == Quantity::Current;
    const double deviation = value - nominal;
    const QString milli = Signed(deviation * 1000.0, MilliPlaces(r.typed)) + (current ? QStringLiteral(" mA") : QStringLiteral(" mV"));
    // A share of several thousand percent reads like a figure of the supply; it is a wrong entry.
    f.deviation = std::fabs(deviation) > std::fabs(nominal)
                      ? milli + QStringLiteral(" (more than the level itself)")
                      : QStringLiteral("%1 (%2 %)").arg(milli, Signed(deviation / nominal * 100.0, 3));
    if (plausibilityPct < 0) {
        f.band = NotRecorded;
    } else if (plausibilityPct == 0) {
        f.band = QStringLiteral("not checked");
    } else {
        const double share = plausibilityPct / 100.0;
        f.band = QStringLiteral("%1\u2013%2 %3")
                     .arg(QString::number(nominal * (1 - share), 'g', 6), QString::number(nominal * (1 + share), 'g', 6),
                          current ? QStringLiteral("A") : QStringLiteral("V"));
        f.inBand = IsPlausibleReading(value, point.meterStep, *model, share) ? QStringLiteral("yes") : QStringLiteral("no");
    }
    return f;
}

QString Percent(double pct) { return QString::number(pct, 'g', 4); }

// The meter's accuracy a run's readings are evaluated with; null with `why` when there is none.
std::optional<MeterAccuracy> AccuracyOf(const RunDetails& run, QString* why)
{
    if (run.meterAccuracy.isEmpty()) {
        *why = QStringLiteral("no accuracy of the meter was entered at the bench");
        return std::nullopt;
    }
    QString problem;
    auto accuracy = ParseAccuracy(run.meterAccuracy, &problem);
    if (!accuracy) *why = QStringLiteral("the meter's accuracy \"%1\" is not understood (%2)").arg(run.meterAccuracy, problem);
    return accuracy;
}

UncertaintyBudget BudgetOf(const MeterAccuracy& accuracy, const ReadingRow& r)
{
    if (r.reads < 1) {
        UncertaintyBudget b;
        b.why = QStringLiteral("recorded without how it was taken");
        return b;
    }
    return EvaluateUncertainty(accuracy, r.quantity == QLatin1String("A"), {ReadingValue(r), r.reads, r.deviation, r.resolution});
}

// Milli-units to three significant digits: "0.1 mV", "0.0123 mA".
QString Milli(double value, bool current)
{
    return QStringLiteral("%1 %2").arg(QString::number(value * 1000.0, 'g', 3), current ? QStringLiteral("mA") : QStringLiteral("mV"));
}

struct Field {
    QString label;
    QString value;
    // Dates and the like are never cut; what was typed at the bench may be, past a sensible length.
    bool whole = false;
};
using Fields = std::vector<Field>;

// The page laid out at one type size. Measuring and drawing run the same code, so the size found
// to fit is the size drawn.
class Sheet {
public:
    Sheet(QPainter& painter, const QRectF& area, qreal unit, bool paint)
        : painter_(painter), area_(area), unit_(unit), paint_(paint), y_(area.top())
    {
        body_ = painter.font();
        body_.setPixelSize(std::max(1, qRound(unit)));
        // Without ligatures: a PDF gives "fi" drawn as one glyph back as one character, and
        // "finished" would not be found in the file.
        body_.setStyleStrategy(QFont::PreferNoShaping);
        bold_ = body_;
        bold_.setBold(true);
        heading_ = bold_;
        heading_.setPixelSize(std::max(1, qRound(unit * 1.15)));
        title_ = bold_;
        title_.setPixelSize(std::max(1, qRound(unit * 2.0)));
        small_ = body_;
        small_.setPixelSize(std::max(1, qRound(unit * 0.85)));
    }

    // The height and the width the report needs at this size.
    QSizeF compose(const RunDetails& run)
    {
        // The table and the budget at the foot read the same accuracy.
        accuracy_ = AccuracyOf(run, &notEvaluated_);
        titleBlock(run);
        const QString serial = run.serialWritten.isEmpty() ? run.serialRead : run.serialWritten;
        fieldBlock(QStringLiteral("Unit"),
                   {{QStringLiteral("Model"), Shown(run.model)},
                    {QStringLiteral("Serial number"), OrNone(serial)},
                    {QStringLiteral("Address"), QString::number(run.address), true}},
                   QStringLiteral("Conditions"),
                   {{QStringLiteral("Bench"), Shown(run.bench)},
                    {QStringLiteral("Operator"), Shown(run.operatorName)},
                    {QStringLiteral("Temperature (stated)"), Shown(run.temperature)},
                    {QStringLiteral("Humidity (stated)"), Shown(run.humidity)}});
        const QString port =
            run.port.isEmpty() ? NotRecorded : QStringLiteral("%1 at %2 baud").arg(run.port).arg(run.baud);
        fieldBlock(QStringLiteral("Run"),
                   {{QStringLiteral("Certificate no."), CertificateText(run), true},
                    {QStringLiteral("Started"), Moment(run.startedAt), true},
                    {QStringLiteral("Ended"), Moment(run.endedAt), true},
                    {QStringLiteral("Duration"), Duration(run), true}},
                   QStringLiteral("Station"),
                   {{QStringLiteral("Test date written"), Shown(run.dateWritten), true},
                    {QStringLiteral("Port"), port},
                    {QStringLiteral("Program version"), Shown(run.programVersion), true}});
        pointsTable(run);
        meterLine(run);
        meterBlock(run);
        notesBlock(run);
        resultBlock(run);
        uncertaintyBlock(run);
        signatures();
        return QSizeF(needWidth_, y_ - area_.top());
    }

private:
    qreal lineOf(const QFont& font) const { return QFontMetricsF(font, painter_.device()).lineSpacing(); }
    qreal widthOf(const QFont& font, const QString& text) const
    {
        return QFontMetricsF(font, painter_.device()).horizontalAdvance(text);
    }
    QString elided(const QFont& font, const QString& text, qreal width) const
    {
        return QFontMetricsF(font, painter_.device()).elidedText(text, Qt::ElideRight, width);
    }
    void text(const QRectF& r, int flags, const QString& s, const QFont& font)
    {
        if (!paint_) return;
        painter_.setFont(font);
        painter_.drawText(r, flags, s);
    }
    void line(const QPointF& from, const QPointF& to, qreal weight)
    {
        if (!paint_) return;
        painter_.setPen(QPen(Qt::black, unit_ * weight));
        painter_.drawLine(from, to);
    }
    void need(qreal width) { needWidth_ = std::max(needWidth_, width); }

    void titleBlock(const RunDetails& run)
    {
        const QString title =
            run.certificateNo.isEmpty() ? QStringLiteral("Calibration report") : QStringLiteral("Calibration certificate");
        const QString which = run.certificateNo.isEmpty() ? QStringLiteral("Run %1, %2").arg(run.id).arg(run.kind)
                                                          : QStringLiteral("No. %1").arg(run.certificateNo);
        const qreal h = lineOf(title_);
        need(widthOf(title_, title) + unit_ * 2 + widthOf(body_, which));
        const QRectF row(area_.left(), y_, area_.width(), h);
        text(row, Qt::AlignLeft | Qt::AlignVCenter, title, title_);
        text(row, Qt::AlignRight | Qt::AlignVCenter, which, body_);
        y_ += h + unit_ * 0.3;
        line({area_.left(), y_}, {area_.right(), y_}, 0.12);
        y_ += unit_ * 0.9;
    }

    // Two columns of labelled values under their headings; a typed value too long for its column
    // is cut with an ellipsis rather than shrinking the whole page for it.
    void fieldBlock(const QString& leftHeading, const Fields& left, const QString& rightHeading,
                    const Fields& right)
    {
        const qreal gap = unit_ * 2;
        const qreal column = (area_.width() - gap) / 2;
        const std::array<const Fields*, 2> sides{&left, &right};
        const std::array<QString, 2> headings{leftHeading, rightHeading};
        std::array<qreal, 2> labelWidths{};
        for (std::size_t side = 0; side < sides.size(); ++side) {
            qreal valueWidth = unit_ * 6;
            for (const Field& f : *sides[side]) {
                labelWidths[side] = std::max(labelWidths[side], widthOf(body_, f.label) + unit_);
                valueWidth = std::max(valueWidth, f.whole ? widthOf(bold_, f.value)
                                                          : std::min(widthOf(bold_, f.value), unit_ * 8));
            }
            need(2 * (labelWidths[side] + valueWidth) + gap);
        }

        const qreal hh = lineOf(heading_);
        for (std::size_t side = 0; side < sides.size(); ++side)
            text(QRectF(area_.left() + side * (column + gap), y_, column, hh),
                 Qt::AlignLeft | Qt::AlignVCenter, headings[side], heading_);
        y_ += hh;
        const qreal h = lineOf(body_);
        const std::size_t rows = std::max(left.size(), right.size());
        for (std::size_t i = 0; i < rows; ++i) {
            for (std::size_t side = 0; side < sides.size(); ++side) {
                if (i >= sides[side]->size()) continue;
                const Field& f = (*sides[side])[i];
                const qreal x = area_.left() + side * (column + gap);
                const qreal valueWidth = column - labelWidths[side];
                text(QRectF(x, y_, labelWidths[side], h), Qt::AlignLeft | Qt::AlignVCenter, f.label, body_);
                text(QRectF(x + labelWidths[side], y_, valueWidth, h), Qt::AlignLeft | Qt::AlignVCenter,
                     elided(bold_, f.value, valueWidth), bold_);
            }
            y_ += h;
        }
        y_ += unit_ * 0.9;
    }

    void pointsTable(const RunDetails& run)
    {
        constexpr std::size_t Columns = 9;
        constexpr std::size_t DeviationColumn = 3;
        constexpr std::size_t UncertaintyColumn = 4;
        constexpr std::size_t InBandColumn = 6;
        using Row = std::array<QString, Columns>;
        const Row headers{QStringLiteral("Point"), QStringLiteral("Nominal"), QStringLiteral("Reading"),
                          QStringLiteral("Deviation"), QStringLiteral("U (k = 2)"),
                          run.plausibilityPct > 0 ? QStringLiteral("Band (\u00b1%1 %)").arg(Percent(run.plausibilityPct))
                                                  : QStringLiteral("Band"),
                          QStringLiteral("In band"), QStringLiteral("Written"), QStringLiteral("Note")};
        const std::optional<std::uint8_t> model = ModelCodeOf(run.model);
        std::vector<Row> rows;
        for (const CalPoint& point : CalPoints()) {
            const bool current = point.quantity == Quantity::Current;
            const auto found = std::find_if(run.readings.begin(), run.readings.end(),
                                            [&point](const ReadingRow& r) { return r.point == point.number; });
            if (found == run.readings.end()) {
                rows.push_back({QString::number(point.number), model ? NominalLevel(point, *model) : QString(),
                                QStringLiteral("not measured"), QString(), QString(), QString(), QString(), QString(), QString()});
                continue;
            }
            const PointFigures f = Figures(point, model, *found, run.plausibilityPct);
            QString expanded = QStringLiteral("-");
            if (accuracy_) {
                const UncertaintyBudget b = BudgetOf(*accuracy_, *found);
                if (b.evaluated) expanded = ExpandedText(b.expanded, current);
            }
            rows.push_back({QString::number(point.number), found->nominal,
                            QStringLiteral("%1 %2%3")
                                .arg(found->typed, found->quantity,
                                     found->source == QLatin1String("meter") ? QStringLiteral(" (meter)") : QString()),
                            f.deviation, expanded, f.band, f.inBand,
                            QStringLiteral("%1 %2").arg(found->valueSent).arg(current ? QStringLiteral("mA") : QStringLiteral("mV")),
                            found->unusual ? QStringLiteral("unusual") : QString()});
        }

        const qreal hh = lineOf(heading_);
        text(QRectF(area_.left(), y_, area_.width(), hh), Qt::AlignLeft | Qt::AlignVCenter,
             QStringLiteral("Calibration points"), heading_);
        y_ += hh + unit_ * 0.3;

        // Columns as wide as their widest text (a freak entry counts only up to a limit and is cut),
        // then widened alike to fill the line.
        const qreal pad = unit_ * 0.6;
        std::array<qreal, Columns> widths{};
        for (std::size_t c = 0; c < headers.size(); ++c) {
            widths[c] = widthOf(bold_, headers[c]);
            // A deviation and its uncertainty are figures: the page gets smaller rather than cut them.
            const bool figure = c == DeviationColumn || c == UncertaintyColumn;
            for (const auto& row : rows)
                widths[c] = std::max(widths[c], figure ? widthOf(body_, row[c]) : std::min(widthOf(body_, row[c]), unit_ * 14));
            widths[c] += 2 * pad;
        }
        qreal total = 0;
        for (qreal w : widths) total += w;
        need(total);
        for (qreal& w : widths) w *= area_.width() / total;

        const qreal rowHeight = lineOf(body_) * 1.5;
        const qreal top = y_;
        if (paint_)
            painter_.fillRect(QRectF(area_.left(), y_, area_.width(), rowHeight), QColor(230, 230, 230));
        auto drawRow = [&](const Row& cells, const QFont& font) {
            qreal x = area_.left();
            for (std::size_t c = 0; c < cells.size(); ++c) {
                const QRectF cell(x + pad, y_, widths[c] - 2 * pad, rowHeight);
                const int align = c == 0 || c == InBandColumn ? Qt::AlignHCenter : Qt::AlignLeft;
                text(cell, align | Qt::AlignVCenter, elided(font, cells[c], cell.width()), font);
                x += widths[c];
            }
            y_ += rowHeight;
        };
        drawRow(headers, bold_);
        line({area_.left(), y_}, {area_.right(), y_}, 0.1);
        for (const auto& row : rows) {
            drawRow(row, body_);
            line({area_.left(), y_}, {area_.right(), y_}, 0.04);
        }
        if (paint_) {
            painter_.setPen(QPen(Qt::black, unit_ * 0.1));
            painter_.setBrush(Qt::NoBrush);
            painter_.drawRect(QRectF(area_.left(), top, area_.width(), y_ - top));
            qreal x = area_.left();
            painter_.setPen(QPen(Qt::black, unit_ * 0.04));
            for (std::size_t c = 0; c + 1 < widths.size(); ++c) {
                x += widths[c];
                painter_.drawLine(QPointF(x, top), QPointF(x, y_));
            }
        }
        y_ += unit_ * 1.2;
    }

    // Which instrument the readings marked "(meter)" came from; a report without it could not be
    // traced to the meter's own calibration.
    void meterLine(const RunDetails& run)
    {
        const QString words = run.meter.isEmpty() ? QStringLiteral("Every reading typed by the operator.")
                                                  : QStringLiteral("Measured with %1").arg(run.meter.describe());
        const qreal h = lineOf(body_);
        const QString shown = elided(body_, words, area_.width());
        need(std::min(widthOf(body_, words), area_.width()));
        text(QRectF(area_.left(), y_, area_.width(), h), Qt::AlignLeft | Qt::AlignVCenter, shown, body_);
        y_ += h + unit_ * 0.5;
    }

    // The meter's own traceability: which one it was and whether its calibration was in date on
    // the day of the run.
    void meterBlock(const RunDetails& run)
    {
        const QDate day = QDateTime::fromString(run.startedAt, Qt::ISODateWithMs).date();
        const MeterDue due = MeterDueOn(run.meterCalibrationDue, day);
        QString dueText = Shown(run.meterCalibrationDue);
        if (due == MeterDue::PastDue) dueText += QStringLiteral(" (past due)");
        if (due == MeterDue::Unreadable) dueText += QStringLiteral(" (not a date)");
        int inBand = 0, checked = 0, unusual = 0;
        const std::optional<std::uint8_t> model = ModelCodeOf(run.model);
        for (const ReadingRow& r : run.readings) {
            if (r.unusual) ++unusual;
            if (r.point < 1 || r.point > CalPointCount) continue;
            const PointFigures f = Figures(CalPoints()[static_cast<std::size_t>(r.point - 1)], model, r, run.plausibilityPct);
            if (f.inBand.isEmpty()) continue;
            ++checked;
            if (f.inBand == QLatin1String("yes")) ++inBand;
        }
        const QString band = run.plausibilityPct < 0    ? NotRecorded
                             : run.plausibilityPct == 0 ? QStringLiteral("not checked")
                                                        : QStringLiteral("\u00b1%1 % of the level").arg(Percent(run.plausibilityPct));
        fieldBlock(QStringLiteral("Meter"),
                   {{QStringLiteral("Asset number"), Shown(run.meterAssetId)},
                    {QStringLiteral("Calibration due"), dueText, true}},
                   QStringLiteral("Readings"),
                   {{QStringLiteral("Plausibility band"), band, true},
                    {QStringLiteral("In band"), checked ? QStringLiteral("%1 of %2").arg(inBand).arg(checked) : QStringLiteral("-"), true},
                    {QStringLiteral("Unusual"), unusual ? QString::number(unusual) : QStringLiteral("none"), true}});
        if (due != MeterDue::PastDue) return;
        const QString words = QStringLiteral("This unit was calibrated with a meter past its calibration due date.");
        const qreal h = lineOf(bold_);
        need(std::min(widthOf(bold_, words), area_.width()));
        text(QRectF(area_.left(), y_ - unit_ * 0.4, area_.width(), h), Qt::AlignLeft | Qt::AlignVCenter,
             elided(bold_, words, area_.width()), bold_);
        y_ += h + unit_ * 0.5;
    }

    // A paragraph of the page's width.
    void paragraph(const QString& words, const QFont& font)
    {
        const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
        const QRectF room(area_.left(), y_, area_.width(), area_.height());
        const qreal h = QFontMetricsF(font, painter_.device()).boundingRect(room, flags, words).height();
        text(QRectF(area_.left(), y_, area_.width(), h), flags, words, font);
        y_ += h;
    }

    // What the figures are, so that nobody reads more into them: the readings were taken before
    // the supply was adjusted, and nothing measured it afterwards.
    void notesBlock(const RunDetails& run)
    {
        if (run.kind != QLatin1String("calibration")) return;
        QString words = QStringLiteral(
            "The readings are the supply's output before adjustment (as found); the values written are its adjustment. "
            "The output after adjustment was not measured (the supply's commands give no way to measure it), so this "
            "page makes no statement of conformity.");
        if (run.plausibilityPct > 0)
            words += QStringLiteral(" The band is the plausibility band, a check for gross errors, not a tolerance.");
        words += QStringLiteral(" Temperature and humidity are the station's stated values, not measured.");
        paragraph(words, body_);
        y_ += unit_ * 0.9;
    }

    // "point 4", "points 1 and 4", "points 1, 2 and 4".
    static QString PointList(const QList<int>& points)
    {
        QStringList numbers;
        for (int p : points) numbers << QString::number(p);
        if (numbers.size() == 1) return QStringLiteral("point ") + numbers.first();
        const QString last = numbers.takeLast();
        return QStringLiteral("points %1 and %2").arg(numbers.join(QStringLiteral(", ")), last);
    }

    void resultBlock(const RunDetails& run)
    {
        const QString headline = QStringLiteral("Result: %1").arg(run.result);
        const qreal hh = lineOf(heading_);
        need(widthOf(heading_, headline));
        text(QRectF(area_.left(), y_, area_.width(), hh), Qt::AlignLeft | Qt::AlignVCenter, headline,
             heading_);
        y_ += hh;
        QString words = ResultMeaningText(run.result);
        // A finished run is not a clean one when the operator confirmed doubtful readings.
        QList<int> outside, unusual;
        const std::optional<std::uint8_t> model = ModelCodeOf(run.model);
        for (const ReadingRow& r : run.readings) {
            if (r.point < 1 || r.point > CalPointCount) continue;
            if (r.unusual) unusual << r.point;
            if (Figures(CalPoints()[static_cast<std::size_t>(r.point - 1)], model, r, run.plausibilityPct).inBand == QLatin1String("no"))
                outside << r.point;
        }
        if (!outside.isEmpty())
            words += QStringLiteral(" Outside the plausibility band, taken as the operator confirmed them: %1.").arg(PointList(outside));
        if (!unusual.isEmpty()) words += QStringLiteral(" Unusual for the model: %1.").arg(PointList(unusual));
        paragraph(words, body_);
    }

    // The budget's inputs once, so that each U can be worked out again by hand.
    void uncertaintyBlock(const RunDetails& run)
    {
        if (run.kind != QLatin1String("calibration") || run.readings.empty()) return;
        y_ += unit_ * 0.6;
        if (!accuracy_) {
            paragraph(QStringLiteral("The uncertainty of the readings was not evaluated: %1.").arg(notEvaluated_), small_);
            return;
        }
        QStringList inputs, missing;
        for (const ReadingRow& r : run.readings) {
            const bool current = r.quantity == QLatin1String("A");
            const UncertaintyBudget b = BudgetOf(*accuracy_, r);
            if (!b.evaluated) {
                missing << QStringLiteral("point %1 (%2)").arg(r.point).arg(b.why);
                continue;
            }
            QString input = QStringLiteral("%1: limit %2, digit %3").arg(r.point).arg(Milli(b.accuracyLimit, current), Milli(r.resolution, current));
            if (r.reads >= 2) input += QStringLiteral(", %1 readings, s %2").arg(r.reads).arg(Milli(r.deviation, current));
            inputs << input;
        }
        QString words = QStringLiteral(
            "U is the expanded uncertainty of each reading (k = 2), its inputs combined in quadrature as the GUM does: the "
            "meter's accuracy %1, as the bench entered it from the meter's datasheet, as a rectangular limit (limit / \u221a3); "
            "the reading's last digit, rectangular over half a digit (digit / 2\u221a3); and the standard deviation s of the "
            "readings the meter gave at the point (none for a single reading).")
                            .arg(run.meterAccuracy);
        if (!inputs.isEmpty()) words += QStringLiteral(" Inputs by point: %1.").arg(inputs.join(QStringLiteral("; ")));
        if (!missing.isEmpty()) words += QStringLiteral(" Not evaluated: %1.").arg(missing.join(QStringLiteral(", ")));
        paragraph(words, small_);
    }

    // Kept at the foot of the page, where a signature is looked for; whatever room is left over
    // opens up above them.
    void signatures()
    {
        const qreal rowHeight = lineOf(body_) * 2.8;
        const qreal height = 2 * rowHeight;
        y_ = std::max(y_ + unit_ * 2, area_.bottom() - height);
        const QString date = QStringLiteral("Date");
        const qreal labelWidth = std::max(widthOf(body_, QStringLiteral("Tested by")),
                                          widthOf(body_, QStringLiteral("Checked by"))) +
                                 unit_;
        const qreal dateWidth = widthOf(body_, date) + unit_;
        const qreal dateLine = area_.width() * 0.25;
        const qreal gap = unit_ * 2;
        need(labelWidth + unit_ * 10 + gap + dateWidth + unit_ * 6);
        const qreal descent = QFontMetricsF(body_, painter_.device()).descent();
        for (const QString& who : {QStringLiteral("Tested by"), QStringLiteral("Checked by")}) {
            const qreal baseline = y_ + rowHeight - descent;
            const QRectF label(area_.left(), y_, labelWidth, rowHeight - descent);
            text(label, Qt::AlignLeft | Qt::AlignBottom, who, body_);
            const qreal signEnd = area_.right() - dateLine - dateWidth - gap;
            line({area_.left() + labelWidth, baseline}, {signEnd, baseline}, 0.06);
            const qreal dateAt = signEnd + gap;
            text(QRectF(dateAt, y_, dateWidth, rowHeight - descent), Qt::AlignLeft | Qt::AlignBottom, date,
                 body_);
            line({dateAt + dateWidth, baseline}, {area_.right(), baseline}, 0.06);
            y_ += rowHeight;
        }
    }

    QPainter& painter_;
    const QRectF area_;
    const qreal unit_;
    const bool paint_;
    qreal y_;
    qreal needWidth_ = 0;
    QFont body_, bold_, heading_, title_, small_;
    std::optional<MeterAccuracy> accuracy_;
    QString notEvaluated_;
};

}  // namespace

QString ResultMeaningText(const QString& result)
{
    for (const ResultMeaning& m : Meanings)
        if (result == ResultWord(m.result)) return QString::fromUtf8(m.words);
    return QStringLiteral("A result this program does not know.");
}

// Only a finished calibration with a meter in date is vouched for with a number; the page of any
// other run stays a report.
QString CertificateText(const RunDetails& run)
{
    if (!run.certificateNo.isEmpty()) return run.certificateNo;
    if (run.kind == QLatin1String("calibration") && run.result == ResultWord(RecordResult::Finished)) {
        const QDate day = QDateTime::fromString(run.startedAt, Qt::ISODateWithMs).date();
        if (MeterDueOn(run.meterCalibrationDue, day) == MeterDue::PastDue)
            return QStringLiteral("none: the meter was past its calibration due date");
        return QStringLiteral("none: recorded before certificates were numbered");
    }
    return QStringLiteral("none: not a finished calibration");
}

void DrawReport(QPainter& painter, const QRectF& page, const RunDetails& run)
{
    painter.save();
    const qreal margin = std::min(page.width(), page.height()) * 0.08;
    const QRectF area = page.adjusted(margin, margin, -margin, -margin);
    // About 10.5 pt on A4; any other page or face is fitted by measuring, since text widths do not
    // shrink in proportion to the type size (hinting, whole pixels).
    qreal unit = std::min(area.height() / 66.0, area.width() / 44.0);
    for (int round = 0; round < 8; ++round) {
        const QSizeF need = Sheet(painter, area, unit, false).compose(run);
        const qreal fit = std::min(area.height() / need.height(), area.width() / need.width());
        if (fit >= 1.0 || unit <= 1.0) break;
        unit = std::max(1.0, unit * std::max(0.5, fit * 0.98));
    }
    Sheet(painter, area, unit, true).compose(run);
    painter.restore();
}

bool WriteReportPdf(const RunDetails& run, const QString& path, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error) *error = QStringLiteral("%1 cannot be written: %2").arg(path, why);
        return false;
    };
    // Drawn into a file of its own and put in place when whole: a report that cannot be finished
    // leaves an older one as it was.
    WholeFile file(path);
    if (!file.open()) return fail(file.errorString());
    bool drawn = false;
    {
        QPdfWriter writer(file.device());
        // The margins are the report's own, so that the same drawing fits a printer's page.
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF()));
        writer.setTitle(run.certificateNo.isEmpty()
                            ? QStringLiteral("Calibration report %1").arg(run.serialWritten.isEmpty() ? run.serialRead : run.serialWritten)
                            : QStringLiteral("Calibration certificate %1").arg(run.certificateNo));
        writer.setCreator(QStringLiteral("Korvex Power Calibrator"));
        QPainter painter;
        if (painter.begin(&writer)) {
            DrawReport(painter, QRectF(0, 0, writer.width(), writer.height()), run);
            drawn = painter.end();
        }
    }
    if (!drawn) {
        const QString why = file.device()->error() != QFileDevice::NoError ? file.device()->errorString()
                                                                           : QStringLiteral("the PDF could not be drawn");
        file.cancel();
        return fail(why);
    }
    if (!file.commit()) return fail(file.errorString());
    return true;
}
