// The whole calibrator, every window and collaborator created and connected in one place: the
// program and its tests build it here.
#pragma once

#include "ClearingRun.h"
#include "LineSettings.h"
#include "MainUnit.h"
#include "MeterPrompt.h"
#include "ReadingHistory.h"
#include "ResultsRecord.h"

#include <QString>

#include <memory>

class LineUploader;
class ResultsWindow;
class SerialAllocator;
class TForm3;
class TFormMeter;

struct StationParts {
    // The serial control and the clock outlive the station.
    SerialControl* comm = nullptr;
    Clock* clock = nullptr;
    // Config.Ini; the record, the Temp folder and the other files of the bench are beside it.
    QString iniPath;
    // Null: MessageBoxes.
    BoxPresenter* boxes = nullptr;
    // The splash on the first activation, as every start of the program shows it.
    bool splash = true;
};

class Station {
public:
    explicit Station(const StationParts& parts);
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    TMainForm& form() { return *form_; }
    RunEngine& engine() { return form_->engine(); }
    TForm3& informationWindow() { return *form3_; }
    ResultsRecord& record() { return record_; }
    QString databasePath() const;

    // Opens the record and, on a line, starts the queue to the line's server: once the window is
    // up, so that the start-up does not wait for a database.
    void OpenRecord();

private:
    void ApplyMeter();
    // Once, when the window is up or the Meter dialog has closed: why the meter cannot be read.
    void TellMeterProblem();

    QString iniPath_;
    std::unique_ptr<TMainForm> form_;
    TForm3* form3_ = nullptr;
    ClearingRun clearing_;
    LineSettings line_;
    ResultsRecord record_;
    ReadingHistory history_;
    std::unique_ptr<SerialAllocator> allocator_;
    std::unique_ptr<LineUploader> uploader_;
    bool lineTroubleTold_ = false;
    bool recordRefused_ = false;
    ResultsWindow* formResults_ = nullptr;
    WindowMeterDialogs meterDialogs_;
    TFormMeter* formMeter_ = nullptr;
    QString meterProblem_;
    MeterPrompt meterPrompt_;
    // What [Meter] said when it was last read: the record asks at each calibration's start.
    BenchMeter benchMeter_;
};
