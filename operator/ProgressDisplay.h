// The display panel (Panel2): progress bar and line, serial box, result label, step grid, and the
// hidden step list, event log and status bar the operator never sees.
#pragma once

#include "RunState.h"

#include <QWidget>

class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QStatusBar;
class QTableWidget;

class ProgressDisplay : public QWidget {
    Q_OBJECT
public:
    explicit ProgressDisplay(TRunState& state, QWidget* parent = nullptr);

    void InitStepGrid(bool reset);
    void SetStepState(int step, const QString& text);
    void UpdateProgress();
    void FillMsgList();
    void ClearMsgListStates();
    void AddLogLine(const QString& text);
    void ClearLog();
    void ShowStepText(const QString& text);
    void ShowResultLabel(const QString& text);
    void ClearResultLabel();
    // Leaves the text in FLogText too.
    void SetStatusPanel(int panel, const QString& text);
    void SetProgressLine(const QString& text);
    void SetProgressBar(int percent);
    void SetSerialBox(const QString& text);
    void Panel2Resize();

    // Visible controls.
    QProgressBar* ProgressBar1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* EditSerial = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Image3 = nullptr;
    QTableWidget* StringGrid = nullptr;
    // Never shown.
    QTableWidget* MsgList = nullptr;
    QListWidget* EventLog = nullptr;
    QStatusBar* StatusBar1 = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    TRunState& state_;
};
