// The value dialog: the operator types the multimeter reading of one calibration point.
#pragma once

#include "RunState.h"

#include <QDialog>

#include <cstdint>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

class TFormValue : public QDialog {
    Q_OBJECT
public:
    static constexpr int ResultAccepted = 1;
    static constexpr int ResultAbort = 7;

    explicit TFormValue(QWidget* parent = nullptr);

    // Sets the wording for a step: current (A) for steps 18..51, voltage (V) otherwise.
    void PrepareForStep(TRunMode runMode, std::uint8_t step);

    // The entry check behind "OK" and Enter: closes with result 1 on a usable value, otherwise
    // tells the operator and leaves the dialog and its text as they are.
    void Button1Click();

    // The reading in thousandths (mV or mA), halves to even, when it fits the frame field of the
    // step: a 32-bit signed millivolt value, or the 16 bits a current point carries
    // (-32768..65535 mA). Zero, NaN and infinities are no reading.
    static std::optional<std::int32_t> MilliValue(double value, std::uint8_t step);
    static bool IsCurrentStep(std::uint8_t step) { return step >= 18 && step <= 51; }

    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* Label2 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    double FValue = 0.0;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The type size the labels are drawn in where the machine's face lets their text fit.
    int labelPixels_ = 0;
    std::uint8_t step_ = 0;
};
