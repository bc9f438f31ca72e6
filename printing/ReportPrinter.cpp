// The printing module: the printer, its dialog and the pages drawn on it.
#include "PrintModule.h"

#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>

extern "C" Q_DECL_EXPORT void KorvexPrintReport(const PrintJob& job, PrintOutcome& outcome)
{
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(job.docName);
    bool accepted = false;
    if (job.ask) {
        accepted = job.ask(printer);
    } else {
        QPrintDialog dialog(&printer, job.parent);
        accepted = dialog.exec() == QDialog::Accepted;
    }
    if (!accepted) {
        outcome.kind = PrintOutcome::Kind::Declined;
        return;
    }
    QPainter painter;
    if (!painter.begin(&printer)) {
        outcome.kind = PrintOutcome::Kind::NotStarted;
        return;
    }
    // The painter's origin is the corner of the printable area, not of the paper.
    QRectF page = printer.pageRect(QPrinter::DevicePixel);
    page.moveTopLeft(QPointF(0, 0));
    if (job.draw) job.draw(painter, page);
    outcome.kind = painter.end() ? PrintOutcome::Kind::Printed : PrintOutcome::Kind::NotFinished;
    outcome.where = printer.outputFileName().isEmpty() ? printer.printerName() : printer.outputFileName();
}
