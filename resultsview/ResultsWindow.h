// The results window: the recorded runs with their filters, one run in full, CSV export, the report and the control chart.
#pragma once

#include "ControlChartData.h"
#include "ResultsDb.h"
#include "ResultsQuery.h"

#include <QDialog>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

class ControlChart;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPrinter;
class QPushButton;
class QSpinBox;
class QStackedWidget;
class QTabWidget;
class RunListModel;
class QTableView;
class QTableWidget;

class ResultsWindow : public QDialog {
    Q_OBJECT
public:
    // Asks for the name of a file to write, `proposed` (a path) coming filled in; empty when the
    // operator declines.
    using SaveNameAsker = std::function<QString(const QString& caption, const QString& filter, const QString& proposed)>;
    // Lets the operator choose and set up a printer; false when printing is declined. Unset: the
    // print dialog.
    using PrintAsker = std::function<bool(QPrinter& printer)>;

    explicit ResultsWindow(QString databasePath, QWidget* parent = nullptr);
    ~ResultsWindow() override;

    // Opens the database afresh and lists what the filters select; false with the reason shown in
    // the window when the database cannot be read.
    bool Reload();

    // The run selected in the list; 0 when none is.
    qint64 SelectedRunId() const;
    // What the filter controls select now, whether or not the list has caught up with them.
    RunFilter CurrentFilter() const;

    void setSaveNameAsker(SaveNameAsker asker) { askSaveName_ = std::move(asker); }
    void setPrintAsker(PrintAsker asker) { askPrint_ = std::move(asker); }
    // On a line of benches: the line's server, with every bench's runs, read instead of the
    // bench's own file, which is shown only while the server cannot be read.
    void setLineServer(const ServerSettings& server);
    // Config.Ini, where the chart's baseline is remembered and the plausibility check is set;
    // unset, the baseline is the default and no band is drawn.
    void setSettingsFile(const QString& iniPath);

    // Draws the chart of what its controls choose; false with the reason shown beside it.
    bool RedrawChart();
    // What the chart's controls choose now.
    ChartRequest CurrentChartRequest() const;

    QLineEdit* editSerial = nullptr;
    QCheckBox* checkFrom = nullptr;
    QDateEdit* dateFrom = nullptr;
    QCheckBox* checkTo = nullptr;
    QDateEdit* dateTo = nullptr;
    QComboBox* comboResult = nullptr;
    QTableView* tableRuns = nullptr;
    // In the list's place when it is empty.
    QLabel* labelNoRuns = nullptr;
    QLabel* labelStatus = nullptr;
    QLabel* labelRun = nullptr;
    QTableWidget* tableReadings = nullptr;
    QTableWidget* tableSteps = nullptr;
    QPlainTextEdit* textLog = nullptr;
    QPushButton* btnExport = nullptr;
    QPushButton* btnReportPdf = nullptr;
    QPushButton* btnPrint = nullptr;
    QPushButton* btnClose = nullptr;

    QTabWidget* tabs = nullptr;
    QComboBox* comboModel = nullptr;
    QComboBox* comboPoint = nullptr;
    QComboBox* comboBench = nullptr;
    QComboBox* comboBaseline = nullptr;
    QSpinBox* spinBaselineRuns = nullptr;
    QDateEdit* dateBaselineFrom = nullptr;
    QDateEdit* dateBaselineTo = nullptr;
    QSpinBox* spinChartRuns = nullptr;
    QLabel* labelChart = nullptr;
    ControlChart* chartView = nullptr;
    QPushButton* btnSaveChart = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // Lists what the filters select; `keepRun` stays selected when it is among them.
    bool requery(qint64 keepRun);
    void selectionChanged();
    void showDetails(qint64 id);
    void clearDetails();
    void showStatus(const QString& text);
    void updateButtons();
    void btnExportClick();
    void btnReportPdfClick();
    void btnPrintClick();
    // A filter change waiting in the serial edit's pause is applied first, so that an export
    // writes what the list shows.
    void applyPendingFilter();
    QWidget* makeChartPage();
    // The models and benches of the record, read when the chart is first shown after an opening.
    void fillChartChoices();
    void showPointLevels();
    void showBaselineControls();
    void baselineChanged();
    void btnSaveChartClick();
    // Asks for a file, `name` proposed in the folder last written to.
    QString askSaveName(const QString& caption, const QString& filter, const QString& name) const;
    void rememberFolder(const QString& path);

    const QString databasePath_;
    std::optional<ServerSettings> lineServer_;
    ResultsDb db_;
    RunListModel* model_ = nullptr;
    // Typing a serial number re-queries only once the operator pauses.
    QTimer serialPause_;
    RunDetails details_;
    bool hasDetails_ = false;
    SaveNameAsker askSaveName_;
    // For as long as the program runs; not in Config.Ini, which the bench's operators share.
    QString lastFolder_;
    QStackedWidget* runsStack_ = nullptr;
    PrintAsker askPrint_;
    QString iniPath_;
    double plausibilityShare_ = 0.0;
    bool chartChoicesRead_ = false;
    // A Config.Ini that cannot be written is told once, not at every change of the baseline.
    bool baselineFaultTold_ = false;
};
