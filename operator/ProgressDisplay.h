// The display panel (Panel2): progress bar and line, serial box, result label, step grid, and the
// hidden step list, event log and status bar the operator never sees.
#pragma once

#include "RunState.h"

#include <QBrush>
#include <QColor>
#include <QStringList>
#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;
class QPainter;
class QProgressBar;
class QStatusBar;
class QTableWidget;

// A grid nobody sees, kept as rows of text: a hidden item view would cost the window's start as
// much as the visible one.
class TextGrid {
public:
    int rowCount() const { return static_cast<int>(rows_.size()); }
    int columnCount() const { return columns_; }
    // New rows and columns are empty; cells cut off are gone.
    void setRowCount(int rows);
    void setColumnCount(int columns);
    // Outside the grid: an empty text, and writing does nothing.
    QString text(int row, int column) const;
    void setText(int row, int column, const QString& text);

private:
    int columns_ = 0;
    QList<QStringList> rows_;
};

class ProgressDisplay : public QWidget {
    Q_OBJECT
public:
    explicit ProgressDisplay(const TRunState& state, QWidget* parent = nullptr);

    void InitStepGrid(bool reset);
    void SetStepState(int step, const QString& text);
    void UpdateProgress();
    void FillMsgList();
    void ClearMsgListStates();
    // A line the log cannot take (it holds EventLogLimit lines already) empties the log instead
    // and is lost, so a run that goes on for days cannot eat the memory.
    void AddLogLine(const QString& text);
    void ClearLog();
    void ShowStepText(const QString& text);
    void ShowResultLabel(const QString& text);
    void ClearResultLabel();
    void SetStatusPanel(int panel, const QString& text);
    void SetProgressLine(const QString& text);
    void SetProgressBar(int percent);
    void SetSerialBox(const QString& text);
    // What to check while a run waits for a supply that does not answer; empty hides the line.
    void SetStallLine(const QString& text);
    void Panel2Resize();

    // Draws one State cell (column 2, title row included) on the background the grid chose.
    void StringGridDrawCell(QPainter& painter, int column, int row, const QRect& rect,
                            const QBrush& background) const;
    // Colour of a State text: blue for "succeed", red for "failed" or "abort", else black.
    static QColor StateTextColor(const QString& text);
    // The grid row that mirrors a step, or -1 when the step has no row.
    static int GridRowOfStep(int step);

    static constexpr int EventLogLimit = 32767;

    QString StatusPanelText(int panel) const;

    // Visible controls.
    QProgressBar* ProgressBar1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* EditSerial = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Image3 = nullptr;
    QLabel* StallLine = nullptr;
    QTableWidget* StringGrid = nullptr;
    // Never shown.
    TextGrid MsgList;
    QListWidget* EventLog = nullptr;
    QStatusBar* StatusBar1 = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void StyleResultLabel();

    const TRunState& state_;
    QLabel* statusPanels_[2] = {nullptr, nullptr};
};
