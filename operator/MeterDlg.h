// The meter dialog: how the bench multimeter is reached (SCPI or libsigrok), with a test that asks
// it who it is and, for libsigrok, a scan for the meter on the connection; the meter's asset number
// and due date, and how its readings are checked and settled.
#pragma once

#include "MeterSettings.h"

#include <QDialog>

#include <memory>

class MeterLink;
class SigrokDevice;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class TFormMeter : public QDialog {
    Q_OBJECT
public:
    // `iniPath`: Config.Ini, whose [Meter] section the dialog shows and, on OK, writes.
    explicit TFormMeter(QString iniPath, QWidget* parent = nullptr);
    ~TFormMeter() override;

    // Fills the controls from Config.Ini.
    void Load();
    // What the controls say now.
    MeterSettings Settings() const;
    // Sends *IDN? with what the controls say (a libsigrok meter: opens it and takes one sample);
    // the answer or the fault shows in labelAnswer.
    void Test();
    // Looks for the libsigrok driver's meter on the connection (without one, where the driver
    // looks by itself, as for USB meters); what is found shows in labelAnswer and, when the
    // connection was empty, fills it.
    void Scan();
    // Writes the dialog's keys into Config.Ini and closes with OK; a due date that is not one, or a
    // file that cannot be written, is said in the dialog, which stays open.
    void Accept();

    QComboBox* comboConnection = nullptr;
    QLineEdit* editPort = nullptr;
    QComboBox* comboBaud = nullptr;
    QLineEdit* editHost = nullptr;
    QSpinBox* spinTcpPort = nullptr;
    QComboBox* comboLineEnd = nullptr;
    QComboBox* comboDriver = nullptr;  // libsigrok's multimeter drivers, the name as item data
    QLineEdit* editConn = nullptr;
    QLineEdit* editSerialComm = nullptr;
    QLineEdit* editAssetId = nullptr;
    QLineEdit* editCalibrationDue = nullptr;  // yyyy-MM-dd, or empty
    QLineEdit* editAccuracy = nullptr;        // the datasheet's accuracy per function, or empty
    QDoubleSpinBox* spinPlausibility = nullptr;  // percent of the point's level; 0 turns the check off
    QDoubleSpinBox* spinSettleTolerance = nullptr;  // percent of the reading
    QSpinBox* spinMaxReads = nullptr;
    QPushButton* btnScan = nullptr;
    QPushButton* btnTest = nullptr;
    QLabel* labelAnswer = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

private:
    void UpdateEnabled();

    QString iniPath_;
    MeterSettings loaded_;
    std::unique_ptr<MeterLink> testLink_;
    std::unique_ptr<SigrokDevice> testMeter_;
};
