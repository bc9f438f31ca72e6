// The value dialog: the operator types the multimeter reading of one calibration point.
#pragma once

#include "RunState.h"

#include <QDialog>

#include <cstdint>
#include <functional>
#include <optional>

class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

class TFormValue : public QDialog {
    Q_OBJECT
public:
    static constexpr int ResultAccepted = 1;
    static constexpr int ResultAbort = 7;

    explicit TFormValue(QWidget* parent = nullptr);

    // Sets the wording for a step: current (A) for the steps of a current point, voltage (V) otherwise.
    void PrepareForStep(TRunMode runMode, std::uint8_t step);

    // Asks before taking a value that lies more than `share` (0.10 for 10 %) from the level of
    // the step's point for `model`, or has the wrong sign; 0 asks nothing.
    void SetPlausibility(std::uint8_t model, double share);

    // A line under the entry names the point and the level asked for at it for `model`, and the
    // unit the entry takes: what a meter shows in millivolts is typed in volts.
    void ShowPointLine(std::uint8_t model);
    QLabel* Label5 = nullptr;

    // With a meter: a line under the entry says where its value came from. The dialog grows by
    // that line; without a meter it stays as it always was.
    void ShowMeterLine(const QString& text);
    // The meter is being read: the entry waits empty for its reading.
    void StartMeterReading();
    // The meter's reading goes into the entry, unless the operator has typed meanwhile; an empty
    // `value` leaves the entry for the operator.
    void SetMeterValue(const QString& value, const QString& note);
    // Asked, for a reading that passed the plausibility check, whether it is unusual for the
    // model: a notice to show in a line of its own, or empty. The notice comes beside a value the
    // meter filled in; a typed value shows it at the first Enter, and a second Enter takes it.
    void SetUnusualCheck(std::function<QString(double value, const QString& shown)> check) { unusualCheck_ = std::move(check); }
    QLabel* Label4 = nullptr;
    // Whether the value taken is the meter's, unchanged by the operator.
    bool ValueFromMeter() const;
    QLabel* Label3 = nullptr;

    // The entry check behind "OK" and Enter: closes with result 1 on a usable value, otherwise
    // tells the operator and leaves the dialog and its text as they are.
    void Button1Click();

    // The reading in thousandths (mV or mA), halves to even, when it fits the frame field of the
    // step: a 32-bit signed millivolt value, or the 16 bits a current point carries
    // (-32768..65535 mA). Zero, NaN and infinities are no reading.
    static std::optional<std::int32_t> MilliValue(double value, std::uint8_t step);
    static bool IsCurrentStep(std::uint8_t step);
    // The entry's text as the check reads it: a number in the platform's notation, 0 otherwise.
    static double EntryValue(const QString& text);

    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    double FValue = 0.0;
    // FValue in millivolts or milliamperes as the supply receives it, rounded once when accepted.
    std::int32_t FMilli = 0;

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The type size the labels are drawn in where the machine's face lets their text fit.
    int labelPixels_ = 0;
    std::uint8_t step_ = 0;
    std::uint8_t model_ = 0;
    double plausibilityShare_ = 0.0;
    QString meterText_;
    QFrame* line_ = nullptr;
    std::function<QString(double, const QString&)> unusualCheck_;
    QString noticedText_;  // the entry's text the unusual notice was shown for

    // Opens a line of `extra` pixels for `label` under the lines already open: the rule and the
    // buttons move down, the dialog grows.
    void OpenLine(QLabel* label, int extra);
    bool Plausible(double value) const;
    // Shows the unusual notice for the entry's text; false when there is none.
    bool ShowUnusual(double value, const QString& text);
};
