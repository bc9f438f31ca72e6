// What the results window asks of the printing module. The module is loaded when the operator
// first prints: Qt Print Support and the libraries it brings would otherwise slow every start,
// and most starts never print.
#pragma once

#include <QRectF>
#include <QString>
#include <functional>

class QPainter;
class QPrinter;
class QWidget;

struct PrintJob {
    QWidget* parent = nullptr;
    QString docName;
    // Lets the operator choose and set up a printer; false when printing is declined. Null: the
    // print dialog.
    std::function<bool(QPrinter& printer)> ask;
    // Draws the pages into the printable area, whose corner is the painter's origin.
    std::function<void(QPainter& painter, const QRectF& page)> draw;
};

struct PrintOutcome {
    enum class Kind { Printed, Declined, NotStarted, NotFinished };
    Kind kind = Kind::NotStarted;
    QString where;  // the printer, or the file the pages went to
};

// The module's one entry point, found by this name.
using PrintReportFunction = void (*)(const PrintJob& job, PrintOutcome& outcome);
inline constexpr char PrintReportSymbol[] = "KorvexPrintReport";
inline constexpr char PrintModuleFile[] = "libkorvex-printing.so";
