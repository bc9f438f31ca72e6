// A run's calibration report: one page for the unit's file, drawn for paper or PDF alike.
#pragma once

#include "ResultsQuery.h"

#include <QRectF>
#include <QString>

class QPainter;

// Draws the report of `run` into `page` (device coordinates of the painter's page): the
// certificate's number (a finished calibration's only; any other run's page stays a report), the
// unit (model, serial, address), bench, operator, temperature and humidity, date and time, the
// seven points (nominal level, reading as typed, its deviation from the level, the plausibility
// band and whether the reading lay inside it, value written, the unusual mark), the meter with
// its asset number and calibration due date, the result and lines for signatures.
void DrawReport(QPainter& painter, const QRectF& page, const RunDetails& run);

// What a run's result word means, for whoever files the page or reads the help.
QString ResultMeaningText(const QString& result);

// What the page says as the certificate's number: the number, or why there is none.
QString CertificateText(const RunDetails& run);

// The report as a one-page A4 PDF file.
bool WriteReportPdf(const RunDetails& run, const QString& path, QString* error);
