// Program entry: the single-instance rule, then every window and collaborator created and wired here.
#include <QApplication>
#include <QSysInfo>
#include <cstdio>
#include <memory>

#include "AboutDlg.h"
#include "ClearingRun.h"
#include "ConfigFile.h"
#include "MainUnit.h"
#include "MeterDlg.h"
#include "MeterPrompt.h"
#include "PortMap.h"
#include "ResultsRecord.h"
#include "ResultsWindow.h"
#include "QtClock.h"
#include "QtSerialControl.h"
#include "Settingdlg.h"
#include "SettingsFlow.h"
#include "SingleInstance.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvex Power Calibrator"));

    // A second start shows nothing, reads nothing and opens nothing: it only calls the first.
    SingleInstance instance;
    switch (instance.Claim()) {
        case SingleInstance::Role::Primary:
            break;
        case SingleInstance::Role::Secondary:
            return 0;
        case SingleInstance::Role::Failed:
            std::fputs("korvex-calibrator: another start holds the instance name but cannot be reached\n",
                       stderr);
            return 1;
    }

    const QString dir = ExeDir();
    const QString iniPath = dir + QStringLiteral("Config.Ini");

    QtClock clock;
    QtSerialControl comm([iniPath](int port) { return PortDevicePath(port, iniPath); });

    MainFormParts parts;
    parts.comm = &comm;
    parts.clock = &clock;
    parts.iniPath = iniPath;
    parts.tempDir = dir + QStringLiteral("Temp");
    auto mainForm = std::make_unique<TMainForm>(parts);
    MainForm = mainForm.get();
    RunEngine& engine = MainForm->engine();

    FormSetting = new TFormSetting(MainForm);
    auto* formAbout = new TFormAbout(MainForm);
    auto* form1 = new TForm1(MainForm);
    auto* form2 = new TForm2(MainForm);
    auto* form3 = new TForm3(MainForm);

    MainFormWindows windows;
    windows.splash = form1;
    windows.help = form2;
    windows.about = formAbout;
    windows.aboutVersion = formAbout->Label2;
    MainForm->AttachWindows(windows);

    MainForm->setSettingClick([&engine] { btnSettingClick(engine, *FormSetting); });
    ClearingRun clearing(engine);
    MainForm->setClearClick([&clearing] { clearing.btnClearClick(); });
    // Every run is recorded; a fault of the record is shown and the run goes on untouched.
    ResultsRecord record(engine, ResultsDatabasePath(iniPath), RecordContext{QSysInfo::machineHostName(), VersionText()});
    record.setFaultSink([](const QString& text, bool showBox) { MainForm->ShowRecordFault(text, showBox); });
    record.Open();
    auto* formResults = new ResultsWindow(ResultsDatabasePath(iniPath), MainForm);
    MainForm->setResultsClick([formResults] { formResults->exec(); });

    WindowMeterDialogs meterDialogs(*form3, MainForm);
    // Without a [Meter] section the operator types every reading, as always.
    auto applyMeter = [&meterDialogs, iniPath] {
        const MeterSettings meter = LoadMeterSettings(iniPath);
        meterDialogs.ApplyMeter(meter, MeterDevicePath(meter, iniPath));
    };
    applyMeter();
    auto* formMeter = new TFormMeter(iniPath, MainForm);
    MainForm->setMeterClick([formMeter, applyMeter] {
        formMeter->Load();
        if (formMeter->exec() == QDialog::Accepted) applyMeter();
    });
    MeterPrompt meterPrompt(engine, meterDialogs);
    engine.setReadVolHandler([&meterPrompt] { meterPrompt.TimerReadVolTimer(); });

    QObject::connect(&instance, &SingleInstance::restoreRequested, MainForm,
                     [] { MainForm->guard().Run([] { MainForm->WMRestoreInstance(); }); });

    MainForm->show();
    const int code = QApplication::exec();

    engine.setReadVolHandler({});
    FormSetting = nullptr;
    return code;
}
