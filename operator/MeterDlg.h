// The meter dialog: how the bench multimeter is reached, with a test that asks it who it is.
#pragma once

#include "MeterSettings.h"

#include <QDialog>

#include <memory>

class MeterLink;
class QComboBox;
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
    // Sends *IDN? with what the controls say; the answer or the fault shows in labelAnswer.
    void Test();
    // Writes the connection into Config.Ini and closes with OK; a file that cannot be written is
    // said in the dialog, which stays open.
    void Accept();

    QComboBox* comboConnection = nullptr;
    QLineEdit* editPort = nullptr;
    QComboBox* comboBaud = nullptr;
    QLineEdit* editHost = nullptr;
    QSpinBox* spinTcpPort = nullptr;
    QComboBox* comboLineEnd = nullptr;
    QPushButton* btnTest = nullptr;
    QLabel* labelAnswer = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

private:
    void UpdateEnabled();

    QString iniPath_;
    MeterSettings loaded_;
    std::unique_ptr<MeterLink> testLink_;
};
