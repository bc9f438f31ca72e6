// The read timer's tick at a meter step: the prompt with its wiring picture, the reading, and the
// hand-over of the value to the run, or the abort of the run when the operator refuses.
#include "MeterPrompt.h"

#include "CalList.h"
#include "MeterLink.h"
#include "MeterReader.h"
#include "RunEngine.h"
#include "Rounding.h"
#include "Unit3.h"
#include "ValueDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

WindowMeterDialogs::WindowMeterDialogs(TForm3& form3, QWidget* valueParent)
    : form3_(form3), valueParent_(valueParent)
{
}

WindowMeterDialogs::~WindowMeterDialogs() = default;

void WindowMeterDialogs::ApplyMeter(const MeterSettings& settings, const QString& devicePath, MeterChannel* channel)
{
    reader_.reset();
    link_.reset();
    settings_ = settings;
    if (!channel && settings.enabled()) {
        link_ = std::make_unique<MeterLink>(settings, devicePath);
        channel = link_.get();
    }
    if (channel) reader_ = std::make_unique<MeterReader>(*channel, settings.settleShare, settings.maxReads);
}

void WindowMeterDialogs::ShowInformation(const QString& text, int picture)
{
    form3_.SetPrompt(text);
    form3_.ShowPicture(picture);
    form3_.exec();
}

int WindowMeterDialogs::AskValue(const ValueRequest& request, ValueAnswer* answer)
{
    auto dialog = std::make_unique<TFormValue>(valueParent_);
    dialog->PrepareForStep(request.mode, static_cast<std::uint8_t>(request.step));
    dialog->SetPlausibility(request.model, settings_.plausibilityShare);
    if (reader_) {
        // A voltage query at a current point would read the wrong quantity.
        const bool current = IsCurrentPoint(request.step);
        const MeterQuantity quantity = current ? MeterQuantity::Current : MeterQuantity::Voltage;
        QByteArray query = current ? settings_.currentQuery : settings_.voltageQuery;
        if (query.isEmpty()) query = request.meterCommand.toLatin1();
        dialog->StartMeterReading();
        TFormValue* shown = dialog.get();
        reader_->Read(quantity, query, [shown, quantity](const MeterResult& r) {
            QLocale locale = QLocale::system();
            locale.setNumberOptions(QLocale::OmitGroupSeparator);
            shown->SetMeterValue(r.ok ? locale.toString(r.value, 'g', 8) : QString(), MeterReader::Describe(r, quantity));
        });
    }
    const int result = dialog->exec();
    // The reading must not reach a dialog that is gone.
    if (reader_) reader_->Cancel();
    if (result == TFormValue::ResultAccepted && answer) {
        answer->value = dialog->FValue;
        answer->typed = dialog->Edit1->text();
        answer->source = dialog->ValueFromMeter() ? ReadingSource::Meter : ReadingSource::Typed;
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

    ValueRequest request;
    request.mode = s.FRunMode;
    request.step = s.FStep;
    request.model = s.FModel;
    if (s.FStep >= 1 && s.FStep <= static_cast<int>(s.FCalList.size()))
        request.meterCommand = s.FCalList[static_cast<std::size_t>(s.FStep - 1)].MeterCommand;
    ValueAnswer answer;
    const int result = dialogs_.AskValue(request, &answer);
    if (result != TFormValue::ResultAccepted) {
        AbortRun();
        return;
    }
    engine_.AcceptReading(answer.typed, ToMilli(answer.value), answer.source);
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
