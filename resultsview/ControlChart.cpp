// The control chart drawn: a point's readings in time order with the centre line and the limits, and their histogram beside it.
#include "ControlChart.h"

#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QDateTime>
#include <QHBoxLayout>
#include <QImage>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPageSize>
#include <QPainter>
#include <QBuffer>
#include <QPdfWriter>

#include "WholeFile.h"
#include <QScatterSeries>
#include <QValueAxis>

#include <algorithm>

namespace {

// Markers on every reading only while they stay apart; a long history is drawn as its line.
constexpr int MarkedReadingsAtMost = 300;

QString Number(double v) { return QString::number(v, 'g', 6); }

QString Day(qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd")); }

QLineSeries* Line(const QColor& colour, Qt::PenStyle style, QChart* chart)
{
    auto* series = new QLineSeries(chart);
    QPen pen(colour, 1.5, style);
    series->setPen(pen);
    chart->addSeries(series);
    return series;
}

QChartView* View(QChart* chart, QWidget* parent)
{
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(4, 4, 4, 4));
    auto* view = new QChartView(chart, parent);
    view->setRenderHint(QPainter::Antialiasing, false);
    return view;
}

// What the baseline is, for the chart's second title line.
QString BaselineText(const ControlChartData& d)
{
    const ChartBaseline& b = d.request.baseline;
    const QString from = b.kind == ChartBaseline::Kind::FirstRuns
                             ? QStringLiteral("the first %1 runs").arg(b.runs)
                             : QStringLiteral("the runs of %1 to %2").arg(b.from.toString(Qt::ISODate), b.to.toString(Qt::ISODate));
    if (!d.limits.valid())
        return QStringLiteral("Baseline: %1, %2 found: limits need at least %3").arg(from).arg(d.limits.count).arg(ControlLimits::MinBaselineRuns);
    // The limits on a line of their own: at the window's smallest, one line would be cut.
    return QStringLiteral("Baseline: %1, %2 found: mean %3 %4, σ %5 %4\n±3σ limits %6 to %7 %4")
        .arg(from)
        .arg(d.limits.count)
        .arg(Number(d.limits.mean), d.unit(), Number(d.limits.sigma), Number(d.limits.lower), Number(d.limits.upper));
}

}  // namespace

ControlChart::ControlChart(QWidget* parent) : QWidget(parent)
{
    chart = new QChart;
    readings = Line(QColor(0x1f, 0x4e, 0x9a), Qt::SolidLine, chart);
    readings->setPen(QPen(QColor(0x1f, 0x4e, 0x9a), 1.0));
    centre = Line(QColor(0x2e, 0x7d, 0x32), Qt::SolidLine, chart);
    upper = Line(QColor(0xc6, 0x28, 0x28), Qt::DashLine, chart);
    lower = Line(QColor(0xc6, 0x28, 0x28), Qt::DashLine, chart);
    beyond = new QScatterSeries(chart);
    beyond->setColor(QColor(0xd3, 0x00, 0x00));
    beyond->setBorderColor(QColor(0x7f, 0x00, 0x00));
    beyond->setMarkerSize(9.0);
    chart->addSeries(beyond);
    runAxis_ = new QValueAxis(chart);
    runAxis_->setLabelFormat(QStringLiteral("%d"));
    valueAxis_ = new QValueAxis(chart);
    chart->addAxis(runAxis_, Qt::AlignBottom);
    chart->addAxis(valueAxis_, Qt::AlignLeft);
    for (QAbstractSeries* s : chart->series()) {
        s->attachAxis(runAxis_);
        s->attachAxis(valueAxis_);
    }
    // One entry for both limits.
    chart->legend()->markers(lower).first()->setVisible(false);

    histogram = new QChart;
    bandLow_ = new QLineSeries(histogram);
    bandHigh_ = new QLineSeries(histogram);
    band = new QAreaSeries(bandHigh_, bandLow_);
    band->setColor(QColor(0xc8, 0xe6, 0xc9, 0xb0));
    band->setBorderColor(QColor(0x66, 0xbb, 0x6a));
    histogram->addSeries(band);
    bars = Line(QColor(0x1f, 0x4e, 0x9a), Qt::SolidLine, histogram);
    bars->setPen(QPen(QColor(0x1f, 0x4e, 0x9a), 2.0));
    level = Line(QColor(0x6a, 0x1b, 0x9a), Qt::DashDotLine, histogram);
    countAxis_ = new QValueAxis(histogram);
    countAxis_->setLabelFormat(QStringLiteral("%d"));
    countAxis_->setTitleText(QStringLiteral("Runs"));
    histogramValueAxis_ = new QValueAxis(histogram);
    histogram->addAxis(countAxis_, Qt::AlignBottom);
    histogram->addAxis(histogramValueAxis_, Qt::AlignLeft);
    for (QAbstractSeries* s : histogram->series()) {
        s->attachAxis(countAxis_);
        s->attachAxis(histogramValueAxis_);
    }
    histogram->legend()->markers(bars).first()->setVisible(false);

    chartView_ = View(chart, this);
    histogramView_ = View(histogram, this);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(chartView_, 3);
    layout->addWidget(histogramView_, 1);
    setData(ControlChartData{});
}

void ControlChart::setData(const ControlChartData& data)
{
    data_ = data;
    const int n = static_cast<int>(data_.samples.size());
    const ControlLimits& limits = data_.limits;
    const double low = data_.bins.empty() ? 0.0 : data_.bins.front().from;
    const double high = data_.bins.empty() ? 1.0 : data_.bins.back().to;

    // Each series gets its points in one go: a chart of thousands of runs is drawn once, not per point.
    QList<QPointF> line, marked;
    line.reserve(n);
    for (int i = 0; i < n; ++i) {
        const ChartSample& s = data_.samples[static_cast<std::size_t>(i)];
        line << QPointF(i + 1, s.value);
        if (s.beyondLimits) marked << QPointF(i + 1, s.value);
    }
    // Half a run of room either side, so that the first and the last reading (a lone one above all)
    // are not drawn on the axes' edge; ticks on whole runs only, so that no two say the same.
    const double left = 0.5, right = std::max(n, 1) + 0.5;
    // The axes first: each change of their range would place every point of the series anew.
    runAxis_->setRange(left, right);
    runAxis_->setTickType(QValueAxis::TicksDynamic);
    runAxis_->setTickAnchor(1);
    runAxis_->setTickInterval(RunTickInterval(n));
    valueAxis_->setRange(low, high);
    valueAxis_->applyNiceNumbers();
    valueAxis_->setLabelFormat(TickLabelFormat(valueAxis_->min(), valueAxis_->max(), valueAxis_->tickCount()));
    readings->setPointsVisible(n <= MarkedReadingsAtMost);
    // A lone reading has no line to be seen by: its marker must be.
    readings->setMarkerSize(n <= 1 ? 9.0 : 5.0);
    readings->replace(line);
    beyond->replace(marked);
    auto across = [&](QLineSeries* series, double y) {
        series->replace(limits.valid() ? QList<QPointF>{{left, y}, {right, y}} : QList<QPointF>{});
    };
    across(centre, limits.mean);
    across(upper, limits.upper);
    across(lower, limits.lower);
    const QString u = data_.unit();
    readings->setName(QStringLiteral("Readings (%1)").arg(n));
    beyond->setName(QStringLiteral("Beyond the limits (%1)").arg(data_.beyond));
    // Names only: at the window's smallest, numbers in the legend would be cut; they are in the title.
    centre->setName(QStringLiteral("Centre"));
    upper->setName(QStringLiteral("±3σ limits"));
    runAxis_->setTitleText(n == 0 ? QStringLiteral("Runs in time order")
                                  : QStringLiteral("Runs in time order, %1 to %2")
                                        .arg(Day(data_.samples.front().startedMs), Day(data_.samples.back().startedMs)));
    valueAxis_->setTitleText(data_.quantity == Quantity::Current ? QStringLiteral("Current (A)") : QStringLiteral("Voltage (V)"));
    if (data_.request.model.isEmpty())
        chart->setTitle(QStringLiteral("No model chosen"));
    else if (n == 0)
        chart->setTitle(QStringLiteral("%1<br>No finished calibration").arg(data_.title().toHtmlEscaped()));
    else
        chart->setTitle(QStringLiteral("%1<br>%2").arg(data_.title().toHtmlEscaped(),
                                                       BaselineText(data_).toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>"))));

    // The histogram lies on its side, its value axis level with the chart's.
    QList<QPointF> outline;
    int most = 1;
    for (const HistogramBin& b : data_.bins) {
        outline << QPointF(0, b.from) << QPointF(b.count, b.from) << QPointF(b.count, b.to) << QPointF(0, b.to);
        most = std::max(most, b.count);
    }
    bars->replace(outline);
    countAxis_->setRange(0, most * 1.1);
    countAxis_->applyNiceNumbers();
    // Counts are whole: a tick between two of them would repeat a label.
    countAxis_->setTickType(QValueAxis::TicksDynamic);
    countAxis_->setTickAnchor(0);
    // The histogram is narrow: a few ticks only.
    countAxis_->setTickInterval(RunTickInterval(most, 3));
    const double width = countAxis_->max();
    histogramValueAxis_->setRange(valueAxis_->min(), valueAxis_->max());
    histogramValueAxis_->setTickCount(valueAxis_->tickCount());
    histogramValueAxis_->setLabelFormat(valueAxis_->labelFormat());
    const bool hasLevel = data_.nominal != 0.0;
    level->replace(hasLevel ? QList<QPointF>{{0, data_.nominal}, {width, data_.nominal}} : QList<QPointF>{});
    // Beside the chart there is room for short names only; the numbers go into the title.
    level->setName(QStringLiteral("Level"));
    band->setName(QStringLiteral("Plausible"));
    histogram->legend()->markers(band).first()->setVisible(data_.band.bounded);
    QStringList title{QStringLiteral("Histogram")};
    title << (hasLevel ? QStringLiteral("level %1 %2").arg(Number(data_.nominal), u) : QStringLiteral("no level"));
    title << (data_.band.bounded ? QStringLiteral("plausible %1 to %2 %3").arg(Number(data_.band.low), Number(data_.band.high), u)
                                 : QStringLiteral("no plausibility check"));
    histogram->setTitle(title.join(QStringLiteral("<br>")));
    // Drawn only inside the axes: a band wider than the readings shades all of it.
    const double bottom = valueAxis_->min(), top = valueAxis_->max();
    const double bandLow = std::clamp(data_.band.low, bottom, top), bandHigh = std::clamp(data_.band.high, bottom, top);
    bandLow_->replace(data_.band.bounded ? QList<QPointF>{{0, bandLow}, {width, bandLow}} : QList<QPointF>{});
    bandHigh_->replace(data_.band.bounded ? QList<QPointF>{{0, bandHigh}, {width, bandHigh}} : QList<QPointF>{});
}

void ControlChart::Prepare(const ControlChartData& data, QSize size)
{
    setAttribute(Qt::WA_DontShowOnScreen);
    setData(data);
    resize(size);
    show();
    layout()->activate();
    // The legends and the series' shapes are laid out in posted events; user input stays queued.
    QCoreApplication::sendPostedEvents();
}

bool ControlChart::SavePng(const QString& path, QSize size, QString* error)
{
    // Drawn by a copy of its own at the size asked for, so that the window's chart keeps its size.
    ControlChart copy;
    copy.Prepare(data_, size);
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        copy.render(&painter);
    }
    // Made in memory first: the PNG library would tell a full disk on the terminal itself.
    QByteArray png;
    QBuffer buffer(&png);
    QString why = QStringLiteral("the picture could not be made");
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG") || !WriteWholeFile(path, png, &why)) {
        if (error) *error = QStringLiteral("%1 cannot be written: %2").arg(path, why);
        return false;
    }
    return true;
}

bool ControlChart::SavePdf(const QString& path, QString* error)
{
    WholeFile file(path);
    if (!file.open()) {
        if (error) *error = QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
        return false;
    }
    {
        QPdfWriter pdf(file.device());
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageOrientation(QPageLayout::Landscape);
        pdf.setPageMargins(QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter);
        pdf.setTitle(data_.title());
        pdf.setCreator(QStringLiteral("Korvex Power Calibrator"));
        // Laid out as on a screen of the page's shape, then scaled to the page.
        const QRect page = pdf.pageLayout().paintRectPixels(pdf.resolution());
        const QSize screen(1100, 1100 * page.height() / std::max(1, page.width()));
        ControlChart copy;
        copy.Prepare(data_, screen);
        QPainter painter(&pdf);
        painter.scale(double(page.width()) / screen.width(), double(page.height()) / screen.height());
        // The scenes themselves, as vectors: a view drawn as a widget would lose legend entries.
        for (QChartView* view : {copy.chartView_, copy.histogramView_})
            view->scene()->render(&painter, QRectF(view->geometry()), view->sceneRect());
    }
    if (!file.commit()) {
        if (error) *error = QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
