// The read timer's tick at a meter step: the prompt with its wiring picture, the reading, and the
// hand-over of the value to the run, or the abort of the run when the operator refuses.
#include "MeterPrompt.h"

#include "CalPoints.h"
#include "MeterLink.h"
#include "MeterReader.h"
#include "RunEngine.h"
#include "SigrokModule.h"
#include "Unit3.h"
#include "ValueDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>

#include <memory>

WindowMeterDialogs::WindowMeterDialogs(TForm3& form3, QWidget* valueParent)
    : form3_(form3), valueParent_(valueParent)
{
}

WindowMeterDialogs::~WindowMeterDialogs() = default;

QString WindowMeterDialogs::ApplyMeter(const MeterSettings& settings, const QString& devicePath, MeterChannel* channel)
{
    reader_.reset();
    link_.reset();
    settings_ = settings;
    QString problem;
    if (!channel && settings.connection == MeterSettings::Connection::Sigrok) {
        // Without the module the readings are typed, as without a meter.
        link_ = MakeSigrokMeter(settings, devicePath, &problem);
        channel = link_.get();
    } else if (!channel && settings.enabled()) {
        link_ = std::make_unique<MeterLink>(settings, devicePath);
        channel = link_.get();
    }
    channel_ = channel;
    if (channel) reader_ = std::make_unique<MeterReader>(*channel, settings.settleShare, settings.maxReads);
    return channel ? QString() : problem;
}

MeterIdentity WindowMeterDialogs::Identity() const { return channel_ ? channel_->Identity() : MeterIdentity{}; }

void WindowMeterDialogs::ShowInformation(const QString& text, int picture, Closed closed)
{
    form3_.SetPrompt(text);
    form3_.ShowPicture(picture);
    form3_.setWindowModality(Qt::ApplicationModal);
    // The window serves every prompt: this prompt's answer is taken once.
    QObject::connect(&form3_, &QDialog::finished, &form3_, [closed = std::move(closed)] { if (closed) closed(); },
                     Qt::SingleShotConnection);
    form3_.show();
}

void WindowMeterDialogs::AskValue(const ValueRequest& request, Answered answered)
{
    auto* dialog = new TFormValue(valueParent_);
    dialog->PrepareForStep(RunMode::Calibration, static_cast<std::uint8_t>(request.step));
    dialog->ShowPointLine(request.model);
    dialog->SetPlausibility(request.model, settings_.plausibilityShare);
    if (unusualCheck_)
        dialog->SetUnusualCheck([this, request](double value, const QString& shown) {
            return unusualCheck_(request.step, request.model, value, shown);
        });
    auto meterResult = std::make_shared<MeterResult>();
    if (reader_) {
        // A voltage query at a current point would read the wrong quantity.
        const bool current = IsCurrentPoint(request.step);
        const MeterQuantity quantity = current ? MeterQuantity::Current : MeterQuantity::Voltage;
        QByteArray query = current ? settings_.currentQuery : settings_.voltageQuery;
        if (query.isEmpty()) query = request.meterCommand.toLatin1();
        dialog->StartMeterReading();
        // Cancelled when the dialog closes; a dialog gone with its window takes nothing.
        reader_->Read(quantity, query, [shown = QPointer<TFormValue>(dialog), quantity, meterResult](const MeterResult& r) {
            *meterResult = r;
            if (!shown) return;
            QLocale locale = QLocale::system();
            locale.setNumberOptions(QLocale::OmitGroupSeparator);
            shown->SetMeterValue(r.ok ? locale.toString(r.value, 'g', 8) : QString(), MeterReader::Describe(r, quantity));
        });
    }
    dialog->setWindowModality(Qt::ApplicationModal);
    QObject::connect(dialog, &QDialog::finished, dialog, [this, dialog, meterResult, answered = std::move(answered)](int result) {
        // The reading must not reach a dialog that is gone.
        if (reader_) reader_->Cancel();
        ValueAnswer answer;
        if (result == TFormValue::ResultAccepted) {
            answer.milli = dialog->FMilli;
            answer.typed = dialog->Edit1->text();
            answer.source = dialog->ValueFromMeter() ? ReadingSource::Meter : ReadingSource::Typed;
            if (answer.source == ReadingSource::Meter && meterResult->ok)
                answer.quality = {meterResult->reads, meterResult->deviation, meterResult->resolution};
            else
                answer.quality = {1, 0.0, NumberResolution(answer.typed)};
        }
        // Released once its prompt is over; the next point gets a fresh one.
        dialog->deleteLater();
        if (answered) answered(result, answer);
    });
    dialog->show();
}

MeterPrompt::MeterPrompt(RunEngine& engine, MeterDialogs& dialogs) : engine_(engine), dialogs_(dialogs) {}

void MeterPrompt::TimerReadVolTimer()
{
    const TRunState& s = engine_.state();
    const CalPoint* point = PointOfMeterStep(s.FStep);
    if (!point) return;

    ValueRequest request;
    request.step = s.FStep;
    request.model = s.FModel;
    request.meterCommand = s.FCalList[static_cast<std::size_t>(s.FStep - 1)].MeterCommand;
    dialogs_.ShowInformation(PromptText(*point, s.FModel), static_cast<int>(point->picture), [this, request] {
        dialogs_.AskValue(request, [this](int result, const ValueAnswer& answer) {
            if (result != TFormValue::ResultAccepted) {
                engine_.RefuseReading();
                return;
            }
            engine_.AcceptReading(answer.typed, answer.milli, answer.source, answer.quality);
        });
    });
}
