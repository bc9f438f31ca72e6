// The whole calibrator, every window and collaborator created and connected in one place.
#include "Station.h"

#include "AboutDlg.h"
#include "ConfigFile.h"
#include "LineSync.h"
#include "MeterDlg.h"
#include "ResultsWindow.h"
#include "SerialAllocator.h"
#include "Settingdlg.h"
#include "SettingsFlow.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"

#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

namespace {

MainFormParts FormParts(const StationParts& parts)
{
    MainFormParts form;
    form.comm = parts.comm;
    form.clock = parts.clock;
    form.iniPath = parts.iniPath;
    form.tempDir = QFileInfo(parts.iniPath).absoluteDir().filePath(QStringLiteral("Temp"));
    form.boxes = parts.boxes;
    return form;
}

}  // namespace

Station::Station(const StationParts& parts)
    : iniPath_(parts.iniPath),
      form_(std::make_unique<TMainForm>(FormParts(parts))),
      form3_(new TForm3(form_.get())),
      clearing_(form_->engine()),
      // A bench on a line goes by the name the line knows it by.
      line_(LoadLineSettings(parts.iniPath, QSysInfo::machineHostName())),
      record_(form_->engine(), ResultsDatabasePath(parts.iniPath),
              RecordContext{line_.enabled ? line_.bench : QSysInfo::machineHostName(), VersionText()}),
      history_(record_.db(), LoadQualitySettings(parts.iniPath)),
      meterDialogs_(*form3_, form_.get()),
      meterPrompt_(form_->engine(), meterDialogs_)
{
    TMainForm* form = form_.get();
    MainForm = form;
    RunEngine& engine = form->engine();

    MainFormWindows windows;
    if (parts.splash) windows.splash = new TForm1(form);
    windows.createLater = [form](MainFormWindows& later) {
        auto* formAbout = new TFormAbout(form);
        later.help = new TForm2(form);
        later.about = formAbout;
        later.aboutVersion = formAbout->Label2;
    };
    form->AttachWindows(windows);

    // Made at its first opening and kept, so that what the operator set stays in it between openings.
    form->setSettingClick([form, &engine] {
        if (!FormSetting) FormSetting = new TFormSetting(form);
        btnSettingClick(engine, *FormSetting);
    });
    form->setClearClick([this] { clearing_.btnClearClick(); });

    // Every run is recorded; a fault of the record is shown and the run goes on untouched.
    record_.setFaultSink([form](const QString& text, bool showBox) { form->ShowRecordFault(text, showBox); });
    // A meter past its calibration due date is asked about when Calibrate is pressed, before
    // anything else opens, and written into the event log at the run's start.
    engine.setStartDoubt([this] { return record_.MeterDueQuestion(); });
    record_.setNoticeSink([form](const QString& text) { form->ShowRecordFault(text, false); });
    record_.setBenchMeter([this] { return benchMeter_; });
    record_.setMeterIdentity([this] {
        const MeterIdentity id = meterDialogs_.Identity();
        return MeterOfRun{id.source, id.vendor, id.model, id.version, id.serial, id.connection};
    });
    // A reading far from the model's recent ones is pointed out before it is taken, and marked.
    meterDialogs_.setUnusualCheck([this](int step, std::uint8_t model, double value, const QString& shown) {
        return history_.Notice(step, model, value, shown);
    });
    record_.setUnusualJudge([this, &engine](int step, std::int64_t valueSent) {
        return history_.WasUnusual(step, engine.state().FModel, valueSent);
    });
    // On a line of benches the serial numbers come from the line's server and every run goes
    // there too, through the queue in the bench's own file; without [Database], nothing changes.
    if (line_.enabled) {
        allocator_ = std::make_unique<SerialAllocator>(line_, [this] { return record_.runUid(); }, databasePath());
        engine.setSerialSource(allocator_.get());
        record_.setQueueForLine(true);
        uploader_ = std::make_unique<LineUploader>(
            line_, databasePath(),
            [this, form](const QString& text, bool trouble) {
                form->ShowRecordFault(QStringLiteral("<Line> ") + text, trouble && !lineTroubleTold_);
                if (trouble) lineTroubleTold_ = true;
            },
            form);
        record_.setRunWritten([this] { uploader_->Kick(); });
    }

    // Made when first asked for, like the meter dialog below: most starts never open them.
    form->setResultsClick([this, form] {
        if (!formResults_) {
            formResults_ = new ResultsWindow(databasePath(), form);
            formResults_->setSettingsFile(iniPath_);
            if (line_.enabled && line_.problem.isEmpty()) formResults_->setLineServer(line_.server);
        }
        formResults_->exec();
    });

    // Without a [Meter] section the operator types every reading, as always.
    ApplyMeter();
    form->setMeterClick([this, form] {
        if (!formMeter_) formMeter_ = new TFormMeter(iniPath_, form);
        formMeter_->Load();
        if (formMeter_->exec() == QDialog::Accepted) {
            ApplyMeter();
            TellMeterProblem();
        }
    });
    engine.setReadVolHandler([this] { meterPrompt_.TimerReadVolTimer(); });

    QString outside;
    ResultsDatabasePath(iniPath_, &outside);
    record_.setRefusal(outside);
    recordRefused_ = !outside.isEmpty();
}

Station::~Station()
{
    // The calibrator ends within a few seconds whatever the line's server does: a pass still in a
    // call to it ends with that call's own limits, on its own, and what it was sending stays
    // queued in the bench's file for the next start.
    if (uploader_ && !uploader_->Stop()) static_cast<void>(uploader_.release());
    engine().setSerialSource(nullptr);
    engine().setReadVolHandler({});
    engine().setStartDoubt({});
    FormSetting = nullptr;
}

QString Station::databasePath() const { return ResultsDatabasePath(iniPath_); }

void Station::OpenRecord()
{
    record_.Open();
    TellMeterProblem();
    // After the file is open and up to date: the queue reads the same file, and not one the
    // record refused.
    if (uploader_ && !recordRefused_) uploader_->start();
}

void Station::ApplyMeter()
{
    const MeterSettings meter = LoadMeterSettings(iniPath_);
    meterProblem_ = meterDialogs_.ApplyMeter(meter, MeterDevicePath(meter, iniPath_));
    benchMeter_ = BenchMeter{meter.assetId, meter.calibrationDue, meter.plausibilityShare, meter.accuracy};
}

void Station::TellMeterProblem()
{
    if (meterProblem_.isEmpty()) return;
    form_->ShowRecordFault(QStringLiteral("<Meter> The meter cannot be read: %1. The readings are typed.").arg(meterProblem_), true);
    meterProblem_.clear();
}
