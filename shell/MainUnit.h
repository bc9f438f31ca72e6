// The main window: toolbar, display panel, the run engine and link it owns, start-up and orderly close.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "HandlerGuard.h"
#include "RunEngine.h"
#include "RunView.h"
#include "SerialLink.h"

class ProgressDisplay;
class QDialog;
class QLabel;
class QPushButton;
class QToolButton;

// "%d.%d.%d.%d" of the program's version numbers.
QString VersionText();

// How the main window shows its message boxes; the program uses MessageBoxes, tests answer them.
class BoxPresenter {
public:
    virtual ~BoxPresenter() = default;
    virtual void Notice(QWidget* parent, const QString& text) = 0;
    virtual void Warning(QWidget* parent, const QString& text) = 0;
    virtual void Error(QWidget* parent, const QString& text) = 0;
    virtual void Information(QWidget* parent, const QString& text) = 0;
    // Return at once; the answer goes to `then`.
    virtual void Question(QWidget* parent, const QString& text, Answered then) = 0;
    virtual void WarningQuestion(QWidget* parent, const QString& text, Answered then) = 0;
};

class MessageBoxPresenter : public BoxPresenter {
public:
    void Notice(QWidget* parent, const QString& text) override;
    void Warning(QWidget* parent, const QString& text) override;
    void Error(QWidget* parent, const QString& text) override;
    void Information(QWidget* parent, const QString& text) override;
    void Question(QWidget* parent, const QString& text, Answered then) override;
    void WarningQuestion(QWidget* parent, const QString& text, Answered then) override;
};

// What the main window is built from. The serial control and the clock outlive the window.
struct MainFormParts {
    SerialControl* comm = nullptr;
    Clock* clock = nullptr;
    // Config.Ini and the work directory; DataDir() based in the program.
    QString iniPath;
    QString tempDir;
    // Null: MessageBoxes.
    BoxPresenter* boxes = nullptr;
};

// The windows created after the main window, kept for the life of the process.
struct MainFormWindows {
    QDialog* splash = nullptr;       // TForm1
    QDialog* help = nullptr;         // TForm2
    QDialog* about = nullptr;        // TFormAbout
    QLabel* aboutVersion = nullptr;  // its Label2
    // Shows a window modally and returns its result; null: QDialog::exec.
    std::function<int(QDialog&)> showModal;
    // Fills in what is still null here when help or about is first opened: most starts open
    // neither, and the start-up does not wait for them.
    std::function<void(MainFormWindows& windows)> createLater;
};

class TMainForm : public QWidget, public RunView {
    Q_OBJECT
public:
    explicit TMainForm(const MainFormParts& parts, QWidget* parent = nullptr);
    ~TMainForm() override;

    void AttachWindows(MainFormWindows windows);
    // Click handlers that live in other units.
    void setSettingClick(std::function<void()> handler) { settingClick_ = std::move(handler); }
    void setClearClick(std::function<void()> handler) { clearClick_ = std::move(handler); }
    void setResultsClick(std::function<void()> handler) { resultsClick_ = std::move(handler); }
    void setMeterClick(std::function<void()> handler) { meterClick_ = std::move(handler); }

    // A fault of the results record: a line in the event log and the status bar, and with
    // `showBox` a warning once the event loop is free again, so that no run is held inside it.
    void ShowRecordFault(const QString& text, bool showBox);

    RunEngine& engine() { return engine_; }
    const SerialLink& link() const { return link_; }
    const TRunState& state() const { return engine_.state(); }
    const HandlerGuard& guard() const { return guard_; }

    void FormCreate();
    void FormShow();
    void FormActivate();
    bool FormCloseQuery();
    // Throws AppError when Config.Ini cannot be written.
    void FormClose();
    void btnSettingClick();
    void btnClearClick();
    void btnCloseClick();
    void btnResultsClick();
    void btnMeterClick();
    void SpeedButton1Click();
    void SpeedButton2Click();
    // A second start asked this instance to come forward.
    void WMRestoreInstance();

    // RunView.
    void Notice(const QString& text) override;
    void Warning(const QString& text) override;
    void Error(const QString& text) override;
    void Information(const QString& text) override;
    void Question(const QString& text, Answered then) override;
    void WarningQuestion(const QString& text, Answered then) override;
    void SetStepState(int step, StepOutcome outcome) override;
    void UpdateProgress() override;
    void AddLogLine(const QString& text) override;
    void ClearLog() override;
    void FillMsgList() override;
    void ClearMsgListStates() override;
    void InitStepGrid(bool reset) override;
    void ShowStepText(const QString& text) override;
    void ShowResultLabel(const QString& text) override;
    void ClearResultLabel() override;
    void SetStatusPanel(int panel, const QString& text) override;
    void SetProgressLine(const QString& text) override;
    void SetProgressBar(int percent) override;
    void SetSerialBox(const QString& text) override;
    void SetStallLine(const QString& text) override;
    void SetButtonEnabled(ToolButton button, bool enabled) override;
    bool ButtonEnabled(ToolButton button) const override;

    QWidget* Panel1 = nullptr;
    QToolButton* btnSetting = nullptr;
    QToolButton* btnStart = nullptr;
    QToolButton* btnClear = nullptr;
    QToolButton* btnCancel = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QToolButton* SpeedButton2 = nullptr;
    QToolButton* btnClose = nullptr;
    QLabel* Image1 = nullptr;
    ProgressDisplay* Panel2 = nullptr;
    // On the display panel beside the serial number: the toolbar keeps its seven buttons.
    QPushButton* btnResults = nullptr;
    QPushButton* btnMeter = nullptr;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // An answer to a question, handled under the error handler as a click is.
    Answered Guarded(Answered then);
    QToolButton* AddToolButton(const QString& name, const QString& caption, const QString& tip,
                               const QString& picture, void (TMainForm::*handler)());
    QToolButton* Button(ToolButton button) const;
    void LayoutToolbar();
    int ShowModal(QDialog& dialog);
    void CreateWindowsLater();

    SerialControl& comm_;
    std::unique_ptr<BoxPresenter> ownBoxes_;
    BoxPresenter* boxes_;
    HandlerGuard guard_;
    GuardedClock clock_;
    SerialLink link_;
    RunEngine engine_;
    QString iniPath_;
    QString tempDir_;
    // Saves the unit counter unless it was never known.
    void SaveCounter();
    // Saves the counter past the number the supply is about to get; why it cannot, or empty.
    QString ReserveCounter();
    // Config.Ini was there but could not be read: the counter in memory is not the bench's, and
    // writing it would put a number given before back into the file.
    QString counterUnknown_;

    std::vector<QToolButton*> toolButtons_;
    MainFormWindows windows_;
    std::function<void()> settingClick_;
    std::function<void()> clearClick_;
    std::function<void()> resultsClick_;
    std::function<void()> meterClick_;
    QTimer faultBoxTimer_;
    QString faultBoxText_;
    // The splash belongs to the first activation only; later ones come from closing dialogs and boxes.
    bool splashShown_ = false;
    // The splash is shown from the event loop, not from inside the activation event.
    QTimer splashTimer_;
};

// The main window of the process.
extern TMainForm* MainForm;
