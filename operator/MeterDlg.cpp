// The meter dialog: how the bench multimeter is reached (SCPI or libsigrok), with a test that asks
// it who it is and, for libsigrok, a scan for the meter on the connection; the meter's asset number
// and due date, and how its readings are checked and settled.
#include "MeterDlg.h"

#include "AppError.h"
#include "MeterLink.h"
#include "SigrokModule.h"
#include "Uncertainty.h"

#include <QComboBox>
#include <QDate>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

TFormMeter::TFormMeter(QString iniPath, QWidget* parent) : QDialog(parent), iniPath_(std::move(iniPath))
{
    setWindowTitle(QStringLiteral("Meter"));
    setModal(true);

    comboConnection = new QComboBox(this);
    comboConnection->setObjectName(QStringLiteral("comboConnection"));
    comboConnection->addItems({QStringLiteral("None (the operator types the readings)"), QStringLiteral("Serial port"),
                               QStringLiteral("Network (SCPI over TCP)"), QStringLiteral("Hand-held meter (libsigrok)")});
    editPort = new QLineEdit(this);
    editPort->setObjectName(QStringLiteral("editPort"));
    editPort->setPlaceholderText(QStringLiteral("COM2 or /dev/ttyUSB1"));
    comboBaud = new QComboBox(this);
    comboBaud->setObjectName(QStringLiteral("comboBaud"));
    comboBaud->setEditable(true);
    comboBaud->addItems({QStringLiteral("4800"), QStringLiteral("9600"), QStringLiteral("19200"), QStringLiteral("38400"),
                         QStringLiteral("57600"), QStringLiteral("115200")});
    editHost = new QLineEdit(this);
    editHost->setObjectName(QStringLiteral("editHost"));
    editHost->setPlaceholderText(QStringLiteral("host name or address"));
    spinTcpPort = new QSpinBox(this);
    spinTcpPort->setObjectName(QStringLiteral("spinTcpPort"));
    spinTcpPort->setRange(1, 65535);
    comboLineEnd = new QComboBox(this);
    comboLineEnd->setObjectName(QStringLiteral("comboLineEnd"));
    comboLineEnd->addItems({QStringLiteral("LF"), QStringLiteral("CR LF"), QStringLiteral("CR")});

    comboDriver = new QComboBox(this);
    comboDriver->setObjectName(QStringLiteral("comboDriver"));
    QString driversError;
    for (const auto& [name, longName] : SigrokMultimeterDrivers(&driversError))
        comboDriver->addItem(QStringLiteral("%1 (%2)").arg(name, longName), name);
    editConn = new QLineEdit(this);
    editConn->setObjectName(QStringLiteral("editConn"));
    editConn->setPlaceholderText(QStringLiteral("/dev/ttyUSB0, COM2, or empty for a USB meter"));
    editSerialComm = new QLineEdit(this);
    editSerialComm->setObjectName(QStringLiteral("editSerialComm"));
    editSerialComm->setPlaceholderText(QStringLiteral("the driver's own, or e.g. 115200/8n1"));
    editAssetId = new QLineEdit(this);
    editAssetId->setObjectName(QStringLiteral("editAssetId"));
    editAssetId->setPlaceholderText(QStringLiteral("for the certificate, e.g. DMM-0042"));
    editCalibrationDue = new QLineEdit(this);
    editCalibrationDue->setObjectName(QStringLiteral("editCalibrationDue"));
    editCalibrationDue->setPlaceholderText(QStringLiteral("yyyy-MM-dd, e.g. 2027-06-30"));
    editAccuracy = new QLineEdit(this);
    editAccuracy->setObjectName(QStringLiteral("editAccuracy"));
    editAccuracy->setPlaceholderText(QStringLiteral("from its datasheet, e.g. DCV=0.025%+2; DCA=0.15%+2"));
    // The ranges are those LoadMeterSettings takes, so that no value the file holds is changed by
    // opening the dialog and pressing OK.
    spinPlausibility = new QDoubleSpinBox(this);
    spinPlausibility->setObjectName(QStringLiteral("spinPlausibility"));
    spinPlausibility->setRange(0.0, 1000.0);
    spinPlausibility->setDecimals(2);
    spinPlausibility->setSuffix(QStringLiteral(" %"));
    spinPlausibility->setSpecialValueText(QStringLiteral("off"));
    spinSettleTolerance = new QDoubleSpinBox(this);
    spinSettleTolerance->setObjectName(QStringLiteral("spinSettleTolerance"));
    spinSettleTolerance->setRange(0.0, 1000.0);
    spinSettleTolerance->setDecimals(4);
    spinSettleTolerance->setSingleStep(0.01);
    spinSettleTolerance->setSuffix(QStringLiteral(" %"));
    spinMaxReads = new QSpinBox(this);
    spinMaxReads->setObjectName(QStringLiteral("spinMaxReads"));
    spinMaxReads->setRange(1, 50);

    btnScan = new QPushButton(QStringLiteral("Scan"), this);
    btnScan->setObjectName(QStringLiteral("btnScan"));
    btnScan->setAutoDefault(false);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Connection :"), comboConnection);
    form->addRow(QStringLiteral("Port :"), editPort);
    form->addRow(QStringLiteral("Baudrate :"), comboBaud);
    form->addRow(QStringLiteral("Host :"), editHost);
    form->addRow(QStringLiteral("TCP port :"), spinTcpPort);
    form->addRow(QStringLiteral("Line end :"), comboLineEnd);
    form->addRow(QStringLiteral("Driver :"), comboDriver);
    form->addRow(QStringLiteral("Device or USB id :"), editConn);
    form->addRow(QStringLiteral("Serial settings :"), editSerialComm);
    form->addRow(QStringLiteral("Asset number :"), editAssetId);
    form->addRow(QStringLiteral("Calibration due :"), editCalibrationDue);
    form->addRow(QStringLiteral("Accuracy :"), editAccuracy);
    form->addRow(QStringLiteral("Plausibility :"), spinPlausibility);
    form->addRow(QStringLiteral("Settle tolerance :"), spinSettleTolerance);
    form->addRow(QStringLiteral("Readings at most :"), spinMaxReads);

    btnTest = new QPushButton(QStringLiteral("Test"), this);
    btnTest->setObjectName(QStringLiteral("btnTest"));
    btnTest->setAutoDefault(false);
    labelAnswer = new QLabel(this);
    labelAnswer->setObjectName(QStringLiteral("labelAnswer"));
    labelAnswer->setWordWrap(true);
    labelAnswer->setTextFormat(Qt::PlainText);
    auto* test = new QHBoxLayout;
    test->addWidget(btnTest);
    test->addWidget(btnScan);
    test->addWidget(labelAnswer, 1);

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(test);
    layout->addStretch(1);
    layout->addLayout(buttons);

    connect(comboConnection, &QComboBox::currentIndexChanged, this, [this] { UpdateEnabled(); });
    connect(btnTest, &QPushButton::clicked, this, &TFormMeter::Test);
    connect(btnScan, &QPushButton::clicked, this, &TFormMeter::Scan);
    connect(btnOK, &QPushButton::clicked, this, &TFormMeter::Accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    Load();
    // Without the library's drivers only the SCPI connections remain to be chosen.
    if (!driversError.isEmpty()) labelAnswer->setText(QStringLiteral("No hand-held meters: %1").arg(driversError));
}

TFormMeter::~TFormMeter() = default;

void TFormMeter::Load()
{
    testLink_.reset();
    testMeter_.reset();
    loaded_ = LoadMeterSettings(iniPath_);
    comboConnection->setCurrentIndex(static_cast<int>(loaded_.connection));
    editPort->setText(loaded_.port);
    comboBaud->setCurrentText(QString::number(loaded_.baud));
    editHost->setText(loaded_.host);
    spinTcpPort->setValue(loaded_.tcpPort);
    comboLineEnd->setCurrentIndex(loaded_.lineEnd == "\r\n" ? 1 : loaded_.lineEnd == "\r" ? 2 : 0);
    // A driver the file names but this library lacks stays chosen, so that OK does not lose it.
    if (!loaded_.driver.isEmpty() && comboDriver->findData(loaded_.driver) < 0) comboDriver->addItem(loaded_.driver, loaded_.driver);
    if (!loaded_.driver.isEmpty()) comboDriver->setCurrentIndex(comboDriver->findData(loaded_.driver));
    editConn->setText(loaded_.conn);
    editSerialComm->setText(loaded_.serialComm);
    editAssetId->setText(loaded_.assetId);
    editCalibrationDue->setText(loaded_.calibrationDue);
    editAccuracy->setText(loaded_.accuracy);
    spinPlausibility->setValue(loaded_.plausibilityShare * 100.0);
    spinSettleTolerance->setValue(loaded_.settleShare * 100.0);
    spinMaxReads->setValue(loaded_.maxReads);
    labelAnswer->clear();
    UpdateEnabled();
}

MeterSettings TFormMeter::Settings() const
{
    // What the dialog does not show (the queries, the time limit) stays as the file has it.
    MeterSettings s = loaded_;
    s.connection = static_cast<MeterSettings::Connection>(comboConnection->currentIndex());
    s.port = editPort->text().trimmed();
    bool ok = false;
    const int baud = comboBaud->currentText().trimmed().toInt(&ok);
    if (ok && baud > 0) s.baud = baud;
    s.host = MeterHostName(editHost->text());
    s.tcpPort = static_cast<quint16>(spinTcpPort->value());
    s.lineEnd = comboLineEnd->currentIndex() == 1 ? "\r\n" : comboLineEnd->currentIndex() == 2 ? "\r" : "\n";
    if (s.connection == MeterSettings::Connection::Serial && s.port.isEmpty()) s.connection = MeterSettings::Connection::None;
    if (s.connection == MeterSettings::Connection::Tcp && s.host.isEmpty()) s.connection = MeterSettings::Connection::None;
    s.driver = comboDriver->currentData().toString();
    s.conn = editConn->text().trimmed();
    s.serialComm = editSerialComm->text().trimmed();
    if (s.connection == MeterSettings::Connection::Sigrok && s.driver.isEmpty()) s.connection = MeterSettings::Connection::None;
    s.assetId = editAssetId->text().trimmed();
    s.calibrationDue = editCalibrationDue->text().trimmed();
    s.accuracy = editAccuracy->text().trimmed();
    s.plausibilityShare = spinPlausibility->value() / 100.0;
    s.settleShare = spinSettleTolerance->value() / 100.0;
    s.maxReads = spinMaxReads->value();
    return s;
}

void TFormMeter::UpdateEnabled()
{
    const int kind = comboConnection->currentIndex();
    editPort->setEnabled(kind == 1);
    comboBaud->setEnabled(kind == 1);
    editHost->setEnabled(kind == 2);
    spinTcpPort->setEnabled(kind == 2);
    comboLineEnd->setEnabled(kind == 1 || kind == 2);
    comboDriver->setEnabled(kind == 3);
    editConn->setEnabled(kind == 3);
    editSerialComm->setEnabled(kind == 3);
    btnScan->setEnabled(kind == 3);
    btnTest->setEnabled(kind != 0);
}

void TFormMeter::Test()
{
    const MeterSettings s = Settings();
    if (!s.enabled()) {
        labelAnswer->setText(QStringLiteral("No meter is set up."));
        return;
    }
    labelAnswer->setText(QStringLiteral("Asking the meter ..."));
    if (s.connection == MeterSettings::Connection::Sigrok) {
        QString error;
        testMeter_ = MakeSigrokMeter(s, MeterDevicePath(s, iniPath_), &error);
        if (!testMeter_) {
            labelAnswer->setText(QStringLiteral("No answer: %1").arg(error));
            return;
        }
        btnTest->setEnabled(false);
        testMeter_->Sample([this](const MeterSample* sample, const QString& error) {
            const MeterIdentity id = testMeter_->Identity();
            if (sample)
                labelAnswer->setText(QStringLiteral("%1 %2 %3, version %4, reads %5")
                                         .arg(id.source, id.vendor, id.model, id.version.isEmpty() ? QStringLiteral("unknown") : id.version, SampleText(*sample)));
            else
                labelAnswer->setText(QStringLiteral("No answer: %1").arg(error));
            btnTest->setEnabled(true);
        });
        return;
    }
    testLink_ = std::make_unique<MeterLink>(s, MeterDevicePath(s, iniPath_));
    btnTest->setEnabled(false);
    testLink_->Query("*IDN?", [this](const QByteArray& line, const QString& error) {
        labelAnswer->setText(error.isEmpty() ? QStringLiteral("The meter answers: %1").arg(QString::fromLatin1(line))
                                             : QStringLiteral("No answer: %1").arg(error));
        btnTest->setEnabled(true);
    });
}

void TFormMeter::Scan()
{
    MeterSettings s = Settings();
    if (s.connection != MeterSettings::Connection::Sigrok) {
        labelAnswer->setText(QStringLiteral("Choose a libsigrok driver first."));
        return;
    }
    labelAnswer->setText(QStringLiteral("Looking for the meter ..."));
    btnScan->setEnabled(false);
    const bool fill = s.conn.isEmpty();
    SigrokScan(s, MeterDevicePath(s, iniPath_), this, [this, fill](const QList<MeterIdentity>& found, const QString& error) {
        btnScan->setEnabled(comboConnection->currentIndex() == 3);
        if (found.isEmpty()) {
            labelAnswer->setText(QStringLiteral("No meter found: %1").arg(error));
            return;
        }
        QStringList names;
        for (const MeterIdentity& id : found) names << id.describe();
        labelAnswer->setText(QStringLiteral("Found %1").arg(names.join(QStringLiteral("; "))));
        if (fill) editConn->setText(found.first().connection);
    });
}

void TFormMeter::Accept()
{
    const MeterSettings s = Settings();
    // A date the program cannot read would make every run's meter look past due, or never.
    if (!s.calibrationDue.isEmpty() && !QDate::fromString(s.calibrationDue, QStringLiteral("yyyy-MM-dd")).isValid()) {
        labelAnswer->setText(QStringLiteral("The calibration due date \"%1\" is not a date: type it as yyyy-MM-dd, "
                                            "for example 2027-06-30, or leave it empty.")
                                 .arg(s.calibrationDue));
        editCalibrationDue->setFocus();
        editCalibrationDue->selectAll();
        return;
    }
    // An entry the certificate cannot read would leave every reading's uncertainty unevaluated.
    QString problem;
    if (!s.accuracy.isEmpty() && !ParseAccuracy(s.accuracy, &problem)) {
        labelAnswer->setText(QStringLiteral("The accuracy cannot be read: %1. Type each function as the datasheet "
                                            "gives it, for example DCV=0.025%+2; DCA=0.15%+2, or leave it empty.")
                                 .arg(problem));
        editAccuracy->setFocus();
        editAccuracy->selectAll();
        return;
    }
    try {
        SaveMeterSettings(s, iniPath_);
    } catch (const AppError& e) {
        labelAnswer->setText(e.message());
        return;
    }
    testLink_.reset();
    testMeter_.reset();
    accept();
}
