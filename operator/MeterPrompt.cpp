// The read timer's tick at a meter step: the prompt with its wiring picture, the reading, and the
// hand-over of the value to the run, or the abort of the run when the operator refuses.
#include "MeterPrompt.h"

#include "CalList.h"
#include "RunEngine.h"
#include "Rounding.h"
#include "Unit3.h"
#include "ValueDlg.h"

#include <QLabel>
#include <QLineEdit>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

WindowMeterDialogs::WindowMeterDialogs(TForm3& form3, QWidget* valueParent)
    : form3_(form3), valueParent_(valueParent)
{
}

void WindowMeterDialogs::ShowInformation(const QString& text, int picture)
{
    form3_.SetPrompt(text);
    form3_.ShowPicture(picture);
    form3_.exec();
}

int WindowMeterDialogs::AskValue(TRunMode mode, int step, double* value, QString* typed)
{
    auto dialog = std::make_unique<TFormValue>(valueParent_);
    dialog->PrepareForStep(mode, static_cast<std::uint8_t>(step));
    const int result = dialog->exec();
    if (result == TFormValue::ResultAccepted) {
        if (value) *value = dialog->FValue;
        if (typed) *typed = dialog->Edit1->text();
    }
    return result;
}

namespace {

// The value dialog refuses what does not fit; the clamp only keeps the conversion defined.
std::int32_t ToMilli(double value)
{
    const double milli = RoundHalfEven(value * 1000.0);
    if (std::isnan(milli)) return 0;
    return static_cast<std::int32_t>(std::clamp(milli, double(std::numeric_limits<std::int32_t>::min()),
                                                double(std::numeric_limits<std::int32_t>::max())));
}

}  // namespace

MeterPrompt::MeterPrompt(RunEngine& engine, MeterDialogs& dialogs) : engine_(engine), dialogs_(dialogs) {}

QString MeterPrompt::PromptText(int step, int model)
{
    const QString level = NominalLevel(step, static_cast<std::uint8_t>(model));
    switch (step) {
    case 5:
        return QStringLiteral(
            "1.Calibrate the 1st VOLTAGE point. The output VOLTAGE is about 100mV. Please select proper "
            "VOLTAGE range of the multimeter, then connect the two probes to the output terminals of the "
            "power supply.");
    case 8:
        return QStringLiteral(
            "2.Calibrate the 2nd VOLTAGE point. The output VOLTAGE is about 3.999V. Please select proper "
            "VOLTAGE range of the multimeter, then connect the two probes to the output terminals of the "
            "power supply. ");
    case 11:
        return QStringLiteral(
            "3.Calibrate the 3rd VOLTAGE point. The output VOLTAGE is about 4.00V. Please select proper "
            "VOLTAGE range of the multimeter, then connect the two probes to the output terminals of the "
            "power supply.");
    case 14:
        return QStringLiteral(
                   "4.Calibrate the 4th VOLTAGE point. The output VOLTAGE is about %1 . Please select proper "
                   "VOLTAGE range of the multimeter, then connect the two probes to the output terminals of "
                   "the power supply. ")
            .arg(level);
    case 17:
        return QStringLiteral(
                   "5.Calibrate the 5th VOLTAGE point. The output VOLTAGE is about %1 . Please select proper "
                   "VOLTAGE range of the multimeter, then connect the two probes to the output terminals of "
                   "the power supply. ")
            .arg(level);
    case 20:
        return QStringLiteral(
            "6.Calibrate the 1st CURRENT point. The output CURRENT is about 100mA. Please select proper "
            "CURRENT range of the multimeter, then connect the two probes to the output terminals of the "
            "power supply.");
    case 23:
        return QStringLiteral(
                   "7.Calibrate the 2nd CURRENT point. The output CURRENT is about %1 . Please select proper "
                   "CURRENT range of the multimeter, then connect the two probes to the output terminals of "
                   "the power supply")
            .arg(level);
    default:
        return QString();
    }
}

int MeterPrompt::PictureFor(const QString& text, int step)
{
    if (!text.isEmpty() && step == 5) return 1;
    if (!text.isEmpty() && step < 20) return 2;
    if (!text.isEmpty() && step == 20) return 3;
    return 4;
}

void MeterPrompt::TimerReadVolTimer()
{
    TRunState& s = engine_.state();
    if (s.FAborted) {
        engine_.TimerReadVol().stop();
        return;
    }
    engine_.TimerReadVol().stop();

    const QString text = PromptText(s.FStep, s.FModel);
    dialogs_.ShowInformation(text, PictureFor(text, s.FStep));

    double value = 0.0;
    QString typed;
    const int result = dialogs_.AskValue(s.FRunMode, s.FStep, &value, &typed);
    if (result != TFormValue::ResultAccepted) {
        AbortRun();
        return;
    }
    engine_.AcceptReading(typed, ToMilli(value));
}

void MeterPrompt::AbortRun()
{
    TRunState& s = engine_.state();
    RunView& view = engine_.view();
    view.SetStepState(s.FStep, QStringLiteral("Test abort"));
    engine_.EndRun(RunEnd::Aborted);
    view.Notice(QStringLiteral("Calibrating abort !"));
    view.SetStepState(s.FStep + 1, QStringLiteral("Calibrating Abort !"));
    view.SetProgressLine(QStringLiteral("Calibrating Abort !"));
    view.SetProgressBar(0);
    view.ShowResultLabel(QStringLiteral("Failed!"));
}
