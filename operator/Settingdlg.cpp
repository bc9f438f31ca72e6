// The settings dialog: serial port, baud rate, supply address, model and operator.
#include "Settingdlg.h"

#include "OPCPublic.h"

#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>

TFormSetting* FormSetting = nullptr;

namespace {
constexpr int MinAddress = 0;
constexpr int MaxAddress = 31;

int ClampedAddress(const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok) return MinAddress;
    return std::clamp(value, MinAddress, MaxAddress);
}

bool IsEnterKey(int key) { return key == Qt::Key_Return || key == Qt::Key_Enter; }
}  // namespace

AddressSpinBox::AddressSpinBox(QWidget* parent) : QSpinBox(parent)
{
    setRange(MinAddress, MaxAddress);
    setSingleStep(1);
    setValue(MinAddress);
}

QValidator::State AddressSpinBox::validate(QString& text, int& /*pos*/) const
{
    const QString decimal = locale().decimalPoint();
    for (const QChar c : text) {
        if (!c.isDigit() && c != QLatin1Char('+') && c != QLatin1Char('-') && !decimal.contains(c))
            return QValidator::Invalid;
    }
    bool ok = false;
    const int value = text.toInt(&ok);
    if (ok && value >= MinAddress && value <= MaxAddress) return QValidator::Acceptable;
    return QValidator::Intermediate;
}

void AddressSpinBox::fixup(QString& text) const { text = QString::number(ClampedAddress(text)); }

int AddressSpinBox::valueFromText(const QString& text) const { return ClampedAddress(text); }

TFormSetting::TFormSetting(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Settings"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint);

    cbPort1 = MakeTypedList({QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"),
                             QStringLiteral("COM4"), QStringLiteral("COM5"), QStringLiteral("COM6"),
                             QStringLiteral("COM7"), QStringLiteral("COM8")},
                            0, &portTyped_);
    QStringList choices;
    for (const ModelFacts& m : Models())
        if (m.choice) choices << QLatin1String(m.choice);
    cbSerial = MakeTypedList(choices, 1, &modelTyped_);

    Addr = new AddressSpinBox(this);

    ComboBox2 = new QComboBox(this);
    ComboBox2->setEditable(true);
    ComboBox2->setInsertPolicy(QComboBox::NoInsert);
    ComboBox2->setCompleter(nullptr);
    ComboBox2->addItems({QStringLiteral("4800"), QStringLiteral("9600"), QStringLiteral("19200"),
                         QStringLiteral("38400")});
    ComboBox2->setCurrentIndex(1);

    Tempreature = new QLineEdit(QStringLiteral("25±5"), this);
    Tempreature->setEnabled(false);
    Humidity = new QLineEdit(QStringLiteral("<70%"), this);
    Humidity->setEnabled(false);
    Power_Testor = new QLineEdit(this);
    Power_Testor->setMaxLength(8);

    // Port names, model names and the operator's initials are plain ASCII; a composition window
    // of an input method would only get between the keys and the box.
    for (QWidget* w : {static_cast<QWidget*>(cbPort1), static_cast<QWidget*>(cbPort1->lineEdit()),
                       static_cast<QWidget*>(cbSerial), static_cast<QWidget*>(cbSerial->lineEdit()),
                       static_cast<QWidget*>(Tempreature), static_cast<QWidget*>(Humidity),
                       static_cast<QWidget*>(Power_Testor)})
        w->setAttribute(Qt::WA_InputMethodEnabled, false);

    auto* upper = new QFrame(this);
    upper->setFrameShape(QFrame::StyledPanel);
    auto* grid = new QGridLayout(upper);
    auto addField = [&](int row, int column, const QString& label, QWidget* field) {
        auto* caption = new QLabel(label, upper);
        caption->setBuddy(field);
        grid->addWidget(caption, row, column * 2, Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(field, row, column * 2 + 1);
    };
    addField(0, 0, QStringLiteral("Serail Port :"), cbPort1);
    addField(0, 1, QStringLiteral("Model :"), cbSerial);
    addField(1, 0, QStringLiteral("Adress :"), Addr);
    addField(1, 1, QStringLiteral("Baudrate :"), ComboBox2);
    addField(2, 0, QStringLiteral("Temp (°C) :"), Tempreature);
    addField(2, 1, QStringLiteral("RH :"), Humidity);
    addField(3, 0, QStringLiteral("User :"), Power_Testor);

    auto* lower = new QFrame(this);
    lower->setFrameShape(QFrame::StyledPanel);
    auto* note = new QVBoxLayout(lower);
    LabelNote = new QLabel(QStringLiteral("Note :"), lower);
    QFont noteFont = LabelNote->font();
    noteFont.setPointSizeF(noteFont.pointSizeF() * 1.5);
    noteFont.setBold(true);
    LabelNote->setFont(noteFont);
    QPalette notePalette = LabelNote->palette();
    notePalette.setColor(QPalette::WindowText, Qt::red);
    LabelNote->setPalette(notePalette);
    LabelNoteText = new QLabel(
        QStringLiteral("The PowerSupply must be set to the same adress and baudrate with the computer."),
        lower);
    LabelNoteText->setWordWrap(true);
    note->addWidget(LabelNote);
    note->addWidget(LabelNoteText);

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    // Neither button may answer Enter: a stray Enter while typing must not open a port.
    for (QPushButton* b : {btnOK, btnCancel}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    connect(btnOK, &QPushButton::clicked, this, [this] { OKClick(); });
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);
    buttons->addStretch(1);

    auto* main = new QVBoxLayout(this);
    main->addWidget(upper);
    main->addWidget(lower);
    main->addLayout(buttons);
    main->setSizeConstraint(QLayout::SetFixedSize);
    LabelNoteText->setMinimumWidth(upper->sizeHint().width());

    setTabOrder(cbPort1, cbSerial);
    setTabOrder(cbSerial, Addr);
    setTabOrder(Addr, ComboBox2);
    setTabOrder(ComboBox2, Power_Testor);
    setTabOrder(Power_Testor, btnOK);
    setTabOrder(btnOK, btnCancel);
}

TFormSetting::~TFormSetting()
{
    // The children outlive this part of the object: a text that loses the focus while they are
    // torn down must not reach the selection flags.
    for (QComboBox* box : {cbPort1, cbSerial}) {
        box->lineEdit()->disconnect(this);
        box->disconnect(this);
    }
}

QComboBox* TFormSetting::MakeTypedList(const QStringList& items, int current, bool* typed)
{
    auto* box = new QComboBox(this);
    box->addItems(items);
    box->setCurrentIndex(current);

    auto* edit = new QLineEdit(box);
    // The first runs before the list box's own handler of the signal, the second after it.
    connect(edit, &QLineEdit::editingFinished, this, [this] { finishingEdit_ = true; });
    box->setLineEdit(edit);
    connect(edit, &QLineEdit::editingFinished, this, [this] { finishingEdit_ = false; });

    box->setInsertPolicy(QComboBox::NoInsert);
    box->setCompleter(nullptr);
    box->setCurrentIndex(current);
    edit->installEventFilter(this);

    connect(edit, &QLineEdit::textEdited, this, [typed] { *typed = true; });
    connect(box, &QComboBox::activated, this, [this, typed](int) {
        if (!finishingEdit_) *typed = false;
    });
    return box;
}

bool TFormSetting::eventFilter(QObject* watched, QEvent* event)
{
    // Enter in a list's text would otherwise pick the item of the same name.
    if (event->type() == QEvent::KeyPress && IsEnterKey(static_cast<QKeyEvent*>(event)->key()))
        return true;
    return QDialog::eventFilter(watched, event);
}

void TFormSetting::keyPressEvent(QKeyEvent* event)
{
    if (IsEnterKey(event->key()) || event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TFormSetting::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (QScreen* s = screen()) move(s->availableGeometry().center() - rect().center());
}

void TFormSetting::OKClick()
{
    // Clicking OK takes the focus from the address box, which brings a typed value into range.
    Addr->interpretText();
    accept();
}

bool TFormSetting::Execute() { return exec() == QDialog::Accepted; }

QString TFormSetting::OperatorText() const { return Power_Testor->text(); }
QString TFormSetting::TemperatureText() const { return Tempreature->text(); }
QString TFormSetting::HumidityText() const { return Humidity->text(); }
int TFormSetting::AddressValue() const { return Addr->value(); }
QString TFormSetting::BaudText() const { return ComboBox2->currentText(); }
int TFormSetting::PortIndex() const { return portTyped_ ? -1 : cbPort1->currentIndex(); }
QString TFormSetting::PortText() const { return cbPort1->currentText(); }
int TFormSetting::ModelIndex() const { return modelTyped_ ? -1 : cbSerial->currentIndex(); }
