// Program entry: the single-instance rule, then every window and collaborator created and wired here.
#include <QApplication>
#include <QDir>
#include <QSysInfo>
#include <QTimer>
#include <cstdio>
#include <sys/resource.h>
#include <sys/stat.h>
#include <memory>

#include "AboutDlg.h"
#include "AutoOperator.h"
#include "ClearingRun.h"
#include "CommandLine.h"
#include "ConfigFile.h"
#include "LineSettings.h"
#include "LineSync.h"
#include "MainUnit.h"
#include "MeterDlg.h"
#include "MeterPrompt.h"
#include "PortMap.h"
#include "ResultsRecord.h"
#include "ResultsWindow.h"
#include "QtClock.h"
#include "QtSerialControl.h"
#include "Settingdlg.h"
#include "SerialAllocator.h"
#include "SettingsFlow.h"
#include "SingleInstance.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"

int main(int argc, char* argv[]) {
    if (const std::optional<int> answered = AnswerCommandLine(argc, argv)) return *answered;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Korvex Power Calibrator"));

    // Only for a run without anyone at the bench (a server, a container, a check of the set-up):
    // --automatic answers every window as an operator would, --levels FILE names the simulator's
    // output that tells the levels to type when no meter is read.
    const QStringList args = QApplication::arguments();
    const bool automatic = args.contains(QStringLiteral("--automatic"));
    const int levelsAt = static_cast<int>(args.indexOf(QStringLiteral("--levels")));
    const QString levels = levelsAt > 0 ? args.value(levelsAt + 1) : QString();
    const int runsAt = static_cast<int>(args.indexOf(QStringLiteral("--runs")));
    const int runs = runsAt > 0 ? qMax(1, args.value(runsAt + 1).toInt()) : 1;
    // For measuring the start-up: ends once the main window is shown, telling its peak memory.
    const bool quitWhenShown = args.contains(QStringLiteral("--quit-when-shown"));

    // A second start shows nothing, reads nothing and opens nothing: it only calls the first.
    SingleInstance instance;
    switch (instance.Claim()) {
        case SingleInstance::Role::Primary:
            break;
        case SingleInstance::Role::Secondary:
            if (automatic) {
                std::fputs("korvex-calibrator: the calibrator is running already; no automatic run\n", stderr);
                return 1;
            }
            return 0;
        case SingleInstance::Role::Failed:
            std::fputs("korvex-calibrator: another start holds the instance name but cannot be reached\n",
                       stderr);
            return 1;
    }

    const QString dir = DataDir();
    QDir().mkpath(dir);
    // The shared folder of an installed bench is its operators' together: what one of them
    // writes there (the results database above all) the others must be able to write too.
    if (dir != ExeDir()) ::umask(0002);
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

    auto* form1 = new TForm1(MainForm);
    auto* form3 = new TForm3(MainForm);

    MainFormWindows windows;
    windows.splash = form1;
    windows.createLater = [](MainFormWindows& later) {
        auto* formAbout = new TFormAbout(MainForm);
        later.help = new TForm2(MainForm);
        later.about = formAbout;
        later.aboutVersion = formAbout->Label2;
    };
    MainForm->AttachWindows(windows);

    // Made at its first opening and kept, so that what the operator set stays in it between openings.
    MainForm->setSettingClick([&engine] {
        if (!FormSetting) FormSetting = new TFormSetting(MainForm);
        btnSettingClick(engine, *FormSetting);
    });
    ClearingRun clearing(engine);
    MainForm->setClearClick([&clearing] { clearing.btnClearClick(); });
    // Every run is recorded; a fault of the record is shown and the run goes on untouched.
    // A bench on a line goes by the name the line knows it by.
    const LineSettings line = LoadLineSettings(iniPath, QSysInfo::machineHostName());
    ResultsRecord record(engine, ResultsDatabasePath(iniPath),
                         RecordContext{line.enabled ? line.bench : QSysInfo::machineHostName(), VersionText()});
    record.setFaultSink([](const QString& text, bool showBox) { MainForm->ShowRecordFault(text, showBox); });

    // On a line of benches the serial numbers come from the line's server and every run goes
    // there too, through the queue in the bench's own file; without [Database], nothing changes.
    std::unique_ptr<SerialAllocator> allocator;
    std::unique_ptr<LineUploader> uploader;
    if (line.enabled) {
        allocator = std::make_unique<SerialAllocator>(line, [&record] { return record.runUid(); });
        engine.setSerialSource(allocator.get());
        record.setQueueForLine(true);
        bool toldThisStart = false;
        uploader = std::make_unique<LineUploader>(
            line, ResultsDatabasePath(iniPath),
            [toldThisStart](const QString& text, bool trouble) mutable {
                MainForm->ShowRecordFault(QStringLiteral("<Line> ") + text, trouble && !toldThisStart);
                if (trouble) toldThisStart = true;
            },
            MainForm);
        record.setRunWritten([&uploader] { uploader->Kick(); });
    }
    // Made when first asked for, like the meter dialog below: most starts never open them.
    ResultsWindow* formResults = nullptr;
    MainForm->setResultsClick([&formResults, iniPath] {
        if (!formResults) formResults = new ResultsWindow(ResultsDatabasePath(iniPath), MainForm);
        formResults->exec();
    });

    WindowMeterDialogs meterDialogs(*form3, MainForm);
    // Without a [Meter] section the operator types every reading, as always.
    auto applyMeter = [&meterDialogs, iniPath] {
        const MeterSettings meter = LoadMeterSettings(iniPath);
        meterDialogs.ApplyMeter(meter, MeterDevicePath(meter, iniPath));
    };
    applyMeter();
    TFormMeter* formMeter = nullptr;
    MainForm->setMeterClick([&formMeter, applyMeter, iniPath] {
        if (!formMeter) formMeter = new TFormMeter(iniPath, MainForm);
        formMeter->Load();
        if (formMeter->exec() == QDialog::Accepted) applyMeter();
    });
    MeterPrompt meterPrompt(engine, meterDialogs);
    engine.setReadVolHandler([&meterPrompt] { meterPrompt.TimerReadVolTimer(); });

    QObject::connect(&instance, &SingleInstance::restoreRequested, MainForm,
                     [] { MainForm->guard().Run([] { MainForm->WMRestoreInstance(); }); });

    std::unique_ptr<AutoOperator> autoOperator;
    if (automatic) {
        AutoOperator::Options options;
        options.levelsFile = levels;
        options.runs = runs;
        options.databasePath = ResultsDatabasePath(iniPath);
        autoOperator = std::make_unique<AutoOperator>(*MainForm, options, [](const QString& line) {
            std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
            std::fflush(stdout);
        });
        autoOperator->Start();
    }

    MainForm->show();
    if (quitWhenShown) {
        QApplication::processEvents();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("PEAK_RSS_KB %ld\n", usage.ru_maxrss);
        return 0;
    }
    // Opened once the window is up (every run start opens it too, should it still be closed): the
    // start-up does not wait for the database.
    QTimer::singleShot(0, MainForm, [&record, &uploader] {
        record.Open();
        // After the file is open and up to date: the queue reads the same file.
        if (uploader) uploader->start();
    });
    const int code = QApplication::exec();
    autoOperator.reset();
    if (uploader) uploader->Stop();
    engine.setSerialSource(nullptr);

    engine.setReadVolHandler({});
    FormSetting = nullptr;
    return code;
}
