// A run's calibration report: one page for the unit's file, drawn for paper or PDF alike.
#include "ReportPage.h"

#include <QPainter>
#include <QPdfWriter>

void DrawReport(QPainter& painter, const QRectF& page, const RunDetails& run)
{
    painter.drawText(page, Qt::AlignTop | Qt::AlignLeft,
                     QStringLiteral("Calibration report\nSerial No. %1\nResult %2").arg(run.serialWritten, run.result));
}

bool WriteReportPdf(const RunDetails& run, const QString& path, QString* error)
{
    QPdfWriter writer(path);
    writer.setPageSize(QPageSize(QPageSize::A4));
    QPainter painter;
    if (!painter.begin(&writer)) {
        if (error) *error = QStringLiteral("%1 cannot be written").arg(path);
        return false;
    }
    DrawReport(painter, QRectF(0, 0, writer.width(), writer.height()), run);
    painter.end();
    return true;
}
