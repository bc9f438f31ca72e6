// The settings dialog: serial port, baud rate, supply address, model and operator.
#pragma once

#include "SettingsFlow.h"

#include <QDialog>
#include <QSpinBox>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

// An address box that lets any number be typed and brings it into range only when the operator
// leaves it, so a typed 45 becomes 31 instead of being refused key by key.
class AddressSpinBox : public QSpinBox {
public:
    explicit AddressSpinBox(QWidget* parent = nullptr);

protected:
    QValidator::State validate(QString& text, int& pos) const override;
    void fixup(QString& text) const override;
    int valueFromText(const QString& text) const override;
};

class TFormSetting : public QDialog, public SettingsSource {
    Q_OBJECT
public:
    explicit TFormSetting(QWidget* parent = nullptr);
    ~TFormSetting() override;

    bool Execute() override;
    QString OperatorText() const override;
    QString TemperatureText() const override;
    QString HumidityText() const override;
    int AddressValue() const override;
    QString BaudText() const override;
    int PortIndex() const override;
    QString PortText() const override;
    int ModelIndex() const override;

    QComboBox* cbPort1 = nullptr;
    QComboBox* cbSerial = nullptr;
    AddressSpinBox* Addr = nullptr;
    QComboBox* ComboBox2 = nullptr;
    QLineEdit* Tempreature = nullptr;
    QLineEdit* Humidity = nullptr;
    QLineEdit* Power_Testor = nullptr;
    QLabel* LabelNote = nullptr;
    QLabel* LabelNoteText = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // A list whose text can be typed; typing into it leaves no item chosen until one is chosen
    // again from the list.
    QComboBox* MakeTypedList(const QStringList& items, int current, bool* typed);
    void OKClick();

    bool portTyped_ = false;
    bool modelTyped_ = false;
    // The list box matches typed text against its items when editing ends; that match is not a
    // choice of the operator and must not count as one.
    bool finishingEdit_ = false;
};

// The one settings dialog of the program, made when it is first opened and kept until exit.
extern TFormSetting* FormSetting;
