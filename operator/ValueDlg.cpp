// The value dialog: the operator types the multimeter reading of one calibration point.
#include "ValueDlg.h"

#include "CalPoints.h"
#include "FitText.h"
#include "MessageBoxes.h"
#include "Rounding.h"

#include <QFontInfo>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>

#include <algorithm>
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

    Label3 = new QLabel(this);
    Label3->setObjectName(QStringLiteral("Label3"));
    Label3->setWordWrap(true);
    Label3->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label3->hide();

    Label4 = new QLabel(this);
    Label4->setObjectName(QStringLiteral("Label4"));
    Label4->setWordWrap(true);
    Label4->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label4->hide();

    Label5 = new QLabel(this);
    Label5->setObjectName(QStringLiteral("Label5"));
    Label5->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Label5->hide();

    line_ = new QFrame(this);
    line_->setFrameShape(QFrame::HLine);
    line_->setFrameShadow(QFrame::Sunken);
    line_->setGeometry(0, 76, 250, 2);

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

bool TFormValue::IsCurrentStep(std::uint8_t step)
{
    const CalPoint* point = PointAtStep(step);
    return point && point->quantity == Quantity::Current;
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

void TFormValue::SetPlausibility(std::uint8_t model, double share)
{
    model_ = model;
    plausibilityShare_ = share;
}

void TFormValue::OpenLine(QLabel* label, int extra)
{
    // The entry's row stays where it was; the rule and the buttons move down.
    int y = 70;
    for (const QLabel* open : {Label5, Label3, Label4})
        if (open != label && !open->isHidden()) y = std::max(y, open->geometry().bottom() + 1);
    setFixedSize(width(), height() + extra);
    for (QWidget* w : {static_cast<QWidget*>(line_), static_cast<QWidget*>(Button1), static_cast<QWidget*>(Button2)})
        if (w->y() >= y) w->move(w->x(), w->y() + extra);
    label->setGeometry(8, y, 234, extra);
    label->show();
}

namespace {

// "100mV" and "37.0V" as "100 mV" and "37.0 V", the way a level is spoken.
QString SpokenLevel(QString bare)
{
    const qsizetype unit = bare.indexOf(QRegularExpression(QStringLiteral("m?[VA]$")));
    if (unit > 0) bare.insert(unit, QLatin1Char(' '));
    return bare;
}

QString EntryUnit(std::uint8_t step)
{
    return TFormValue::IsCurrentStep(step) ? QStringLiteral("amperes") : QStringLiteral("volts");
}

}  // namespace

void TFormValue::ShowPointLine(std::uint8_t model)
{
    const CalPoint* point = PointAtStep(step_);
    if (!point) return;
    const QString level = BareLevel(*point, model);
    if (Label5->isHidden()) OpenLine(Label5, 20);
    Label5->setText(QStringLiteral("Point %1 of %2: about %3, type %4")
                        .arg(point->number)
                        .arg(CalPointCount)
                        .arg(level, EntryUnit(step_)));
    FitLabelText(Label5, labelPixels_);
}

void TFormValue::ShowMeterLine(const QString& text)
{
    if (Label3->isHidden()) OpenLine(Label3, 34);
    Label3->setText(text);
    FitLabelText(Label3, labelPixels_);
}

bool TFormValue::Plausible(double value) const
{
    return plausibilityShare_ <= 0.0 || IsPlausibleReading(value, step_, model_, plausibilityShare_);
}

bool TFormValue::ShowUnusual(double value, const QString& text)
{
    const QString notice = unusualCheck_ && MilliValue(value, step_) && Plausible(value) ? unusualCheck_(value, text) : QString();
    if (notice.isEmpty()) {
        if (!Label4->isHidden()) Label4->clear();
        return false;
    }
    if (Label4->isHidden()) OpenLine(Label4, 48);
    Label4->setText(notice);
    FitLabelText(Label4, labelPixels_);
    noticedText_ = text;
    return true;
}

void TFormValue::StartMeterReading()
{
    meterText_.clear();
    Edit1->clear();
    ShowMeterLine(QStringLiteral("Reading the meter ..."));
}

void TFormValue::SetMeterValue(const QString& value, const QString& note)
{
    // What the operator typed while the meter was being read stays.
    if (!Edit1->text().isEmpty() && Edit1->text() != meterText_) {
        ShowMeterLine(note + (value.isEmpty() ? QString() : QStringLiteral(" (the typed value is kept)")));
        return;
    }
    meterText_ = value;
    Edit1->setText(value);
    if (!value.isEmpty()) Edit1->selectAll();
    ShowMeterLine(note);
    if (!value.isEmpty()) ShowUnusual(EntryValue(value), value);
}

bool TFormValue::ValueFromMeter() const { return !meterText_.isEmpty() && Edit1->text() == meterText_; }

double TFormValue::EntryValue(const QString& text)
{
    bool ok = false;
    const double value = QLocale::system().toDouble(text, &ok);
    return ok ? value : 0.0;
}

void TFormValue::keyPressEvent(QKeyEvent* event)
{
    // Enter confirms through the entry. Passed on, QDialog would press the default button of any
    // child window, such as the question the same Enter has just opened: its No.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TFormValue::Button1Click()
{
    FValue = EntryValue(Edit1->text());
    // A reading the supply's frame cannot carry would be written cut off as a calibration value.
    const std::optional<std::int32_t> milli = MilliValue(FValue, step_);
    if (!milli) {
        MessageBoxes::Notice(this, QStringLiteral("Please input valid value !"));
        return;
    }
    FMilli = *milli;
    // A meter on the wrong range, a lost decimal point, a current read as a voltage: asked, not
    // written into the supply unseen.
    if (!Plausible(FValue)) {
        // The slip of a first day: typing what a meter on millivolts shows. The question says how
        // the level is typed.
        const QString level = NominalLevel(step_, model_);
        const CalPoint* point = PointAtStep(step_);
        const QString question =
            QStringLiteral("The value %1 is far from the expected %2. The entry is in %3: %4 is %5. Use it anyway?")
                .arg(Edit1->text(), level, EntryUnit(step_), SpokenLevel(point ? BareLevel(*point, model_) : level),
                     QLocale::system().toString(NominalValue(step_, model_), 'g', 6));
        // Asked without a loop of its own; the dialog closes on Yes, and stays with the text on No.
        MessageBoxes::WarningQuestion(this, question, [this, value = FValue, milli = *milli](BoxAnswer answer) {
            if (answer != BoxAnswer::Yes) return;
            FValue = value;
            FMilli = milli;
            done(ResultAccepted);
        });
        return;
    } else if (unusualCheck_) {
        // Asked again at every Enter, also for the notice already shown: the record takes its
        // verdict from this last look. Shown once, the same text is taken.
        const QString text = Edit1->text();
        const bool seen = text == noticedText_;
        if (ShowUnusual(FValue, text) && !seen) return;
    }
    done(ResultAccepted);
}

void TFormValue::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}
