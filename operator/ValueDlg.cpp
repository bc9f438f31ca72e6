// The value dialog: the operator types the multimeter reading of one calibration point.
#include "ValueDlg.h"

#include "FitText.h"
#include "MessageBoxes.h"
#include "Rounding.h"

#include <QFontInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScreen>

#include <cmath>
#include <limits>

TFormValue::TFormValue(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Value input"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(250, 122);

    Label1 = new QLabel(this);
    Label1->setGeometry(8, 6, 234, 34);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Edit1 = new QLineEdit(QStringLiteral("0.0"), this);
    Edit1->setGeometry(8, 44, 180, 22);
    // Assistive technology names the entry box after the request line.
    Label1->setBuddy(Edit1);

    Label2 = new QLabel(this);
    Label2->setGeometry(194, 44, 48, 22);
    labelPixels_ = QFontInfo(Label1->font()).pixelSize();

    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    line->setGeometry(0, 76, 250, 2);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setGeometry(40, 88, 75, 25);
    Button2 = new QPushButton(QStringLiteral("Abort"), this);
    Button2->setGeometry(135, 88, 75, 25);
    // Enter is handled by the entry box alone; a default button would run the check twice.
    Button1->setAutoDefault(false);
    Button2->setAutoDefault(false);

    connect(Button1, &QPushButton::clicked, this, &TFormValue::Button1Click);
    connect(Edit1, &QLineEdit::returnPressed, this, &TFormValue::Button1Click);
    connect(Button2, &QPushButton::clicked, this, [this] { done(ResultAbort); });

    PrepareForStep(RunMode::None, 0);
    Edit1->setFocus();
}

void TFormValue::PrepareForStep(TRunMode, std::uint8_t step)
{
    step_ = step;
    if (IsCurrentStep(step)) {
        Label1->setText(QStringLiteral("Please measure PS current value and input"));
        Label2->setText(QStringLiteral("(A)"));
    } else {
        Label1->setText(QStringLiteral("Please measure PS voltage value and input"));
        Label2->setText(QStringLiteral("(V)"));
    }
    FitLabelText(Label1, labelPixels_);
    FitLabelText(Label2, labelPixels_);
}

std::optional<std::int32_t> TFormValue::MilliValue(double value, std::uint8_t step)
{
    if (value == 0.0 || !std::isfinite(value)) return std::nullopt;
    const double milli = RoundHalfEven(value * 1000.0);
    const double low = IsCurrentStep(step) ? -32768.0 : double(std::numeric_limits<std::int32_t>::min());
    const double high = IsCurrentStep(step) ? 65535.0 : double(std::numeric_limits<std::int32_t>::max());
    if (milli < low || milli > high) return std::nullopt;
    return static_cast<std::int32_t>(milli);
}

void TFormValue::Button1Click()
{
    bool ok = false;
    double value = QLocale::system().toDouble(Edit1->text(), &ok);
    if (!ok) value = 0.0;
    FValue = value;
    // A reading the supply's frame cannot carry would be written cut off as a calibration value.
    if (MilliValue(FValue, step_)) {
        done(ResultAccepted);
        return;
    }
    MessageBoxes::Notice(this, QStringLiteral("Please input valid value !"));
}

void TFormValue::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}
