// The results window: the recorded runs with their filters, one run in full, CSV export, the report and the control chart.
#include "ResultsWindow.h"

#include "AppError.h"
#include "BenchTime.h"
#include "ControlChart.h"
#include "MeterSettings.h"
#include "PrintModule.h"
#include "ReportPage.h"
#include "RunListModel.h"
#include "WholeFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLibrary>
#include <QLineEdit>
#include <QLocale>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QSqlError>
#include <QSqlQuery>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

constexpr int SerialPauseMs = 150;
// The page of the control chart among the window's tabs.
constexpr int ChartPage = 1;

QString OrNone(const QString& text) { return text.isEmpty() ? QStringLiteral("none") : text; }

// Everything of a run that is not a reading, a step or its log. Values come from the record as
// typed, so they are only ever placed by QString's one-pass arg(), which leaves a "%" in them alone.
QString HeaderText(const RunDetails& r)
{
    const QString n = QString::number(r.id);
    QStringList lines;
    lines << QStringLiteral("Run %1, %2: %3").arg(n, r.kind, r.result);
    const QString port = r.port.isEmpty() ? QStringLiteral("port not recorded")
                                          : QStringLiteral("%1 at %2 baud").arg(r.port, QString::number(r.baud));
    lines << QStringLiteral("Serial number read %1, written %2; model %3; address %4; %5")
                 .arg(OrNone(r.serialRead), OrNone(r.serialWritten), OrNone(r.model), QString::number(r.address), port);
    lines << QStringLiteral("Operator %1; temperature %2; humidity %3; bench %4")
                 .arg(OrNone(r.operatorName), OrNone(r.temperature), OrNone(r.humidity), OrNone(r.bench));
    const QString after = r.hasCounterAfter ? QString::number(r.counterAfter) : QStringLiteral("not recorded");
    lines << QStringLiteral("Started %1; ended %2; unit counter %3 before, %4 after")
                 .arg(BenchTimeOf(r.startedAt), r.endedAt.isEmpty() ? QStringLiteral("never") : BenchTimeOf(r.endedAt),
                      QString::number(r.counterBefore), after);
    lines << (r.meter.isEmpty() ? QStringLiteral("No reading from a meter: every reading typed")
                                : QStringLiteral("Measured with %1 (%2)").arg(r.meter.describe(), r.meter.source == QLatin1String("SCPI") ? QStringLiteral("SCPI") : QStringLiteral("libsigrok ") + r.meter.source));
    return lines.join(QLatin1Char('\n'));
}

void FillTable(QTableWidget* table, const std::vector<QStringList>& rows)
{
    table->clearContents();
    table->setRowCount(static_cast<int>(rows.size()));
    for (int row = 0; row < table->rowCount(); ++row) {
        const QStringList& cells = rows[static_cast<std::size_t>(row)];
        for (int column = 0; column < cells.size() && column < table->columnCount(); ++column)
            table->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    // Every column shown whole: the table asks the layout for the width of all of them, with room
    // for the scroll bar a long list of steps brings. The last column stretches to the table's
    // width, so it is measured unstretched.
    table->horizontalHeader()->setStretchLastSection(false);
    table->resizeColumnsToContents();
    table->setMinimumWidth(table->horizontalHeader()->length() + 2 * table->frameWidth() +
                           table->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, table));
    table->horizontalHeader()->setStretchLastSection(true);
}

// Rows one line of text high, so that a run's seven readings fit without scrolling.
int RowHeight(const QWidget& table) { return QFontMetrics(table.font()).lineSpacing() + 6; }

QTableWidget* MakeDetailTable(const QStringList& titles, const QString& name, QWidget* parent)
{
    auto* table = new QTableWidget(0, static_cast<int>(titles.size()), parent);
    table->setObjectName(name);
    table->setHorizontalHeaderLabels(titles);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->setVisible(false);
    table->verticalHeader()->setDefaultSectionSize(RowHeight(*table));
    table->horizontalHeader()->setStretchLastSection(true);
    table->setWordWrap(false);
    return table;
}

// A name typed without an extension gets the one the dialog was asking for.
QString WithSuffix(const QString& path, const QString& suffix)
{
    return QFileInfo(path).suffix().isEmpty() ? path + QLatin1Char('.') + suffix : path;
}

// A part of a proposed file name: a serial field or a model may hold anything, a name only what
// every file system and shell takes as it is.
QString FilePart(const QString& text)
{
    QString part = text.trimmed();
    for (QChar& c : part)
        if (!c.isLetterOrNumber() || c.unicode() > 127) c = QLatin1Char('_');
    return part;
}

QString Today() { return QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")); }

QLabel* Caption(const QString& text, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

// Loaded once and kept: beside the program as installed, else where the build made it.
PrintReportFunction PrintingModule(QString* error)
{
    static PrintReportFunction print = nullptr;
    if (print) return print;
    const QStringList dirs = {QCoreApplication::applicationDirPath() + QStringLiteral("/../" KORVEX_MODULE_SUBDIR),
                              QStringLiteral(KORVEX_BUILD_MODULE_DIR)};
    QStringList failures;
    for (const QString& dir : dirs) {
        const QString path = dir + QLatin1Char('/') + QLatin1String(PrintModuleFile);
        if (!QFileInfo::exists(path)) {
            failures << QStringLiteral("%1 is missing").arg(QDir::cleanPath(path));
            continue;
        }
        QLibrary module(path);
        if (module.load()) {
            print = reinterpret_cast<PrintReportFunction>(module.resolve(PrintReportSymbol));
            if (print) return print;
        }
        failures << module.errorString();
    }
    *error = failures.join(QStringLiteral("; "));
    return nullptr;
}

}  // namespace

ResultsWindow::ResultsWindow(QString databasePath, QWidget* parent)
    : QDialog(parent), databasePath_(std::move(databasePath))
{
    setWindowTitle(QStringLiteral("Results"));
    setSizeGripEnabled(true);

    askSaveName_ = [this](const QString& caption, const QString& filter, const QString& proposed) {
        return QFileDialog::getSaveFileName(this, caption, proposed, filter);
    };
    lastFolder_ = QDir::homePath();

    editSerial = new QLineEdit(this);
    editSerial->setObjectName(QStringLiteral("editSerial"));
    editSerial->setClearButtonEnabled(true);
    editSerial->setPlaceholderText(QStringLiteral("any"));
    checkFrom = new QCheckBox(QStringLiteral("From"), this);
    checkFrom->setObjectName(QStringLiteral("checkFrom"));
    dateFrom = new QDateEdit(QDate::currentDate(), this);
    dateFrom->setObjectName(QStringLiteral("dateFrom"));
    checkTo = new QCheckBox(QStringLiteral("To"), this);
    checkTo->setObjectName(QStringLiteral("checkTo"));
    dateTo = new QDateEdit(QDate::currentDate(), this);
    dateTo->setObjectName(QStringLiteral("dateTo"));
    for (QDateEdit* edit : {dateFrom, dateTo}) {
        // The list writes its dates this way too.
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        edit->setCalendarPopup(true);
        edit->setEnabled(false);
    }
    checkFrom->setAccessibleName(QStringLiteral("From date"));
    checkTo->setAccessibleName(QStringLiteral("To date"));
    dateFrom->setAccessibleName(QStringLiteral("From date"));
    dateTo->setAccessibleName(QStringLiteral("To date"));
    comboResult = new QComboBox(this);
    comboResult->setObjectName(QStringLiteral("comboResult"));
    comboResult->addItem(QStringLiteral("All"), QString());
    for (const QString& result : RunResults()) comboResult->addItem(result, result);

    auto* filters = new QHBoxLayout;
    filters->addWidget(Caption(QStringLiteral("&Serial number"), editSerial, this));
    filters->addWidget(editSerial, 1);
    filters->addSpacing(12);
    filters->addWidget(checkFrom);
    filters->addWidget(dateFrom);
    filters->addWidget(checkTo);
    filters->addWidget(dateTo);
    filters->addSpacing(12);
    filters->addWidget(Caption(QStringLiteral("&Result"), comboResult, this));
    filters->addWidget(comboResult);

    model_ = new RunListModel(this);
    connect(model_, &RunListModel::pageFault, this,
            [this](const QString& error) { showStatus(QStringLiteral("The runs cannot be read: %1").arg(error)); });
    tableRuns = new QTableView(this);
    tableRuns->setObjectName(QStringLiteral("tableRuns"));
    tableRuns->setAccessibleName(QStringLiteral("Runs"));
    tableRuns->setModel(model_);
    tableRuns->setSelectionBehavior(QAbstractItemView::SelectRows);
    tableRuns->setSelectionMode(QAbstractItemView::SingleSelection);
    tableRuns->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tableRuns->setAlternatingRowColors(true);
    tableRuns->setWordWrap(false);
    tableRuns->verticalHeader()->setVisible(false);
    tableRuns->verticalHeader()->setDefaultSectionSize(RowHeight(*tableRuns));

    labelNoRuns = new QLabel(this);
    labelNoRuns->setObjectName(QStringLiteral("labelNoRuns"));
    labelNoRuns->setAlignment(Qt::AlignCenter);
    runsStack_ = new QStackedWidget(this);
    runsStack_->addWidget(tableRuns);
    runsStack_->addWidget(labelNoRuns);

    labelStatus = new QLabel(this);
    labelStatus->setObjectName(QStringLiteral("labelStatus"));
    labelStatus->setTextFormat(Qt::PlainText);
    labelStatus->setWordWrap(true);
    labelStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    labelStatus->setVisible(false);

    auto* details = new QGroupBox(QStringLiteral("Selected run"), this);
    labelRun = new QLabel(details);
    labelRun->setObjectName(QStringLiteral("labelRun"));
    // Operators type what they like into their name and the conditions; none of it is markup.
    labelRun->setTextFormat(Qt::PlainText);
    labelRun->setWordWrap(true);
    labelRun->setTextInteractionFlags(Qt::TextSelectableByMouse);
    tableReadings = MakeDetailTable({QStringLiteral("Point"), QStringLiteral("Quantity"), QStringLiteral("Nominal"),
                                     QStringLiteral("Reading"), QStringLiteral("From"), QStringLiteral("Value sent")},
                                    QStringLiteral("tableReadings"), details);
    tableReadings->setAccessibleName(QStringLiteral("Readings"));
    tableSteps = MakeDetailTable({QStringLiteral("Step"), QStringLiteral("State"), QStringLiteral("Sends"), QStringLiteral("At")},
                                 QStringLiteral("tableSteps"), details);
    tableSteps->setAccessibleName(QStringLiteral("Steps"));
    textLog = new QPlainTextEdit(details);
    textLog->setObjectName(QStringLiteral("textLog"));
    textLog->setAccessibleName(QStringLiteral("Event log"));
    textLog->setReadOnly(true);
    textLog->setLineWrapMode(QPlainTextEdit::NoWrap);

    auto* readingsColumn = new QVBoxLayout;
    readingsColumn->addWidget(Caption(QStringLiteral("Readings"), tableReadings, details));
    readingsColumn->addWidget(tableReadings);
    auto* stepsColumn = new QVBoxLayout;
    stepsColumn->addWidget(Caption(QStringLiteral("Steps"), tableSteps, details));
    stepsColumn->addWidget(tableSteps);
    auto* logColumn = new QVBoxLayout;
    logColumn->addWidget(Caption(QStringLiteral("Event log"), textLog, details));
    logColumn->addWidget(textLog);
    auto* tables = new QHBoxLayout;
    tables->addLayout(readingsColumn, 4);
    tables->addLayout(stepsColumn, 4);
    tables->addLayout(logColumn, 3);
    auto* detailsLayout = new QVBoxLayout(details);
    detailsLayout->addWidget(labelRun);
    detailsLayout->addLayout(tables, 1);

    btnExport = new QPushButton(QStringLiteral("Export CSV..."), this);
    btnExport->setObjectName(QStringLiteral("btnExport"));
    btnReportPdf = new QPushButton(QStringLiteral("Report PDF..."), this);
    btnReportPdf->setObjectName(QStringLiteral("btnReportPdf"));
    btnPrint = new QPushButton(QStringLiteral("Print report..."), this);
    btnPrint->setObjectName(QStringLiteral("btnPrint"));
    btnClose = new QPushButton(QStringLiteral("Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    // Enter in the serial edit applies the filter; it must not open a file dialog or close the window.
    for (QPushButton* button : {btnExport, btnReportPdf, btnPrint, btnClose}) button->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnExport);
    buttons->addWidget(btnReportPdf);
    buttons->addWidget(btnPrint);
    buttons->addStretch(1);
    buttons->addWidget(btnClose);

    auto* runsPage = new QWidget(this);
    auto* runsLayout = new QVBoxLayout(runsPage);
    runsLayout->addLayout(filters);
    runsLayout->addWidget(runsStack_, 3);
    runsLayout->addWidget(details, 4);
    tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("tabs"));
    tabs->addTab(runsPage, QStringLiteral("R&uns"));
    tabs->addTab(makeChartPage(), QStringLiteral("&Control chart"));
    connect(tabs, &QTabWidget::currentChanged, this, [this](int index) {
        if (index != ChartPage) return;
        if (!chartChoicesRead_) fillChartChoices();
        RedrawChart();
    });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs, 1);
    layout->addWidget(labelStatus);
    layout->addLayout(buttons);

    serialPause_.setSingleShot(true);
    serialPause_.setInterval(SerialPauseMs);
    connect(&serialPause_, &QTimer::timeout, this, [this] { requery(SelectedRunId()); });
    connect(editSerial, &QLineEdit::textChanged, this, [this] { serialPause_.start(); });
    connect(editSerial, &QLineEdit::returnPressed, this, [this] { applyPendingFilter(); });
    connect(checkFrom, &QCheckBox::toggled, this, [this](bool on) {
        dateFrom->setEnabled(on);
        requery(SelectedRunId());
    });
    connect(checkTo, &QCheckBox::toggled, this, [this](bool on) {
        dateTo->setEnabled(on);
        requery(SelectedRunId());
    });
    connect(dateFrom, &QDateEdit::dateChanged, this, [this] {
        if (checkFrom->isChecked()) requery(SelectedRunId());
    });
    connect(dateTo, &QDateEdit::dateChanged, this, [this] {
        if (checkTo->isChecked()) requery(SelectedRunId());
    });
    connect(comboResult, &QComboBox::currentIndexChanged, this, [this] { requery(SelectedRunId()); });
    connect(tableRuns->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { selectionChanged(); });
    connect(btnExport, &QPushButton::clicked, this, [this] { btnExportClick(); });
    connect(btnReportPdf, &QPushButton::clicked, this, [this] { btnReportPdfClick(); });
    connect(btnPrint, &QPushButton::clicked, this, [this] { btnPrintClick(); });
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);

    const QFontMetrics fm(font());
    resize(fm.averageCharWidth() * 160, fm.lineSpacing() * 48);
    updateButtons();
}

ResultsWindow::~ResultsWindow()
{
    // The model's query holds the connection, which closing the database removes.
    model_->clear();
    db_.close();
}

void ResultsWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // A window brought back from the task bar keeps what it shows; an opening reads afresh.
    if (event->spontaneous()) return;
    // The band may have been changed in the meter dialog since.
    if (!iniPath_.isEmpty()) plausibilityShare_ = LoadMeterSettings(iniPath_).plausibilityShare;
    Reload();
    chartChoicesRead_ = false;
    if (tabs->currentIndex() == ChartPage) {
        fillChartChoices();
        RedrawChart();
    }
}

bool ResultsWindow::Reload()
{
    const qint64 keep = SelectedRunId();
    serialPause_.stop();
    model_->clear();
    clearDetails();
    QString away;
    if (lineServer_ && !db_.openServer(*lineServer_, ResultsDb::Mode::Read))
        away = QStringLiteral("The line's runs cannot be shown: %1. This bench's own runs are shown instead.").arg(db_.errorText());
    if (!db_.isOpen() && !db_.open(databasePath_, ResultsDb::Mode::Read)) {
        showStatus(away.isEmpty() ? db_.errorText() : away + QLatin1Char(' ') + db_.errorText());
        updateButtons();
        return false;
    }
    showStatus(away);
    return requery(keep);
}

void ResultsWindow::setLineServer(const ServerSettings& server) { lineServer_ = server; }

RunFilter ResultsWindow::CurrentFilter() const
{
    RunFilter filter;
    filter.serial = editSerial->text().trimmed();
    if (checkFrom->isChecked()) filter.from = dateFrom->date();
    if (checkTo->isChecked()) filter.to = dateTo->date();
    filter.result = comboResult->currentData().toString();
    return filter;
}

qint64 ResultsWindow::SelectedRunId() const
{
    const QModelIndexList rows = tableRuns->selectionModel()->selectedRows();
    return rows.isEmpty() ? 0 : model_->runId(rows.first().row());
}

bool ResultsWindow::requery(qint64 keepRun)
{
    serialPause_.stop();
    runsStack_->setCurrentWidget(tableRuns);
    if (!db_.isOpen()) {
        updateButtons();
        return false;
    }
    QString error;
    const RunFilter filter = CurrentFilter();
    if (!model_->setFilter(db_.database(), filter, &error)) {
        clearDetails();
        showStatus(QStringLiteral("The runs cannot be read: %1").arg(error));
        updateButtons();
        return false;
    }
    for (int column : {RunListModel::ColId, RunListModel::ColKind}) tableRuns->setColumnHidden(column, true);
    tableRuns->resizeColumnsToContents();
    if (model_->rowCount() == 0) {
        const bool filtered = !filter.serial.isEmpty() || filter.from.isValid() || filter.to.isValid() || !filter.result.isEmpty();
        labelNoRuns->setText(filtered ? QStringLiteral("No run matches.") : QStringLiteral("No run recorded yet."));
        runsStack_->setCurrentWidget(labelNoRuns);
    }

    // A reset list keeps no selection and says nothing of losing it; the run stays selected while
    // it is among the rows fetched.
    const int fetched = model_->rowCount();
    for (int row = 0; keepRun != 0 && row < fetched; ++row) {
        if (model_->runId(row) == keepRun) {
            tableRuns->selectRow(row);
            tableRuns->scrollTo(model_->index(row, RunListModel::ColDate));
            break;
        }
    }
    if (SelectedRunId() == 0) clearDetails();
    updateButtons();
    return true;
}

void ResultsWindow::applyPendingFilter()
{
    if (serialPause_.isActive()) requery(SelectedRunId());
}

void ResultsWindow::selectionChanged()
{
    const qint64 id = SelectedRunId();
    if (id == 0)
        clearDetails();
    else
        showDetails(id);
    updateButtons();
}

void ResultsWindow::showDetails(qint64 id)
{
    RunDetails run;
    QString error;
    if (!LoadRun(db_.database(), id, &run, &error)) {
        clearDetails();
        showStatus(QStringLiteral("Run %1 cannot be read: %2").arg(QString::number(id), error));
        return;
    }
    details_ = std::move(run);
    hasDetails_ = true;
    labelRun->setText(HeaderText(details_));

    std::vector<QStringList> readings;
    for (const ReadingRow& r : details_.readings) {
        const QString unit = r.quantity == QLatin1String("A") ? QStringLiteral("mA") : QStringLiteral("mV");
        readings.push_back({QString::number(r.point), r.quantity, r.nominal, r.typed, r.source,
                            QStringLiteral("%1 %2").arg(QString::number(r.valueSent), unit)});
    }
    FillTable(tableReadings, readings);
    std::vector<QStringList> steps;
    for (const StepRow& s : details_.steps)
        steps.push_back({QString::number(s.step), s.state, QString::number(s.sends), BenchTimeOf(s.at)});
    FillTable(tableSteps, steps);
    textLog->setPlainText(details_.eventLog);
    // A wrapped label does not tell the layout how tall it has become: the window, at whatever
    // size, keeps room for all of the header's lines. It is never narrower than the two tables
    // side by side below it.
    const int narrowest = std::max(labelRun->minimumSizeHint().width(), tableReadings->minimumWidth() + tableSteps->minimumWidth());
    labelRun->setMinimumHeight(labelRun->heightForWidth(narrowest));
}

void ResultsWindow::clearDetails()
{
    details_ = RunDetails{};
    hasDetails_ = false;
    labelRun->setText(QStringLiteral("No run selected."));
    FillTable(tableReadings, {});
    FillTable(tableSteps, {});
    textLog->clear();
    updateButtons();
}

void ResultsWindow::showStatus(const QString& text)
{
    labelStatus->setText(text);
    labelStatus->setVisible(!text.isEmpty());
}

void ResultsWindow::updateButtons()
{
    btnExport->setEnabled(db_.isOpen());
    btnReportPdf->setEnabled(hasDetails_);
    btnPrint->setEnabled(hasDetails_);
}

void ResultsWindow::btnExportClick()
{
    applyPendingFilter();
    if (!db_.isOpen()) return;
    const QString chosen = askSaveName(QStringLiteral("Export CSV"), QStringLiteral("CSV files (*.csv)"),
                                       QStringLiteral("runs-%1.csv").arg(Today()));
    if (chosen.isEmpty()) return;
    const QString path = WithSuffix(chosen, QStringLiteral("csv"));
    // Written aside and put in place at the end: a failed export leaves an earlier file as it was.
    WholeFile file(path);
    if (!file.open()) {
        showStatus(QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString()));
        return;
    }
    QString error;
    // Opened in a spreadsheet, which reads ± and ° right only after the mark.
    if (!ExportCsv(db_.database(), CurrentFilter(), *file.device(), &error, nullptr, ByteOrderMark::With)) {
        file.cancel();
        showStatus(QStringLiteral("%1 cannot be written: %2").arg(path, error));
        return;
    }
    if (!file.commit()) {
        showStatus(QStringLiteral("%1 cannot be written: %2").arg(path, file.errorString()));
        return;
    }
    rememberFolder(path);
    showStatus(QStringLiteral("The runs listed were written to %1.").arg(path));
}

void ResultsWindow::btnReportPdfClick()
{
    if (!hasDetails_) return;
    // The unit's number and the day of its run: the name says the same at every reprint.
    const QString serial = FilePart(details_.serialWritten.isEmpty() ? details_.serialRead : details_.serialWritten);
    const QString day = QDateTime::fromString(details_.startedAt, Qt::ISODateWithMs).toLocalTime().toString(QStringLiteral("yyyy-MM-dd"));
    const QString chosen = askSaveName(QStringLiteral("Report PDF"), QStringLiteral("PDF files (*.pdf)"),
                                       QStringLiteral("%1-%2.pdf").arg(serial.isEmpty() ? QStringLiteral("run%1").arg(details_.id) : serial,
                                                                        day.isEmpty() ? Today() : day));
    if (chosen.isEmpty()) return;
    const QString path = WithSuffix(chosen, QStringLiteral("pdf"));
    QString error;
    if (!WriteReportPdf(details_, path, &error)) {
        showStatus(error);
        return;
    }
    rememberFolder(path);
    showStatus(QStringLiteral("The report of run %1 was written to %2.").arg(QString::number(details_.id), path));
}

void ResultsWindow::btnPrintClick()
{
    if (!hasDetails_) return;
    QString error;
    const PrintReportFunction print = PrintingModule(&error);
    if (!print) {
        showStatus(QStringLiteral("Printing is not available: %1").arg(error));
        return;
    }
    PrintJob job;
    job.parent = this;
    job.docName = QStringLiteral("Calibration report %1").arg(OrNone(
        details_.serialWritten.isEmpty() ? details_.serialRead : details_.serialWritten));
    job.ask = askPrint_;
    job.draw = [this](QPainter& painter, const QRectF& page) { DrawReport(painter, page, details_); };
    PrintOutcome outcome;
    print(job, outcome);
    switch (outcome.kind) {
        case PrintOutcome::Kind::Declined:
            return;
        case PrintOutcome::Kind::NotStarted:
            showStatus(QStringLiteral("The printer cannot be started."));
            return;
        case PrintOutcome::Kind::NotFinished:
            showStatus(QStringLiteral("The report of run %1 could not be printed.").arg(QString::number(details_.id)));
            return;
        case PrintOutcome::Kind::Printed:
            showStatus(QStringLiteral("The report of run %1 went to %2.").arg(QString::number(details_.id), OrNone(outcome.where)));
            return;
    }
}

QWidget* ResultsWindow::makeChartPage()
{
    auto* page = new QWidget(this);
    comboModel = new QComboBox(page);
    comboModel->setObjectName(QStringLiteral("comboModel"));
    comboPoint = new QComboBox(page);
    comboPoint->setObjectName(QStringLiteral("comboPoint"));
    for (const CalPoint& p : CalPoints()) comboPoint->addItem(QString::number(p.number), p.number);
    comboBench = new QComboBox(page);
    comboBench->setObjectName(QStringLiteral("comboBench"));
    spinChartRuns = new QSpinBox(page);
    spinChartRuns->setObjectName(QStringLiteral("spinChartRuns"));
    spinChartRuns->setRange(10, 100000);
    spinChartRuns->setValue(ChartRequest{}.lastRuns);
    comboBaseline = new QComboBox(page);
    comboBaseline->setObjectName(QStringLiteral("comboBaseline"));
    comboBaseline->addItem(QStringLiteral("First runs"), int(ChartBaseline::Kind::FirstRuns));
    comboBaseline->addItem(QStringLiteral("Days"), int(ChartBaseline::Kind::Days));
    spinBaselineRuns = new QSpinBox(page);
    spinBaselineRuns->setObjectName(QStringLiteral("spinBaselineRuns"));
    spinBaselineRuns->setRange(2, 100000);
    spinBaselineRuns->setValue(ChartBaseline{}.runs);
    spinBaselineRuns->setAccessibleName(QStringLiteral("Baseline runs"));
    dateBaselineFrom = new QDateEdit(QDate::currentDate(), page);
    dateBaselineFrom->setObjectName(QStringLiteral("dateBaselineFrom"));
    dateBaselineFrom->setAccessibleName(QStringLiteral("Baseline from"));
    dateBaselineTo = new QDateEdit(QDate::currentDate(), page);
    dateBaselineTo->setObjectName(QStringLiteral("dateBaselineTo"));
    dateBaselineTo->setAccessibleName(QStringLiteral("Baseline to"));
    for (QDateEdit* edit : {dateBaselineFrom, dateBaselineTo}) {
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        edit->setCalendarPopup(true);
    }
    btnSaveChart = new QPushButton(QStringLiteral("Save chart..."), page);
    btnSaveChart->setObjectName(QStringLiteral("btnSaveChart"));
    btnSaveChart->setAutoDefault(false);
    labelChart = new QLabel(page);
    labelChart->setObjectName(QStringLiteral("labelChart"));
    labelChart->setTextFormat(Qt::PlainText);
    labelChart->setWordWrap(true);
    labelChart->setVisible(false);
    chartView = new ControlChart(page);
    chartView->setObjectName(QStringLiteral("chartView"));

    auto* choose = new QHBoxLayout;
    choose->addWidget(Caption(QStringLiteral("&Model"), comboModel, page));
    choose->addWidget(comboModel);
    choose->addWidget(Caption(QStringLiteral("P&oint"), comboPoint, page));
    choose->addWidget(comboPoint);
    auto* benchCaption = Caption(QStringLiteral("&Bench"), comboBench, page);
    benchCaption->setObjectName(QStringLiteral("labelBench"));
    choose->addWidget(benchCaption);
    choose->addWidget(comboBench);
    choose->addWidget(Caption(QStringLiteral("Runs sho&wn"), spinChartRuns, page));
    choose->addWidget(spinChartRuns);
    choose->addSpacing(12);
    choose->addWidget(Caption(QStringLiteral("Base&line"), comboBaseline, page));
    choose->addWidget(comboBaseline);
    choose->addWidget(spinBaselineRuns);
    choose->addWidget(dateBaselineFrom);
    choose->addWidget(dateBaselineTo);
    choose->addStretch(1);
    choose->addWidget(btnSaveChart);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(choose);
    layout->addWidget(labelChart);
    layout->addWidget(chartView, 1);

    connect(comboModel, &QComboBox::currentIndexChanged, this, [this] {
        showPointLevels();
        RedrawChart();
    });
    for (QComboBox* combo : {comboPoint, comboBench})
        connect(combo, &QComboBox::currentIndexChanged, this, [this] { RedrawChart(); });
    connect(spinChartRuns, &QSpinBox::valueChanged, this, [this] { RedrawChart(); });
    connect(comboBaseline, &QComboBox::currentIndexChanged, this, [this] { baselineChanged(); });
    connect(spinBaselineRuns, &QSpinBox::valueChanged, this, [this] { baselineChanged(); });
    for (QDateEdit* edit : {dateBaselineFrom, dateBaselineTo})
        connect(edit, &QDateEdit::dateChanged, this, [this] { baselineChanged(); });
    connect(btnSaveChart, &QPushButton::clicked, this, [this] { btnSaveChartClick(); });
    btnSaveChart->setEnabled(false);
    showBaselineControls();
    return page;
}

void ResultsWindow::setSettingsFile(const QString& iniPath)
{
    iniPath_ = iniPath;
    plausibilityShare_ = LoadMeterSettings(iniPath).plausibilityShare;
    const ChartBaseline b = LoadChartBaseline(iniPath);
    const QSignalBlocker blockKind(comboBaseline), blockRuns(spinBaselineRuns), blockFrom(dateBaselineFrom), blockTo(dateBaselineTo);
    comboBaseline->setCurrentIndex(comboBaseline->findData(int(b.kind)));
    spinBaselineRuns->setValue(b.runs);
    if (b.from.isValid()) dateBaselineFrom->setDate(b.from);
    if (b.to.isValid()) dateBaselineTo->setDate(b.to);
    showBaselineControls();
}

ChartRequest ResultsWindow::CurrentChartRequest() const
{
    ChartRequest r;
    r.model = comboModel->currentText();
    r.point = comboPoint->currentData().toInt();
    r.bench = comboBench->currentData().toString();
    r.lastRuns = spinChartRuns->value();
    r.baseline.kind = static_cast<ChartBaseline::Kind>(comboBaseline->currentData().toInt());
    r.baseline.runs = spinBaselineRuns->value();
    r.baseline.from = std::min(dateBaselineFrom->date(), dateBaselineTo->date());
    r.baseline.to = std::max(dateBaselineFrom->date(), dateBaselineTo->date());
    r.plausibilityShare = plausibilityShare_;
    return r;
}

void ResultsWindow::fillChartChoices()
{
    chartChoicesRead_ = true;
    if (!db_.isOpen()) return;
    QStringList models, benches;
    QString error;
    if (!ChartModels(db_.database(), &models, &error) || !ChartBenches(db_.database(), &benches, &error)) {
        labelChart->setText(QStringLiteral("The models and benches cannot be read: %1").arg(error));
        labelChart->setVisible(true);
        return;
    }
    QString model = comboModel->currentText();
    const QString bench = comboBench->currentData().toString();
    // First opened on the model just calibrated, not on the first of the list.
    if (model.isEmpty() && !NewestChartModel(db_.database(), &model, &error)) model.clear();
    {
        const QSignalBlocker blockModel(comboModel), blockBench(comboBench);
        comboModel->clear();
        comboModel->addItems(models);
        comboModel->setCurrentIndex(std::max(0, static_cast<int>(models.indexOf(model))));
        comboBench->clear();
        comboBench->addItem(QStringLiteral("All"), QString());
        for (const QString& b : benches) comboBench->addItem(b, b);
        comboBench->setCurrentIndex(std::max(0, comboBench->findData(bench)));
    }
    // A bench's own record holds only its runs; the choice matters where a line's runs meet.
    const bool line = benches.size() > 1;
    comboBench->setVisible(line);
    findChild<QLabel*>(QStringLiteral("labelBench"))->setVisible(line);
    showPointLevels();
}

void ResultsWindow::showPointLevels()
{
    // The points' levels are the model's own.
    for (int i = 0; i < comboPoint->count(); ++i) {
        const int point = comboPoint->itemData(i).toInt();
        const QString level = PointLevel(point, comboModel->currentText());
        comboPoint->setItemText(i, level.isEmpty() ? QString::number(point) : QStringLiteral("%1: %2").arg(point).arg(level));
    }
}

bool ResultsWindow::RedrawChart()
{
    auto fail = [this](const QString& text) {
        chartView->setData(ControlChartData{});
        labelChart->setText(text);
        labelChart->setVisible(!text.isEmpty());
        btnSaveChart->setEnabled(false);
        return false;
    };
    // The reason a record cannot be read is shown below, for both pages.
    if (!db_.isOpen()) return fail(QString());
    const ChartRequest request = CurrentChartRequest();
    if (request.model.isEmpty()) return fail(QStringLiteral("The record holds no finished calibration yet."));
    ControlChartData data;
    QString error;
    if (!LoadControlChart(db_.database(), request, &data, &error))
        return fail(QStringLiteral("The chart cannot be drawn: %1").arg(error));
    chartView->setData(data);
    labelChart->clear();
    labelChart->setVisible(false);
    btnSaveChart->setEnabled(!data.samples.empty());
    return true;
}

void ResultsWindow::showBaselineControls()
{
    const bool days = comboBaseline->currentData().toInt() == int(ChartBaseline::Kind::Days);
    spinBaselineRuns->setVisible(!days);
    dateBaselineFrom->setVisible(days);
    dateBaselineTo->setVisible(days);
}

void ResultsWindow::baselineChanged()
{
    showBaselineControls();
    if (!iniPath_.isEmpty()) {
        try {
            SaveChartBaseline(CurrentChartRequest().baseline, iniPath_);
        } catch (const AppError& e) {
            if (!baselineFaultTold_) {
                baselineFaultTold_ = true;
                showStatus(QStringLiteral("The baseline is not remembered: %1").arg(e.message()));
            }
        }
    }
    RedrawChart();
}

void ResultsWindow::btnSaveChartClick()
{
    const ChartRequest request = CurrentChartRequest();
    const QString chosen = askSaveName(QStringLiteral("Save chart"), QStringLiteral("PNG pictures (*.png);;PDF files (*.pdf)"),
                                       QStringLiteral("%1-point%2-%3.png").arg(FilePart(request.model)).arg(request.point).arg(Today()));
    if (chosen.isEmpty()) return;
    const QString path = WithSuffix(chosen, QStringLiteral("png"));
    QString error;
    const bool pdf = QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0;
    const bool ok = pdf ? chartView->SavePdf(path, &error) : chartView->SavePng(path, ChartPictureSize, &error);
    if (ok) rememberFolder(path);
    labelChart->setText(ok ? QStringLiteral("The chart was written to %1.").arg(path) : error);
    labelChart->setVisible(true);
}

QString ResultsWindow::askSaveName(const QString& caption, const QString& filter, const QString& name) const
{
    return askSaveName_(caption, filter, QDir(lastFolder_).filePath(name));
}

void ResultsWindow::rememberFolder(const QString& path) { lastFolder_ = QFileInfo(path).absolutePath(); }
