// The main window: toolbar, display panel, the run engine and link it owns, start-up and orderly close.
#include "MainUnit.h"

#include "AppError.h"

#include <QRegularExpression>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

#include "ConfigFile.h"
#include "MessageBoxes.h"
#include "Pictures.h"
#include "ProgressDisplay.h"
#include "Version.h"

TMainForm* MainForm = nullptr;

namespace {

constexpr int VersionNumbers[4] = {KORVEX_VERSION_MAJOR, KORVEX_VERSION_MINOR, KORVEX_VERSION_PATCH,
                                   KORVEX_VERSION_TWEAK};

constexpr int FormWidth = 836;
constexpr int FormHeight = 653;
constexpr int MinWidth = 513;
constexpr int MinHeight = 338;
constexpr int ToolbarHeight = 41;
constexpr int ButtonWidth = 108;
constexpr int ButtonHeight = 30;
constexpr int ButtonIconSize = 20;
constexpr int ToolbarLeft = 2;
constexpr int FormFontPx = 13;
constexpr int CaptionFontPx = 19;
// Right of the serial number's box on the display panel.
constexpr int PanelButtonsLeft = 266;
constexpr int PanelButtonsTop = 54;
constexpr int PanelButtonHeight = 24;
constexpr int ResultsButtonWidth = 80;
constexpr int MeterButtonWidth = 70;
constexpr int PanelButtonGap = 4;

QFont FormFont() {
    // Times New Roman is rarely installed on Linux; a metric-compatible serif stands in for it.
    const QStringList faces{QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"),
                            QStringLiteral("Nimbus Roman"), QStringLiteral("DejaVu Serif")};
    // Named by the first of them that is installed: a face missing from the font database is
    // looked for among the system's substitutes again for every size of it that is drawn.
    const QStringList installed = QFontDatabase::families();
    const auto face = std::find_if(faces.begin(), faces.end(), [&installed](const QString& name) {
        return installed.contains(name, Qt::CaseInsensitive);
    });
    QFont font;
    font.setFamilies(face != faces.end() ? QStringList{*face} : faces);
    font.setStyleHint(QFont::Serif);
    // Hinting moves the glyphs of these sizes by less than a pixel, yet the hinter's work on each
    // glyph was the greater part of drawing the window for the first time. Shaping was the next
    // part: Latin text goes without the face's kerning and ligatures, while a script that needs
    // shaping still gets it.
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::PreferNoShaping);
    font.setPixelSize(FormFontPx);
    return font;
}

// The captions' 19 pixels fit the buttons in Times New Roman; a wider stand-in face is made smaller
// until the longest caption fits beside its picture rather than being cut.
QFont CaptionFont(QFont font) {
    const QString longest = QStringLiteral("Calibrate");
    const int room = ButtonWidth - ButtonIconSize - 14;
    for (int px = CaptionFontPx; px > FormFontPx; --px) {
        font.setPixelSize(px);
        if (QFontMetrics(font).horizontalAdvance(longest) <= room) return font;
    }
    font.setPixelSize(FormFontPx);
    return font;
}

// A toolbar button as assistive technology presses it. Most of them open a modal window; Qt's own
// tool button would click inside the press request, so the screen reader or test driver that
// asked would wait for its answer until the window closed, or until its own time limit. The click
// is made once the request is answered, as a click of the mouse is.
class ToolbarButtonAccessible : public QAccessibleWidget {
public:
    explicit ToolbarButtonAccessible(QToolButton* button) : QAccessibleWidget(button, QAccessible::Button) {}

    QString text(QAccessible::Text t) const override {
        const auto* b = static_cast<const QToolButton*>(widget());
        // "&Setting" is read out "Setting"; "&&" stands for a plain "&".
        if (t == QAccessible::Name && b->accessibleName().isEmpty())
            return QString(b->text()).replace(QRegularExpression(QStringLiteral("&(.)")), QStringLiteral("\\1"));
        if (t == QAccessible::Accelerator) {
            const QKeySequence mnemonic = QKeySequence::mnemonic(b->text());
            return mnemonic.isEmpty() ? QString() : mnemonic.toString(QKeySequence::NativeText);
        }
        return QAccessibleWidget::text(t);
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.pressed = static_cast<const QToolButton*>(widget())->isDown();
        return s;
    }
    QStringList actionNames() const override {
        return widget()->isEnabled() ? QStringList{pressAction()} + QAccessibleWidget::actionNames() : QStringList{};
    }
    void doAction(const QString& action) override {
        if (action != pressAction()) {
            QAccessibleWidget::doAction(action);
            return;
        }
        if (!widget()->isEnabled()) return;
        QMetaObject::invokeMethod(static_cast<QToolButton*>(widget()), &QToolButton::click, Qt::QueuedConnection);
    }
};

// The main window is a plain top-level widget, which assistive technology would take for a mere
// filler; screen readers and UI automation look for a frame.
QAccessibleInterface* MainFormAccessible(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType()) return nullptr;
    if (className == QLatin1String("TMainForm"))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    auto* button = qobject_cast<QToolButton*>(object);
    if (button && button->parent() && qobject_cast<TMainForm*>(button->parent()->parent()))
        return new ToolbarButtonAccessible(button);
    return nullptr;
}

}  // namespace

QString VersionText() {
    return QString::asprintf("%d.%d.%d.%d", VersionNumbers[0], VersionNumbers[1], VersionNumbers[2],
                             VersionNumbers[3]);
}

void MessageBoxPresenter::Notice(QWidget* parent, const QString& text) { MessageBoxes::Notice(parent, text); }
void MessageBoxPresenter::Warning(QWidget* parent, const QString& text) {
    MessageBoxes::Warning(parent, text);
}
void MessageBoxPresenter::Error(QWidget* parent, const QString& text) { MessageBoxes::Error(parent, text); }
void MessageBoxPresenter::Information(QWidget* parent, const QString& text) {
    MessageBoxes::Information(parent, text);
}
void MessageBoxPresenter::Question(QWidget* parent, const QString& text, Answered then) {
    MessageBoxes::Question(parent, text, std::move(then));
}
void MessageBoxPresenter::WarningQuestion(QWidget* parent, const QString& text, Answered then) {
    MessageBoxes::WarningQuestion(parent, text, std::move(then));
}

TMainForm::TMainForm(const MainFormParts& parts, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      comm_(*parts.comm),
      ownBoxes_(parts.boxes ? nullptr : std::make_unique<MessageBoxPresenter>()),
      boxes_(parts.boxes ? parts.boxes : ownBoxes_.get()),
      guard_([this](const QString& message) { Error(message); }),
      clock_(*parts.clock, guard_),
      link_(comm_, clock_),
      engine_(link_, clock_, *this),
      iniPath_(parts.iniPath),
      tempDir_(parts.tempDir) {
    QAccessible::installFactory(MainFormAccessible);
    // Port events reach the link through the general error handler like every other event.
    comm_.setOnComm(guard_.Wrap([this] { link_.Comm1Comm(); }));

    // A failed save at run completion is shown by the engine; the counter stays advanced in
    // memory and the next save writes it.
    engine_.setSaveConfig([this] { SaveCounter(); });
    engine_.setReserveCounter([this] { return ReserveCounter(); });

    setWindowTitle(QStringLiteral("Korvex Power Calibrator"));
    setFont(FormFont());
    setMinimumSize(MinWidth, MinHeight);
    resize(FormWidth, FormHeight);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFixedHeight(ToolbarHeight);
    // Placed by hand rather than by a layout: a narrow window clips the toolbar instead of
    // growing to fit it.
    Panel1->installEventFilter(this);

    btnSetting = AddToolButton(QStringLiteral("btnSetting"), QStringLiteral("&Setting"),
                               QStringLiteral("setting comm"), QStringLiteral("icon_setting"),
                               &TMainForm::btnSettingClick);
    btnStart = AddToolButton(QStringLiteral("btnStart"), QStringLiteral("&Calibrate"),
                             QStringLiteral("calibrate powersupply value"), QStringLiteral("icon_calibrate"),
                             nullptr);
    btnClear =
        AddToolButton(QStringLiteral("btnClear"), QStringLiteral("&Reset"), QStringLiteral("clear the value"),
                      QStringLiteral("icon_reset"), &TMainForm::btnClearClick);
    btnCancel = AddToolButton(QStringLiteral("btnCancel"), QStringLiteral("&Abort"), QStringLiteral("undo"),
                              QStringLiteral("icon_abort"), nullptr);
    SpeedButton1 = AddToolButton(QStringLiteral("SpeedButton1"), QStringLiteral("&Help"),
                                 QStringLiteral("help contents"), QStringLiteral("icon_help"),
                                 &TMainForm::SpeedButton1Click);
    SpeedButton2 =
        AddToolButton(QStringLiteral("SpeedButton2"), QStringLiteral("&About"), QStringLiteral("about us"),
                      QStringLiteral("icon_about"), &TMainForm::SpeedButton2Click);
    btnClose =
        AddToolButton(QStringLiteral("btnClose"), QStringLiteral("&Exit"), QStringLiteral("close the window"),
                      QStringLiteral("icon_exit"), &TMainForm::btnCloseClick);
    connect(btnStart, &QToolButton::clicked, this,
            [this] { guard_.Run([this] { engine_.btnStartClick(); }); });
    connect(btnCancel, &QToolButton::clicked, this,
            [this] { guard_.Run([this] { engine_.btnCancelClick(); }); });
    // Alt+A is Abort's and About's both; Esc asks the same question as Abort, during a run only.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        if (engine_.state().FCalibrating) guard_.Run([this] { engine_.btnCancelClick(); });
    });
    btnCancel->setEnabled(false);

    Image1 = new QLabel(Panel1);
    Image1->setObjectName(QStringLiteral("Image1"));
    const QImage banner = PictureImage(QStringLiteral("banner"));
    if (!banner.isNull())
        Image1->setPixmap(QPixmap::fromImage(banner.scaledToHeight(ToolbarHeight, Qt::SmoothTransformation)));
    // Anchored at the right end: where the buttons leave too little room, its left part is hidden.
    Image1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    LayoutToolbar();

    Panel2 = new ProgressDisplay(engine_.state(), this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    // Captions may be wider in another face; the buttons grow rather than cut them.
    // Alt+U and Alt+M: no toolbar button takes either.
    btnResults = new QPushButton(QStringLiteral("Res&ults..."), Panel2);
    btnResults->setObjectName(QStringLiteral("btnResults"));
    btnResults->setToolTip(QStringLiteral("the record of every unit"));
    btnResults->setGeometry(PanelButtonsLeft, PanelButtonsTop, qMax(ResultsButtonWidth, btnResults->sizeHint().width()),
                            PanelButtonHeight);
    connect(btnResults, &QPushButton::clicked, this, [this] { guard_.Run([this] { btnResultsClick(); }); });
    btnMeter = new QPushButton(QStringLiteral("&Meter..."), Panel2);
    btnMeter->setObjectName(QStringLiteral("btnMeter"));
    btnMeter->setToolTip(QStringLiteral("the multimeter the program reads"));
    btnMeter->setGeometry(btnResults->geometry().right() + 1 + PanelButtonGap, PanelButtonsTop,
                          qMax(MeterButtonWidth, btnMeter->sizeHint().width()), PanelButtonHeight);
    connect(btnMeter, &QPushButton::clicked, this, [this] { guard_.Run([this] { btnMeterClick(); }); });

    faultBoxTimer_.setSingleShot(true);
    faultBoxTimer_.setInterval(0);
    connect(&faultBoxTimer_, &QTimer::timeout, this,
            [this] { guard_.Run([this] { Warning(faultBoxText_ + QStringLiteral("\nThe calibration is not affected.")); }); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(Panel1);
    layout->addWidget(Panel2, 1);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(FormWidth / 2, FormHeight / 2));
    }

    splashTimer_.setSingleShot(true);
    splashTimer_.setInterval(0);
    connect(&splashTimer_, &QTimer::timeout, this, [this] {
        guard_.Run([this] {
            if (windows_.splash) ShowModal(*windows_.splash);
        });
    });

    FormCreate();
}

TMainForm::~TMainForm() {
    // The serial control outlives this window; its events must not reach the dead link.
    comm_.setOnComm({});
    if (MainForm == this) MainForm = nullptr;
}

QToolButton* TMainForm::AddToolButton(const QString& name, const QString& caption, const QString& tip,
                                      const QString& picture, void (TMainForm::*handler)()) {
    auto* button = new QToolButton(Panel1);
    button->setObjectName(name);
    button->setText(caption);
    button->setToolTip(tip);
    button->setFixedSize(ButtonWidth, ButtonHeight);
    button->setAutoRaise(true);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setIconSize(QSize(ButtonIconSize, ButtonIconSize));
    const QImage image = PictureImage(picture);
    if (!image.isNull()) button->setIcon(QIcon(QPixmap::fromImage(image)));
    button->setFont(CaptionFont(button->font()));
    if (handler)
        connect(button, &QToolButton::clicked, this,
                [this, handler] { guard_.Run([this, handler] { (this->*handler)(); }); });
    toolButtons_.push_back(button);
    return button;
}

void TMainForm::LayoutToolbar() {
    int x = ToolbarLeft;
    for (QToolButton* button : toolButtons_) {
        button->move(x, (ToolbarHeight - ButtonHeight) / 2);
        x += ButtonWidth;
    }
    if (Image1) Image1->setGeometry(x, 0, qMax(0, Panel1->width() - x), ToolbarHeight);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Panel1 && event->type() == QEvent::Resize) LayoutToolbar();
    return QWidget::eventFilter(watched, event);
}

void TMainForm::AttachWindows(MainFormWindows windows) { windows_ = std::move(windows); }

int TMainForm::ShowModal(QDialog& dialog) {
    return windows_.showModal ? windows_.showModal(dialog) : dialog.exec();
}

void TMainForm::FormCreate() {
    // Nothing else uses the work directory, so failing to create it is not worth a word.
    if (!tempDir_.isEmpty()) QDir().mkpath(tempDir_);
    // The engine set the run state's defaults when it was made.
    link_.SetDefaults();
    engine_.LoadConfig(ReadConfig(iniPath_, &counterUnknown_));
    if (!counterUnknown_.isEmpty())
        ShowRecordFault(QStringLiteral("<Config> %1: the unit counter is not known, and no supply gets a number of it").arg(counterUnknown_),
                        false);
    link_.ClearRx();
    Panel2->FillMsgList();
}

void TMainForm::FormShow() {
    Panel2->SetStatusPanel(0, QStringLiteral("Ver : ") + VersionText());
    Panel2->InitStepGrid(false);
}

void TMainForm::FormActivate() {
    if (splashShown_) return;
    splashShown_ = true;
    splashTimer_.start();
}

bool TMainForm::FormCloseQuery() { return engine_.FormCloseQuery(); }

void TMainForm::FormClose() {
    link_.ClosePort();
    SaveCounter();
}

void TMainForm::SaveCounter() {
    if (counterUnknown_.isEmpty()) SaveConfig(state(), iniPath_);
}

QString TMainForm::ReserveCounter() {
    if (!counterUnknown_.isEmpty()) return counterUnknown_;
    // The file holds what the counter will be once this supply has its number; the run's end
    // writes the same, and a run that ends early leaves the next save to put the counter back.
    try {
        SaveUnitCounter(NextUnitCounter(state().FUnitCounter), false, iniPath_);
        return QString();
    } catch (const AppError& e) {
        return e.message();
    }
}

void TMainForm::btnSettingClick() {
    if (settingClick_) settingClick_();
}

void TMainForm::btnClearClick() {
    if (clearClick_) clearClick_();
}

void TMainForm::btnCloseClick() { close(); }

void TMainForm::btnResultsClick() {
    if (resultsClick_) resultsClick_();
}

void TMainForm::btnMeterClick() {
    if (meterClick_) meterClick_();
}

void TMainForm::ShowRecordFault(const QString& text, bool showBox) {
    Panel2->AddLogLine(text);
    Panel2->SetStatusPanel(0, text);
    if (!showBox) return;
    QString box = text;
    box.remove(QRegularExpression(QStringLiteral("^<[A-Za-z]+> ")));
    if (!box.isEmpty()) box[0] = box[0].toUpper();
    // Reports that come before the event loop is free again (a meter past its due date and a
    // record that cannot be written, at one run's start) share one box rather than one hiding the other.
    faultBoxText_ = faultBoxTimer_.isActive() ? faultBoxText_ + QLatin1Char('\n') + box : box;
    faultBoxTimer_.start();
}

void TMainForm::CreateWindowsLater() {
    if (const auto create = std::exchange(windows_.createLater, {})) create(windows_);
}

void TMainForm::SpeedButton1Click() {
    CreateWindowsLater();
    if (windows_.help) ShowModal(*windows_.help);
}

void TMainForm::SpeedButton2Click() {
    CreateWindowsLater();
    if (windows_.aboutVersion) windows_.aboutVersion->setText(QStringLiteral("Ver : ") + VersionText());
    if (windows_.about) ShowModal(*windows_.about);
}

void TMainForm::WMRestoreInstance() {
    if (isMinimized()) {
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        show();
    }
    // A modal window in front (the splash, a dialog, a box) is the one to come forward.
    QWidget* front = QApplication::activeModalWidget();
    if (!front) front = this;
    front->raise();
    front->activateWindow();
}

bool TMainForm::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) FormActivate();
    return QWidget::event(event);
}

void TMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TMainForm::closeEvent(QCloseEvent* event) {
    bool mayClose = false;
    const bool completed = guard_.Run([this, &mayClose] {
        mayClose = FormCloseQuery();
        if (mayClose) FormClose();
    });
    // A failed save keeps the window open, so the unit counter is not lost with the process.
    if (completed && mayClose)
        event->accept();
    else
        event->ignore();
}

void TMainForm::Notice(const QString& text) { boxes_->Notice(this, text); }
void TMainForm::Warning(const QString& text) { boxes_->Warning(this, text); }
void TMainForm::Error(const QString& text) { boxes_->Error(this, text); }
void TMainForm::Information(const QString& text) { boxes_->Information(this, text); }
// The answer comes in an event of its own, handled as a click is.
Answered TMainForm::Guarded(Answered then) {
    return [this, then = std::move(then)](BoxAnswer a) { guard_.Run([&] { then(a); }); };
}
void TMainForm::Question(const QString& text, Answered then) { boxes_->Question(this, text, Guarded(std::move(then))); }
void TMainForm::WarningQuestion(const QString& text, Answered then) {
    boxes_->WarningQuestion(this, text, Guarded(std::move(then)));
}

void TMainForm::SetStepState(int step, StepOutcome outcome) { Panel2->SetStepState(step, StepOutcomeText(outcome)); }
void TMainForm::UpdateProgress() { Panel2->UpdateProgress(); }
void TMainForm::AddLogLine(const QString& text) { Panel2->AddLogLine(text); }
void TMainForm::ClearLog() { Panel2->ClearLog(); }
void TMainForm::FillMsgList() { Panel2->FillMsgList(); }
void TMainForm::ClearMsgListStates() { Panel2->ClearMsgListStates(); }
void TMainForm::InitStepGrid(bool reset) { Panel2->InitStepGrid(reset); }
void TMainForm::ShowStepText(const QString& text) { Panel2->ShowStepText(text); }
void TMainForm::ShowResultLabel(const QString& text) { Panel2->ShowResultLabel(text); }
void TMainForm::ClearResultLabel() { Panel2->ClearResultLabel(); }
void TMainForm::SetStatusPanel(int panel, const QString& text) { Panel2->SetStatusPanel(panel, text); }
void TMainForm::SetProgressLine(const QString& text) { Panel2->SetProgressLine(text); }
void TMainForm::SetProgressBar(int percent) { Panel2->SetProgressBar(percent); }
void TMainForm::SetSerialBox(const QString& text) { Panel2->SetSerialBox(text); }
void TMainForm::SetStallLine(const QString& text) { Panel2->SetStallLine(text); }

QToolButton* TMainForm::Button(ToolButton button) const {
    switch (button) {
        case ToolButton::Setting:
            return btnSetting;
        case ToolButton::Start:
            return btnStart;
        case ToolButton::Clear:
            return btnClear;
        case ToolButton::Cancel:
            return btnCancel;
    }
    return nullptr;
}

void TMainForm::SetButtonEnabled(ToolButton button, bool enabled) {
    if (QToolButton* b = Button(button)) b->setEnabled(enabled);
}

bool TMainForm::ButtonEnabled(ToolButton button) const {
    const QToolButton* b = Button(button);
    return b && b->isEnabled();
}
