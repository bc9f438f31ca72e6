// The meter dialog: how the bench multimeter is reached, with a test that asks it who it is.
#include "MeterDlg.h"

#include "AppError.h"
#include "MeterLink.h"

#include <QComboBox>
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
                               QStringLiteral("Network (SCPI over TCP)")});
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

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Connection :"), comboConnection);
    form->addRow(QStringLiteral("Port :"), editPort);
    form->addRow(QStringLiteral("Baudrate :"), comboBaud);
    form->addRow(QStringLiteral("Host :"), editHost);
    form->addRow(QStringLiteral("TCP port :"), spinTcpPort);
    form->addRow(QStringLiteral("Line end :"), comboLineEnd);

    btnTest = new QPushButton(QStringLiteral("Test"), this);
    btnTest->setObjectName(QStringLiteral("btnTest"));
    btnTest->setAutoDefault(false);
    labelAnswer = new QLabel(this);
    labelAnswer->setObjectName(QStringLiteral("labelAnswer"));
    labelAnswer->setWordWrap(true);
    labelAnswer->setTextFormat(Qt::PlainText);
    auto* test = new QHBoxLayout;
    test->addWidget(btnTest);
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
    connect(btnOK, &QPushButton::clicked, this, &TFormMeter::Accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    Load();
}

TFormMeter::~TFormMeter() = default;

void TFormMeter::Load()
{
    testLink_.reset();
    loaded_ = LoadMeterSettings(iniPath_);
    comboConnection->setCurrentIndex(static_cast<int>(loaded_.connection));
    editPort->setText(loaded_.port);
    comboBaud->setCurrentText(QString::number(loaded_.baud));
    editHost->setText(loaded_.host);
    spinTcpPort->setValue(loaded_.tcpPort);
    comboLineEnd->setCurrentIndex(loaded_.lineEnd == "\r\n" ? 1 : loaded_.lineEnd == "\r" ? 2 : 0);
    labelAnswer->clear();
    UpdateEnabled();
}

MeterSettings TFormMeter::Settings() const
{
    // What the dialog does not show (queries, settling, the check) stays as the file has it.
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
    return s;
}

void TFormMeter::UpdateEnabled()
{
    const int kind = comboConnection->currentIndex();
    editPort->setEnabled(kind == 1);
    comboBaud->setEnabled(kind == 1);
    editHost->setEnabled(kind == 2);
    spinTcpPort->setEnabled(kind == 2);
    comboLineEnd->setEnabled(kind != 0);
    btnTest->setEnabled(kind != 0);
}

void TFormMeter::Test()
{
    const MeterSettings s = Settings();
    if (!s.enabled()) {
        labelAnswer->setText(QStringLiteral("No meter is set up."));
        return;
    }
    testLink_ = std::make_unique<MeterLink>(s, MeterDevicePath(s, iniPath_));
    labelAnswer->setText(QStringLiteral("Asking the meter ..."));
    btnTest->setEnabled(false);
    testLink_->Query("*IDN?", [this](const QByteArray& line, const QString& error) {
        labelAnswer->setText(error.isEmpty() ? QStringLiteral("The meter answers: %1").arg(QString::fromLatin1(line))
                                             : QStringLiteral("No answer: %1").arg(error));
        btnTest->setEnabled(true);
    });
}

void TFormMeter::Accept()
{
    try {
        SaveMeterConnection(Settings(), iniPath_);
    } catch (const AppError& e) {
        labelAnswer->setText(e.message());
        return;
    }
    testLink_.reset();
    accept();
}
