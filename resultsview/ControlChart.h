// The control chart drawn: a point's readings in time order with the centre line and the limits, and their histogram beside it.
#pragma once

#include "ControlChartData.h"

#include <QSize>
#include <QWidget>

class QChart;
class QChartView;
class QLineSeries;
class QScatterSeries;
class QAreaSeries;
class QValueAxis;

// The size of a chart saved as a picture, from the window and from the command line alike.
constexpr QSize ChartPictureSize(1600, 900);

class ControlChart : public QWidget {
    Q_OBJECT
public:
    explicit ControlChart(QWidget* parent = nullptr);

    void setData(const ControlChartData& data);
    const ControlChartData& data() const { return data_; }

    // The chart as drawn at `size`, as a PNG; or on a landscape A4 page, as a PDF. Either is
    // written aside and put in place at the end. False with the reason.
    bool SavePng(const QString& path, QSize size, QString* error);
    bool SavePdf(const QString& path, QString* error);

    QChart* chart = nullptr;
    QChart* histogram = nullptr;
    QLineSeries* readings = nullptr;
    QScatterSeries* beyond = nullptr;  // the readings beyond the limits, marked
    QLineSeries* centre = nullptr;
    QLineSeries* upper = nullptr;
    QLineSeries* lower = nullptr;
    QLineSeries* bars = nullptr;  // the histogram's outline, counts to the right
    QLineSeries* level = nullptr;
    QAreaSeries* band = nullptr;  // the plausibility band

private:
    // Made ready to be drawn off the screen at `size`, as a copy that saves.
    void Prepare(const ControlChartData& data, QSize size);

    QChartView* chartView_ = nullptr;
    QChartView* histogramView_ = nullptr;
    QValueAxis* runAxis_ = nullptr;
    QValueAxis* valueAxis_ = nullptr;
    QValueAxis* countAxis_ = nullptr;
    QValueAxis* histogramValueAxis_ = nullptr;
    QLineSeries* bandLow_ = nullptr;
    QLineSeries* bandHigh_ = nullptr;
    ControlChartData data_;
};
