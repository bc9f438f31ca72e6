// Tests of the results window against a small database: the list, its filters, a run's details,
// CSV export, the report as PDF and on a printer, a database that cannot be read, and the control chart.
#include "ControlChart.h"
#include "LabelFit.h"
#include "PgServer.h"
#include "ResultsDb.h"
#include "ResultsQuery.h"
#include "ResultsWindow.h"
#include "WidgetInput.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QChart>
#include <QLegend>
#include <QHeaderView>
#include <QImage>
#include <QLineSeries>
#include <QScatterSeries>
#include <QSpinBox>
#include <QTabWidget>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <ctime>

namespace {

struct SeedRun {
    const char* kind;
    QDateTime start;
    qint64 durationMs;  // -1: the run has no end
    const char* result;
    const char* serialRead;  // empty: none
    const char* serialWritten;
    const char* model;
    const char* operatorName;
    const char* log;
};

// The bench lies in Central Europe, an hour ahead of UTC in March; set before any time is made.
const bool BenchZone = (qputenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3"), tzset(), true);

QDateTime At(int day, int hour, int minute) { return QDateTime(QDate(2026, 3, day), QTime(hour, minute)); }

// Stored in an order other than their dates, so the list's order is its own doing.
const std::vector<SeedRun> Seed{
    {"calibration", At(3, 9, 0), 95400, "finished", "", "004711", "7212B", "Anna",
     "[Step 1] : Succeed !\nAverage voltage : 37000mV"},
    {"calibration", At(1, 14, 30), 12300, "failed", "004712", "", "7205A", "Ben", "[Step 25] : Communication failed !"},
    {"calibration", At(5, 8, 15), 61200, "aborted", "104711", "", "7212B", "Anna", "Aborted by the operator"},
    {"clearing", At(3, 16, 45), 7000, "cleared", "004711", "", "7212B", "Ben", "Clear calibration data"},
    {"calibration", At(6, 10, 0), -1, "interrupted", "", "", "7205A", "Cleo", "[Step 1] : "},
};

QVariant TextOrNull(const char* text)
{
    return *text ? QVariant(QString::fromUtf8(text)) : QVariant(QMetaType::fromType<QString>());
}

QString Iso(const QDateTime& t) { return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs); }

bool Exec(QSqlQuery& q, const QString& sql, const QVariantList& binds)
{
    if (!q.prepare(sql)) return false;
    for (const QVariant& v : binds) q.addBindValue(v);
    return q.exec();
}

// Adds a run the way the record leaves it; returns its id, 0 when it could not be written.
qint64 AddRun(const QSqlDatabase& db, const SeedRun& r)
{
    QSqlQuery q(db);
    const bool ended = r.durationMs >= 0;
    const QDateTime end = r.start.addMSecs(r.durationMs);
    auto ifEnded = [ended](const QVariant& v) { return ended ? v : QVariant(v.metaType()); };
    const QVariantList values{QString::fromUtf8(r.kind), Iso(r.start), r.start.toMSecsSinceEpoch(),
                              ifEnded(Iso(end)), ifEnded(end.toMSecsSinceEpoch()), QString::fromUtf8(r.result),
                              TextOrNull(r.serialRead), TextOrNull(r.serialWritten), QString::fromUtf8(r.model),
                              QString::fromUtf8(r.operatorName), ifEnded(qint64(4712)), QString::fromUtf8(r.log)};
    const QString sql = QStringLiteral(
        "INSERT INTO TestResult (kind, started_at, started_ms, ended_at, ended_ms, result, serial_read, serial_written,"
        " model, address, port, baud, operator, temperature, humidity, bench, unit_counter_before,"
        " unit_counter_after, event_log) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, 1, 'COM1', 9600, ?, '25±5°C', '<70%',"
        " 'bench-7', 4711, ?, ?)");
    return Exec(q, sql, values) ? q.lastInsertId().toLongLong() : 0;
}

bool AddDetails(const QSqlDatabase& db, qint64 id, int readings, int steps)
{
    const QStringList typed{"0.1", "3.999", "4.0", "37.0", "20.0", "0.1", "3.1"};
    QSqlQuery q(db);
    for (int p = 1; p <= readings; ++p) {
        const bool current = p > 5;
        if (!Exec(q, QStringLiteral("INSERT INTO TestReading (run_id, point, quantity, nominal, typed, value_sent, source)"
                                    " VALUES (?, ?, ?, ?, ?, ?, ?)"),
                  {id, p, current ? "A" : "V", QStringLiteral("nominal %1").arg(p), typed[p - 1],
                   qint64(std::lround(typed[p - 1].toDouble() * 1000)), p == 4 ? "meter" : "typed"}))
            return false;
    }
    for (int s = 1; s <= steps; ++s)
        if (!Exec(q, QStringLiteral("INSERT INTO TestStep VALUES (?, ?, ?, ?, ?)"),
                  {id, s, s == steps ? "Communication failed !" : "Succeed !", s % 3,
                   QStringLiteral("2026-03-03T08:00:%1.000+00:00").arg(s, 2, 10, QLatin1Char('0'))}))
            return false;
    return true;
}

// Runs 1..5 of Seed; run 1 has seven readings and six steps, the clearing run 4 its five frames.
bool MakeDatabase(const QString& path)
{
    ResultsDb db;
    if (!db.open(path, ResultsDb::Mode::Record)) return false;
    for (const SeedRun& r : Seed)
        if (AddRun(db.database(), r) == 0) return false;
    // Run 4 was recorded by a bench whose clock keeps UTC.
    return AddDetails(db.database(), 1, 7, 6) && AddDetails(db.database(), 4, 0, 5) &&
           QSqlQuery(db.database()).exec(QStringLiteral("UPDATE TestResult SET started_at = '2026-03-03T15:45:00.000+00:00' WHERE id = 4"));
}

QList<qint64> ListedIds(const ResultsWindow& w)
{
    QList<qint64> ids;
    const QAbstractItemModel* m = w.tableRuns->model();
    for (int row = 0; row < m->rowCount(); ++row) ids << m->index(row, 0).data().toLongLong();
    return ids;
}

QString Cell(const QTableWidget* table, int row, int column)
{
    const QTableWidgetItem* item = table->item(row, column);
    return item ? item->text() : QString();
}

// Clicks the run's row as the operator would.
bool ClickRun(ResultsWindow& w, qint64 id)
{
    const int row = static_cast<int>(ListedIds(w).indexOf(id));
    if (row < 0) return false;
    const QRect r = w.tableRuns->visualRect(w.tableRuns->model()->index(row, 1));
    QTest::mouseClick(w.tableRuns->viewport(), Qt::LeftButton, {}, r.center());
    return w.SelectedRunId() == id;
}

// Twelve finished 7212B calibrations a day apart from 2026-04-01, on two benches in turn, reading
// 37.010 V and 37.012 V at point 4 in turn; the tenth reads 37.050 V.
bool MakeChartDatabase(const QString& path)
{
    ResultsDb db;
    if (!db.open(path, ResultsDb::Mode::Record)) return false;
    QSqlQuery q(db.database());
    // 20 runs a bench: the least a baseline gives limits from.
    for (int i = 0; i < 40; ++i) {
        const qint64 id = AddRun(db.database(), {"calibration", QDateTime(QDate(2026, 4, 1).addDays(i), QTime(9, 0)), 60000,
                                                 "finished", "", "", "7212B", "Anna", ""});
        const QString typed = i == 9 ? QStringLiteral("37.050") : i % 2 ? QStringLiteral("37.012") : QStringLiteral("37.010");
        if (id == 0 || !Exec(q, QStringLiteral("UPDATE TestResult SET bench = ? WHERE id = ?"), {i % 2 ? "bench-2" : "bench-1", id}) ||
            !Exec(q, QStringLiteral("INSERT INTO TestReading (run_id, point, quantity, typed, value_sent) VALUES (?, 4, 'V', ?, 0)"), {id, typed}))
            return false;
    }
    return true;
}

// The detail tables whose columns the operator would see cut.
QStringList CutTables(const ResultsWindow& w)
{
    QStringList cut;
    for (const QTableWidget* table : {w.tableReadings, w.tableSteps})
        if (table->horizontalHeader()->length() > table->viewport()->width())
            cut << QStringLiteral("%1 needs %2 px, shows %3").arg(table->objectName()).arg(table->horizontalHeader()->length()).arg(table->viewport()->width());
    return cut;
}

QString Decimal(QString text) { return text.replace(QLatin1Char('.'), QLocale().decimalPoint()); }

}  // namespace

class TestResultsWindow : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void listNewestFirst_data();
    void listNewestFirst();
    void filters_data();
    void filters();
    void selectionFollowsTheFilter();
    void details_data();
    void details();
    void exportCsv_data();
    void exportCsv();
    void report_data();
    void report();
    void unreadableDatabase_data();
    void unreadableDatabase();
    void chart_data();
    void chart();
    void baselineRemembered();
    void lineServer();
    void pages_data();
    void pages();

private:
    QTemporaryDir dir_;
    QString path_;
    QString chartPath_;
};

void TestResultsWindow::initTestCase()
{
    QVERIFY(dir_.isValid());
    path_ = dir_.filePath(QStringLiteral("PowerTestDb.sqlite"));
    QVERIFY(MakeDatabase(path_));
    chartPath_ = dir_.filePath(QStringLiteral("Chart.sqlite"));
    QVERIFY(MakeChartDatabase(chartPath_));
}

void TestResultsWindow::listNewestFirst_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<QStringList>("cells");  // Date, Serial, Model, Operator, Result, Duration
    QTest::newRow("unended run on top")
        << 0 << QStringList{"2026-03-06 10:00:00 +01:00", "", "7205A", "Cleo", "interrupted", ""};
    QTest::newRow("serial read only")
        << 1 << QStringList{"2026-03-05 08:15:00 +01:00", "104711", "7212B", "Anna", "aborted", Decimal("61.2")};
    QTest::newRow("later the same day")
        << 2 << QStringList{"2026-03-03 16:45:00 +01:00", "004711", "7212B", "Ben", "cleared", Decimal("7.0")};
    QTest::newRow("serial written")
        << 3 << QStringList{"2026-03-03 09:00:00 +01:00", "004711", "7212B", "Anna", "finished", Decimal("95.4")};
    QTest::newRow("oldest last")
        << 4 << QStringList{"2026-03-01 14:30:00 +01:00", "004712", "7205A", "Ben", "failed", Decimal("12.3")};
}

void TestResultsWindow::listNewestFirst()
{
    QFETCH(int, row);
    QFETCH(QStringList, cells);
    ResultsWindow w(path_);
    w.show();
    QCOMPARE(ListedIds(w), (QList<qint64>{5, 3, 4, 1, 2}));
    const QAbstractItemModel* m = w.tableRuns->model();
    QStringList shown, titles;
    for (int column = 0; column < m->columnCount(); ++column) {
        if (w.tableRuns->isColumnHidden(column)) continue;
        titles << m->headerData(column, Qt::Horizontal).toString();
        shown << m->index(row, column).data().toString();
    }
    QCOMPARE(titles, (QStringList{"Date", "Serial", "Model", "Operator", "Result", "Duration (s)"}));
    QCOMPARE(shown, cells);
}

void TestResultsWindow::filters_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QDate>("from");
    QTest::addColumn<QDate>("to");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QList<qint64>>("ids");
    const QDate none;
    QTest::newRow("serial read or written") << "4711" << none << none << "" << QList<qint64>{3, 4, 1};
    QTest::newRow("serial only read") << "4712" << none << none << "" << QList<qint64>{2};
    QTest::newRow("serial matching nothing") << "999" << none << none << "" << QList<qint64>{};
    QTest::newRow("from a day") << "" << QDate(2026, 3, 3) << none << "" << QList<qint64>{5, 3, 4, 1};
    QTest::newRow("to a day, that day included") << "" << none << QDate(2026, 3, 3) << "" << QList<qint64>{4, 1, 2};
    QTest::newRow("one day") << "" << QDate(2026, 3, 3) << QDate(2026, 3, 3) << "" << QList<qint64>{4, 1};
    QTest::newRow("result failed") << "" << none << none << "failed" << QList<qint64>{2};
    QTest::newRow("result of an unended run") << "" << none << none << "interrupted" << QList<qint64>{5};
    QTest::newRow("serial and result") << "4711" << none << none << "cleared" << QList<qint64>{4};
    QTest::newRow("serial, dates and result")
        << "004711" << QDate(2026, 3, 2) << QDate(2026, 3, 4) << "finished" << QList<qint64>{1};
}

void TestResultsWindow::filters()
{
    QFETCH(QString, serial);
    QFETCH(QDate, from);
    QFETCH(QDate, to);
    QFETCH(QString, result);
    QFETCH(QList<qint64>, ids);
    ResultsWindow w(path_);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(!w.dateFrom->isEnabled());
    if (from.isValid()) {
        w.dateFrom->setDate(from);
        QTest::mouseClick(w.checkFrom, Qt::LeftButton);
        QVERIFY(w.dateFrom->isEnabled());
    }
    if (to.isValid()) {
        w.dateTo->setDate(to);
        QTest::mouseClick(w.checkTo, Qt::LeftButton);
    }
    w.comboResult->setCurrentIndex(w.comboResult->findText(result.isEmpty() ? QStringLiteral("All") : result));
    const QList<qint64> before = ListedIds(w);
    if (!serial.isEmpty()) {
        TypeInto(w.editSerial, serial);
        // The list waits for the operator to stop typing.
        QCOMPARE(ListedIds(w), before);
    }
    QTRY_COMPARE(ListedIds(w), ids);
    QCOMPARE(w.labelNoRuns->isVisible() ? w.labelNoRuns->text() : QString(), ids.isEmpty() ? QStringLiteral("No run matches.") : QString());
}

void TestResultsWindow::selectionFollowsTheFilter()
{
    ResultsWindow w(path_);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(!w.btnReportPdf->isEnabled());
    QVERIFY(!w.btnPrint->isEnabled());
    QVERIFY(ClickRun(w, 1));
    QVERIFY(w.btnReportPdf->isEnabled());
    QVERIFY(w.btnPrint->isEnabled());

    w.comboResult->setCurrentIndex(w.comboResult->findText(QStringLiteral("finished")));
    QCOMPARE(ListedIds(w), QList<qint64>{1});
    QCOMPARE(w.SelectedRunId(), 1);
    QCOMPARE(w.tableReadings->rowCount(), 7);

    w.comboResult->setCurrentIndex(w.comboResult->findText(QStringLiteral("failed")));
    QCOMPARE(w.SelectedRunId(), 0);
    QCOMPARE(w.tableReadings->rowCount(), 0);
    QVERIFY(w.textLog->toPlainText().isEmpty());
    QVERIFY(!w.btnReportPdf->isEnabled());
    QVERIFY(!w.btnPrint->isEnabled());
}

void TestResultsWindow::details_data()
{
    QTest::addColumn<qint64>("before");  // the run selected first, whose details must all go
    QTest::addColumn<qint64>("id");
    QTest::addColumn<QStringList>("header");
    QTest::addColumn<QStringList>("reading4");  // the fourth reading's row; empty: no readings
    QTest::addColumn<int>("steps");
    QTest::addColumn<QString>("log");
    QTest::newRow("calibration")
        << qint64(4) << qint64(1)
        << QStringList{"Run 1, calibration: finished", "Serial number read none, written 004711", "model 7212B",
                       "COM1 at 9600 baud", "Operator Anna", "humidity <70%", "bench bench-7",
                       "unit counter 4711 before, 4712 after", "Started 2026-03-03 09:00:00 +01:00; ended 2026-03-03 09:01:35 +01:00"}
        << QStringList{"4", "V", "nominal 4", "37.0", "meter", "37000 mV"} << 6 << "Average voltage : 37000mV";
    QTest::newRow("clearing") << qint64(1) << qint64(4)
                              << QStringList{"Run 4, clearing: cleared", "Serial number read 004711, written none", "Started 2026-03-03 16:45:00 +01:00"}
                              << QStringList{} << 5 << "Clear calibration data";
    QTest::newRow("run without an end")
        << qint64(1) << qint64(5) << QStringList{"ended never", "4711 before, not recorded after"} << QStringList{} << 0
        << "[Step 1] : ";
}

void TestResultsWindow::details()
{
    QFETCH(qint64, before);
    QFETCH(qint64, id);
    QFETCH(QStringList, header);
    QFETCH(QStringList, reading4);
    QFETCH(int, steps);
    QFETCH(QString, log);
    ResultsWindow w(path_);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(ClickRun(w, before));
    QVERIFY(ClickRun(w, id));

    for (const QString& fragment : header) QVERIFY2(w.labelRun->text().contains(fragment), qPrintable(w.labelRun->text()));
    QCOMPARE(w.tableReadings->rowCount(), reading4.isEmpty() ? 0 : 7);
    if (!reading4.isEmpty()) {
        QStringList row;
        for (int column = 0; column < w.tableReadings->columnCount(); ++column) row << Cell(w.tableReadings, 3, column);
        QCOMPARE(row, reading4);
        QCOMPARE(Cell(w.tableReadings, 5, 5), QStringLiteral("100 mA"));
    }
    QCOMPARE(w.tableSteps->rowCount(), steps);
    if (steps > 0) {
        QCOMPARE(Cell(w.tableSteps, steps - 1, 1), QStringLiteral("Communication failed !"));
        QCOMPARE(Cell(w.tableSteps, 1, 2), QStringLiteral("2"));
        QCOMPARE(Cell(w.tableSteps, 1, 3), QStringLiteral("2026-03-03 09:00:02 +01:00"));
    }
    QVERIFY2(w.textLog->toPlainText().endsWith(log), qPrintable(w.textLog->toPlainText()));
    // The layout takes up a new text when the event loop next runs, as it does on screen.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QVERIFY2(CutLabels(w).isEmpty(), qPrintable(CutLabels(w).join(QStringLiteral(" | "))));
    QVERIFY2(CutTables(w).isEmpty(), qPrintable(CutTables(w).join(QStringLiteral(", "))));
    const QSize opened = w.size();
    w.resize(w.minimumSize());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QVERIFY2(CutLabels(w).isEmpty(), qPrintable(CutLabels(w).join(QStringLiteral(" | "))));
    QVERIFY2(CutTables(w).isEmpty(), qPrintable(CutTables(w).join(QStringLiteral(", "))));
    w.resize(opened);

    const QString shots = qEnvironmentVariable("KORVEX_SCREENSHOT_DIR");
    if (!shots.isEmpty() && id == 1) {
        QVERIFY(QDir().mkpath(shots));
        const QString path = QDir(shots).filePath(QStringLiteral("results-window.png"));
        QVERIFY2(w.grab().save(path), qPrintable(path));
    }
}

void TestResultsWindow::exportCsv_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<QString>("answer");  // the name given in the save dialog, in the test's folder
    QTest::addColumn<QString>("written");
    QTest::addColumn<QList<qint64>>("ids");
    QTest::newRow("every run") << "" << "runs.csv" << "runs.csv" << QList<qint64>{5, 3, 4, 1, 2};
    // Exported before the list caught up with the typing: the file holds what the edit says.
    QTest::newRow("filtered, just typed") << "4711" << "runs.csv" << "runs.csv" << QList<qint64>{3, 4, 1};
    QTest::newRow("name without extension") << "4712" << "runs" << "runs.csv" << QList<qint64>{2};
    QTest::newRow("declined") << "" << "" << "" << QList<qint64>{};
    QTest::newRow("folder missing") << "" << "missing/runs.csv" << "" << QList<qint64>{};
}

void TestResultsWindow::exportCsv()
{
    QFETCH(QString, serial);
    QFETCH(QString, answer);
    QFETCH(QString, written);
    QFETCH(QList<qint64>, ids);
    QTemporaryDir out;
    ResultsWindow w(path_);
    QStringList asked, proposed;
    w.setSaveNameAsker([&](const QString&, const QString& filter, const QString& name) {
        asked << filter;
        proposed << name;
        return answer.isEmpty() ? QString() : out.filePath(answer);
    });
    w.show();
    QTest::keyClicks(w.editSerial, serial);
    QTest::mouseClick(w.btnExport, Qt::LeftButton);
    QCOMPARE(asked.size(), 1);
    QVERIFY(asked.first().contains(QStringLiteral("*.csv")));
    const QString today = QStringLiteral("runs-%1.csv").arg(QDate::currentDate().toString(Qt::ISODate));
    // The next export is proposed where this one went; one that failed does not move it.
    QTest::mouseClick(w.btnExport, Qt::LeftButton);
    QCOMPARE(proposed, (QStringList{QDir::home().filePath(today), (written.isEmpty() ? QDir::home() : QDir(out.path())).filePath(today)}));

    if (written.isEmpty()) {
        QVERIFY(QDir(out.path()).entryList(QDir::Files).isEmpty());
        QCOMPARE(w.labelStatus->isVisibleTo(&w), !answer.isEmpty());
        if (!answer.isEmpty())
            QVERIFY2(w.labelStatus->text().contains(out.filePath(answer)), qPrintable(w.labelStatus->text()));
        return;
    }
    QFile file(out.filePath(written));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QVERIFY2(bytes.startsWith("\xEF\xBB\xBF"), "marked as UTF-8 for the spreadsheet it is opened in");
    QStringList lines = QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"));
    QCOMPARE(lines.takeLast(), QString());
    QCOMPARE(lines.takeFirst(), CsvColumns().join(QLatin1Char(',')));
    QList<qint64> rows;
    for (const QString& line : lines) rows << line.section(QLatin1Char(','), 0, 0).toLongLong();
    QCOMPARE(rows, ids);
    QCOMPARE(ListedIds(w), ids);
}

void TestResultsWindow::report_data()
{
    QTest::addColumn<bool>("print");
    QTest::addColumn<QString>("answer");  // the file named in the save dialog; empty: declined
    QTest::addColumn<QString>("written");
    QTest::newRow("PDF named .pdf") << false << "report.pdf" << "report.pdf";
    QTest::newRow("PDF name without extension") << false << "report" << "report.pdf";
    QTest::newRow("PDF declined") << false << "" << "";
    QTest::newRow("PDF folder missing") << false << "missing/report.pdf" << "";
    QTest::newRow("printed") << true << "printed.pdf" << "printed.pdf";
    QTest::newRow("printing declined") << true << "" << "";
}

void TestResultsWindow::report()
{
    QFETCH(bool, print);
    QFETCH(QString, answer);
    QFETCH(QString, written);
    QTemporaryDir out;
    ResultsWindow w(path_);
    QString proposed;
    w.setSaveNameAsker([&](const QString&, const QString&, const QString& name) { return proposed = name, answer.isEmpty() ? QString() : out.filePath(answer); });
    // A printer that writes its pages to a file, as a print dialog's "Print to File" does.
    w.setPrintAsker([&](QPrinter& printer) {
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(out.filePath(QStringLiteral("printed.pdf")));
        return !answer.isEmpty();
    });
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(ClickRun(w, 1));
    QTest::mouseClick(print ? w.btnPrint : w.btnReportPdf, Qt::LeftButton);
    QCOMPARE(w.labelStatus->isVisibleTo(&w), !answer.isEmpty());
    // The unit's serial number and the day of its run.
    QCOMPARE(proposed, print ? QString() : QDir::home().filePath(QStringLiteral("004711-2026-03-03.pdf")));
    if (written.isEmpty()) {
        QVERIFY(QDir(out.path()).entryList(QDir::Files).isEmpty());
        return;
    }
    QVERIFY2(w.labelStatus->text().contains(out.filePath(written)), qPrintable(w.labelStatus->text()));
    QFile file(out.filePath(written));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.size() > 1000);
    QVERIFY(file.read(5) == "%PDF-");
}

void TestResultsWindow::unreadableDatabase_data()
{
    QTest::addColumn<QString>("content");
    QTest::newRow("missing") << "missing";
    QTest::newRow("not a database") << "garbage";
    QTest::newRow("from a newer program") << "newer";
}

void TestResultsWindow::unreadableDatabase()
{
    QFETCH(QString, content);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("PowerTestDb.sqlite"));
    if (content == "garbage") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, 'x'));
    } else if (content == "newer") {
        ResultsDb db;
        QVERIFY(db.open(path, ResultsDb::Mode::Record));
        QSqlQuery q(db.database());
        QVERIFY(q.exec(QStringLiteral("UPDATE SchemaVersion SET version = 99")));
    }
    QString reason;
    {
        ResultsDb reader;
        QVERIFY(!reader.open(path, ResultsDb::Mode::Read));
        reason = reader.errorText();
    }

    ResultsWindow w(path);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(w.labelStatus->isVisible());
    QCOMPARE(w.labelStatus->text(), reason);
    QVERIFY2(CutLabels(w).isEmpty(), qPrintable(CutLabels(w).join(QStringLiteral(" | "))));
    QVERIFY(ListedIds(w).isEmpty());
    QVERIFY(!w.btnExport->isEnabled());
    w.comboResult->setCurrentIndex(1);
    QVERIFY(!w.Reload());

    // Once the file is readable, the next opening shows it and the reason goes.
    w.hide();
    QVERIFY(QFile::remove(path) || content == "missing");
    QVERIFY(QFile::copy(path_, path));
    w.comboResult->setCurrentIndex(0);
    w.show();
    QCOMPARE(ListedIds(w), (QList<qint64>{5, 3, 4, 1, 2}));
    QVERIFY(!w.labelStatus->isVisible());
    QVERIFY(w.btnExport->isEnabled());
}

namespace {
// The chart's texts drawn cut short (its title, axes and legend), and the legend entries drawn
// over one another's ("first / second").
QStringList LegendFaults(QChart* chart)
{
    QList<QGraphicsTextItem*> legend;
    QStringList faults;
    for (QGraphicsItem* item : chart->scene()->items()) {
        auto* text = qgraphicsitem_cast<QGraphicsTextItem*>(item);
        if (!text || !text->isVisible() || text->toPlainText().isEmpty()) continue;
        if (text->toPlainText().endsWith(QLatin1String("..."))) faults << text->toPlainText();
        if (chart->legend()->isAncestorOf(text)) legend << text;
    }
    for (qsizetype i = 0; i < legend.size(); ++i)
        for (qsizetype j = i + 1; j < legend.size(); ++j)
            if (legend[i]->sceneBoundingRect().intersects(legend[j]->sceneBoundingRect()))
                faults << legend[i]->toPlainText() + QStringLiteral(" / ") + legend[j]->toPlainText();
    return faults;
}
}  // namespace

void TestResultsWindow::chart_data()
{
    QTest::addColumn<QString>("bench");
    QTest::addColumn<int>("point");
    QTest::addColumn<int>("runs");
    QTest::addColumn<int>("beyond");
    QTest::addColumn<QString>("answer");  // the name given in the save dialog; empty: declined
    QTest::addColumn<QString>("written");
    QTest::newRow("every bench, PNG") << "All" << 4 << 40 << 1 << "chart.png" << "chart.png";
    QTest::newRow("one bench, name without extension") << "bench-2" << 4 << 20 << 1 << "chart" << "chart.png";
    QTest::newRow("PDF") << "bench-1" << 4 << 20 << 0 << "chart.pdf" << "chart.pdf";
    QTest::newRow("a point without readings") << "All" << 5 << 0 << 0 << "" << "";
}

void TestResultsWindow::chart()
{
    QFETCH(QString, bench);
    QFETCH(int, point);
    QFETCH(int, runs);
    QFETCH(int, beyond);
    QFETCH(QString, answer);
    QFETCH(QString, written);
    QTemporaryDir out;
    ResultsWindow w(chartPath_);
    QString proposed;
    w.setSaveNameAsker([&](const QString&, const QString&, const QString& name) { return proposed = name, answer.isEmpty() ? QString() : out.filePath(answer); });
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.tabs->setCurrentIndex(1);
    QCOMPARE(w.comboModel->currentText(), QStringLiteral("7212B"));
    // Two benches' runs: the operator may take one of them.
    QVERIFY(w.comboBench->isVisible());
    w.comboBench->setCurrentIndex(w.comboBench->findText(bench));
    w.comboPoint->setCurrentIndex(w.comboPoint->findData(point));
    w.spinBaselineRuns->setValue(20);
    QCOMPARE(w.comboPoint->currentText(), point == 4 ? QStringLiteral("4: 37.0V(7212B)") : QStringLiteral("5: 20.0V(7212B)"));
    QCOMPARE(w.chartView->readings->count(), runs);
    QCOMPARE(w.chartView->beyond->count(), beyond);
    if (beyond > 0) QCOMPARE(w.chartView->beyond->at(0).y(), 37.050);
    QCOMPARE(w.btnSaveChart->isEnabled(), runs > 0);
    QVERIFY2(CutLabels(w).isEmpty(), qPrintable(CutLabels(w).join(QStringLiteral(" | "))));
    // At the window's smallest and at a screen's width, every text of the charts whole, the legend's apart.
    for (const int width : {w.minimumSizeHint().width(), 1366}) {
        w.resize(width, w.height());
        QCoreApplication::processEvents();
        for (QChart* chart : {w.chartView->chart, w.chartView->histogram}) {
            const QStringList over = LegendFaults(chart);
            QVERIFY2(over.isEmpty(), qPrintable(QStringLiteral("at %1 px: %2").arg(width).arg(over.join(QStringLiteral(" | ")))));
        }
    }
    if (runs == 0) return;

    QTest::mouseClick(w.btnSaveChart, Qt::LeftButton);
    QCOMPARE(QFileInfo(proposed).fileName(), QStringLiteral("7212B-point%1-%2.png").arg(point).arg(QDate::currentDate().toString(Qt::ISODate)));
    if (written.isEmpty()) {
        QVERIFY(QDir(out.path()).entryList(QDir::Files).isEmpty());
        return;
    }
    QCOMPARE(w.labelChart->text(), QStringLiteral("The chart was written to %1.").arg(out.filePath(written)));
    QFile file(out.filePath(written));
    QVERIFY(file.open(QIODevice::ReadOnly));
    if (written.endsWith(QLatin1String(".pdf"))) {
        QVERIFY(file.read(5) == "%PDF-");
        return;
    }
    const QImage picture = QImage::fromData(file.readAll(), "PNG");
    QCOMPARE(picture.size(), ChartPictureSize);
    const QString shots = qEnvironmentVariable("KORVEX_SCREENSHOT_DIR");
    if (!shots.isEmpty() && bench == QLatin1String("All")) {
        // The legend takes up its new names when the event loop next runs, as it does on screen.
        QCoreApplication::processEvents();
        QVERIFY(QDir().mkpath(shots));
        QVERIFY(w.grab().save(QDir(shots).filePath(QStringLiteral("results-chart.png"))));
    }
}

void TestResultsWindow::baselineRemembered()
{
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("Config.Ini"));
    {
        ResultsWindow w(chartPath_);
        w.setSettingsFile(ini);
        w.show();
        w.tabs->setCurrentIndex(1);
        w.comboPoint->setCurrentIndex(w.comboPoint->findData(4));
        QVERIFY(!w.dateBaselineFrom->isVisible());
        w.dateBaselineFrom->setDate(QDate(2026, 4, 1));
        w.dateBaselineTo->setDate(QDate(2026, 4, 2));
        w.comboBaseline->setCurrentIndex(w.comboBaseline->findText(QStringLiteral("Days")));
        QVERIFY(w.dateBaselineFrom->isVisible() && !w.spinBaselineRuns->isVisible());
    }
    ResultsWindow w(chartPath_);
    w.setSettingsFile(ini);
    w.show();
    w.tabs->setCurrentIndex(1);
    w.comboPoint->setCurrentIndex(w.comboPoint->findData(4));
    QCOMPARE(w.comboBaseline->currentText(), QStringLiteral("Days"));
    QCOMPARE(w.CurrentChartRequest().baseline, (ChartBaseline{ChartBaseline::Kind::Days, 30, QDate(2026, 4, 1), QDate(2026, 4, 2)}));
    QCOMPARE(w.chartView->data().limits.count, 2);
}

QTEST_MAIN(TestResultsWindow)
void TestResultsWindow::lineServer()
{
    // On a line, every bench's runs from the line's server; the bench's own while it is away.
    if (!PgServer::available()) QSKIP("PostgreSQL 15 is not installed (scripts/setup.sh installs it)");
    PgServer pg;
    QString error;
    QVERIFY2(pg.start(&error), qPrintable(error));
    QVERIFY2(pg.exec(QStringLiteral("CREATE ROLE line LOGIN PASSWORD 'pw'"), QStringLiteral("postgres"), nullptr, &error), qPrintable(error));
    QVERIFY2(pg.exec(QStringLiteral("CREATE DATABASE korvex OWNER line"), QStringLiteral("postgres"), nullptr, &error), qPrintable(error));
    const ServerSettings server{.host = pg.host(), .port = pg.port(), .database = "korvex", .user = "line", .password = "pw"};
    {
        ResultsDb line;
        QVERIFY2(line.openServer(server, ResultsDb::Mode::Record), qPrintable(line.errorText()));
        QVERIFY(AddRun(line.database(), Seed[1]) == 1 && AddRun(line.database(), Seed[2]) == 2);
        QVERIFY(QSqlQuery(line.database()).exec("UPDATE TestResult SET bench = CASE WHEN id = 1 THEN 'bench-a' ELSE 'bench-b' END"));
    }
    ResultsWindow w(path_);
    w.setLineServer(server);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QCOMPARE(ListedIds(w), (QList<qint64>{2, 1}));
    QVERIFY(!w.labelStatus->isVisible());
    TypeInto(w.editSerial, QStringLiteral("4711"));
    QTRY_COMPARE(ListedIds(w), QList<qint64>{2});
    QVERIFY(ClickRun(w, 2));
    QVERIFY2(w.labelRun->text().contains(QStringLiteral("104711")), qPrintable(w.labelRun->text()));
    w.tabs->setCurrentIndex(1);
    QVERIFY(w.comboBench->count() == 3 && w.comboBench->isVisible());

    // The file's runs with the serial filter kept.
    QVERIFY(pg.stop());
    w.hide();
    w.show();
    QCOMPARE(ListedIds(w), (QList<qint64>{3, 4, 1}));
    const QString status = w.labelStatus->isVisible() ? w.labelStatus->text() : QString();
    QVERIFY2(status.startsWith(QStringLiteral("The line's runs cannot be shown: the line's database")) &&
                 status.endsWith(QStringLiteral("This bench's own runs are shown instead.")), qPrintable(status));
}

void TestResultsWindow::pages_data()
{
    QTest::addColumn<QString>("serial");
    QTest::addColumn<int>("runs");
    QTest::newRow("every run") << "" << 700;
    QTest::newRow("through the serial index") << "ab" << 350;
    QTest::newRow("in no serial number") << "x" << 0;
}

void TestResultsWindow::pages()
{
    // Scrolled to its end, the list holds every run once, in order, also where a page ends among
    // runs that started in the same millisecond.
    QFETCH(QString, serial);
    QFETCH(int, runs);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Pages.sqlite"));
    {
        ResultsDb db;
        QVERIFY(db.open(path, ResultsDb::Mode::Record) && db.database().transaction());
        for (int i = 0; i < 700; ++i)
            QVERIFY(AddRun(db.database(), {"calibration", At(1 + i / 300, 9, 0), 1000, "finished", "",
                                           ((i % 2 ? "AB" : "CD") + QByteArray::number(1000 + i)).constData(), "7212B", "Anna", ""}) > 0);
        QVERIFY(db.database().commit());
    }
    ResultsWindow w(path);
    w.show();
    w.editSerial->setText(serial);
    emit w.editSerial->returnPressed();
    QAbstractItemModel* m = w.tableRuns->model();
    QCOMPARE(m->rowCount(), std::min(runs, 256));
    while (m->canFetchMore({})) m->fetchMore({});
    const QList<qint64> ids = ListedIds(w);
    QCOMPARE(ids.size(), runs);
    // Newest day first, and within a day's one moment the highest id first: in both, the later run.
    QVERIFY(std::adjacent_find(ids.begin(), ids.end(), std::less_equal<>()) == ids.end());
}

#include "tst_ResultsWindow.moc"
