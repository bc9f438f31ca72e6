// The display panel (Panel2): progress bar and line, serial box, result label, step grid, and the
// hidden step list, event log and status bar the operator never sees.
#include "ProgressDisplay.h"

#include "CalPoints.h"
#include "Pictures.h"
#include "Rounding.h"
#include "RunTexts.h"

#include <QAction>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionProgressBar>
#include <QStyledItemDelegate>
#include <QTableWidget>

#include <algorithm>
#include <array>

namespace {

constexpr int GridRows = 15;
constexpr int GridColumns = 3;
constexpr int StateColumn = 2;
constexpr int TopAreaHeight = 80;
constexpr int StepColumnWidth = 50;
// Where the result label starts, right of the Results... and Meter... buttons.
constexpr int StallLineLeft = 446;
constexpr int MinStateWidth = 150;
// The grid's frame and scroll bar beside the columns.
constexpr int GridFrameWidth = 20;
// The State text is drawn 2 pixels in from the cell's left; as much again keeps it off the border.
constexpr int StateTextMargin = 6;
constexpr int StatusPercentWidth = 50;

struct GridStage {
    int row;
    int step;
    const char* text;
};

// The rows of the step grid around the calibration points' rows, which the point table gives.
constexpr std::array<GridStage, 7> OtherStages{{
    {1, 1, "Set the power to PC control mode"},
    {2, 2, "Enable the calibration"},
    {3, 3, "Read the serial number"},
    {11, 25, "Set the calibration marker"},
    {12, 26, "Disable the calibration"},
    {13, 27, "Set the power to PC control mode, output is OFF"},
    {14, 28, "Set the power to local mode, output is OFF"},
}};

// What row `row` (1..14) of the step grid shows.
const char* RowText(int row)
{
    for (const CalPoint& p : CalPoints())
        if (p.gridRow == row) return p.gridText;
    for (const GridStage& s : OtherStages)
        if (s.row == row) return s.text;
    return "";
}

// Writes a cell, creating it on first use. Fixed cells (title row, number column) keep the
// button-face background, take no selection and, like every cell, no editing.
void SetCell(QTableWidget* grid, int row, int column, const QString& text, bool fixed = false)
{
    QTableWidgetItem* item = grid->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        grid->setItem(row, column, item);
    }
    if (fixed) {
        item->setFlags(Qt::ItemIsEnabled);
        item->setBackground(grid->palette().button());
    } else {
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    }
    item->setText(text);
}

QString CellText(const QTableWidget* grid, int row, int column)
{
    const QTableWidgetItem* item = grid->item(row, column);
    return item ? item->text() : QString();
}

// Draws every cell as a plain grid does: the background, then the text cut at the cell's border, 2 px
// in from its top-left corner, the State column through the panel's own cell-drawing handler; then
// the cell's right and bottom grid lines. The platform style's item drawing laid each text out
// several times over to elide it, and the view's own grid lines went through the general line
// rasteriser: the two cost more than all the rest of the window's first painting.
class GridCellDelegate : public QStyledItemDelegate {
public:
    GridCellDelegate(const ProgressDisplay* display, QObject* parent)
        : QStyledItemDelegate(parent), display_(display)
    {
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const bool selected = option.state & QStyle::State_Selected;
        QBrush background = option.palette.base();
        const QVariant cellBackground = index.data(Qt::BackgroundRole);
        if (selected)
            background = option.palette.highlight();
        else if (cellBackground.canConvert<QBrush>())
            background = cellBackground.value<QBrush>();
        const QRect cell = option.rect.adjusted(0, 0, -1, -1);
        if (index.column() == StateColumn) {
            display_->StringGridDrawCell(*painter, index.column(), index.row(), cell, background);
        } else {
            painter->save();
            painter->fillRect(cell, background);
            painter->setFont(option.font);
            painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
            painter->drawText(cell.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                              index.data(Qt::DisplayRole).toString());
            painter->restore();
        }
        const QWidget* widget = option.widget;
        const QStyle* style = widget ? widget->style() : QApplication::style();
        const QColor line = QColor::fromRgba(static_cast<QRgb>(style->styleHint(QStyle::SH_Table_GridLineColor, &option, widget)));
        painter->fillRect(QRect(option.rect.right(), option.rect.top(), 1, option.rect.height()), line);
        painter->fillRect(QRect(option.rect.left(), option.rect.bottom(), option.rect.width() - 1, 1), line);
        if (option.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(option);
            focus.rect = cell;
            focus.state |= QStyle::State_KeyboardFocusChange | QStyle::State_Item;
            focus.backgroundColor = background.color();
            style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
        }
    }

private:
    const ProgressDisplay* display_;
};

// Draws its groove with plain fills and leaves the bar and its text to the platform style. The
// style's groove strokes an antialiased line along its top, and the first such line the program
// draws starts the painting threads: starting them was a millisecond of the window's first showing.
class ProgressBarView : public QProgressBar {
public:
    using QProgressBar::QProgressBar;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        QStyleOptionProgressBar option;
        initStyleOption(&option);
        const QStyle* style = this->style();

        // A field on the base colour in a one-pixel outline whose corners are left out.
        const QRect groove = style->subElementRect(QStyle::SE_ProgressBarGroove, &option, this);
        const QColor outline = palette().window().color().darker(140);
        painter.fillRect(groove.adjusted(1, 1, -1, -1), palette().base());
        painter.fillRect(QRect(groove.left() + 1, groove.top(), groove.width() - 2, 1), outline);
        painter.fillRect(QRect(groove.left() + 1, groove.bottom(), groove.width() - 2, 1), outline);
        painter.fillRect(QRect(groove.left(), groove.top() + 1, 1, groove.height() - 2), outline);
        painter.fillRect(QRect(groove.right(), groove.top() + 1, 1, groove.height() - 2), outline);

        option.rect = style->subElementRect(QStyle::SE_ProgressBarContents, &option, this);
        style->drawControl(QStyle::CE_ProgressBarContents, &option, &painter, this);
        if (isTextVisible()) {
            option.rect = style->subElementRect(QStyle::SE_ProgressBarLabel, &option, this);
            style->drawControl(QStyle::CE_ProgressBarLabel, &option, &painter, this);
        }
    }
};

// The grid has no header of its own (its title row is an ordinary row), so column borders in the
// title row are dragged here.
class TitleRowSizer : public QObject {
public:
    explicit TitleRowSizer(QTableWidget* grid) : QObject(grid), grid_(grid)
    {
        grid_->viewport()->installEventFilter(this);
        grid_->viewport()->setMouseTracking(true);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* me = static_cast<QMouseEvent*>(event);
            const int column = BorderAt(me->position().toPoint());
            if (me->button() != Qt::LeftButton || column < 0) return false;
            dragColumn_ = column;
            return true;
        }
        case QEvent::MouseMove: {
            auto* me = static_cast<QMouseEvent*>(event);
            const QPoint pos = me->position().toPoint();
            if (dragColumn_ >= 0) {
                const int left = grid_->columnViewportPosition(dragColumn_);
                grid_->setColumnWidth(dragColumn_, std::max(MinWidth, pos.x() - left));
                return true;
            }
            if (BorderAt(pos) >= 0)
                grid_->viewport()->setCursor(Qt::SplitHCursor);
            else
                grid_->viewport()->unsetCursor();
            return false;
        }
        case QEvent::MouseButtonRelease:
            if (dragColumn_ < 0) return false;
            dragColumn_ = -1;
            return true;
        default:
            return false;
        }
    }

private:
    static constexpr int Grip = 3;
    static constexpr int MinWidth = 8;

    // The column whose right border lies under pos in the title row, or -1.
    int BorderAt(const QPoint& pos) const
    {
        if (grid_->rowAt(pos.y()) != 0) return -1;
        for (int c = 0; c < grid_->columnCount(); ++c) {
            const int right = grid_->columnViewportPosition(c) + grid_->columnWidth(c);
            if (std::abs(pos.x() - right) <= Grip) return c;
        }
        return -1;
    }

    QTableWidget* grid_;
    int dragColumn_ = -1;
};

}  // namespace

ProgressDisplay::ProgressDisplay(const TRunState& state, QWidget* parent) : QWidget(parent), state_(state)
{
    setAutoFillBackground(true);
    QPalette sky = palette();
    sky.setColor(QPalette::Window, QColor(0xA6, 0xCA, 0xF0));
    setPalette(sky);

    auto* progressLabel = new QLabel(QStringLiteral("Progress"), this);
    progressLabel->setGeometry(8, 8, 96, 20);
    ProgressBar1 = new ProgressBarView(this);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setGeometry(108, 8, 300, 20);
    progressLabel->setBuddy(ProgressBar1);

    // A line edit lays its empty text out in the application's font while it is being made, before
    // it takes the panel's: the application's face, which this window never shows, would be loaded
    // for that alone. The application's font is the panel's while the two are made, then its own
    // again (set on the application only, so no widget is told of either change).
    const QFont appFont = QGuiApplication::font();
    QGuiApplication::setFont(font());
    auto* stepLabel = new QLabel(QStringLiteral("Testing Step"), this);
    stepLabel->setGeometry(8, 32, 96, 20);
    Edit1 = new QLineEdit(this);
    Edit1->setReadOnly(true);
    Edit1->setGeometry(108, 32, 300, 20);
    stepLabel->setBuddy(Edit1);

    auto* serialLabel = new QLabel(QStringLiteral("Serial No."), this);
    serialLabel->setGeometry(8, 56, 96, 20);
    EditSerial = new QLineEdit(this);
    EditSerial->setReadOnly(true);
    EditSerial->setGeometry(108, 56, 150, 20);
    serialLabel->setBuddy(EditSerial);
    QGuiApplication::setFont(appFont);

    Label4 = new QLabel(this);
    Label4->setGeometry(446, 20, 160, 40);

    // Over the result label, which is empty while a run goes on.
    StallLine = new QLabel(this);
    StallLine->setObjectName(QStringLiteral("StallLine"));
    StallLine->setWordWrap(true);
    StallLine->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QPalette alarm = StallLine->palette();
    alarm.setColor(QPalette::WindowText, QColor(0xA0, 0, 0));
    StallLine->setPalette(alarm);
    StallLine->hide();

    Image3 = new QLabel(this);
    Image3->setScaledContents(true);
    const QImage logo = PictureImage(QStringLiteral("logo"));
    if (!logo.isNull()) Image3->setPixmap(QPixmap::fromImage(logo));

    StringGrid = new QTableWidget(this);
    StringGrid->horizontalHeader()->hide();
    StringGrid->verticalHeader()->hide();
    StringGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid->setSelectionMode(QAbstractItemView::SingleSelection);
    StringGrid->setSelectionBehavior(QAbstractItemView::SelectItems);
    StringGrid->setWordWrap(false);
    StringGrid->setAccessibleName(QStringLiteral("Calibration steps"));
    StringGrid->setItemDelegate(new GridCellDelegate(this, StringGrid));
    StringGrid->setShowGrid(false);
    new TitleRowSizer(StringGrid);

    MsgList.setColumnCount(3);

    EventLog = new QListWidget(this);
    EventLog->setContextMenuPolicy(Qt::ActionsContextMenu);
    EventLog->addAction(new QAction(QStringLiteral("保存到文件"), EventLog));
    auto* separator = new QAction(EventLog);
    separator->setSeparator(true);
    EventLog->addAction(separator);
    auto* clear = new QAction(QStringLiteral("清除"), EventLog);
    connect(clear, &QAction::triggered, this, &ProgressDisplay::ClearLog);
    EventLog->addAction(clear);
    EventLog->hide();

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->resize(836, 19);
    for (int i = 0; i < 2; ++i) {
        statusPanels_[i] = new QLabel(StatusBar1);
        StatusBar1->addWidget(statusPanels_[i]);
    }
    statusPanels_[0]->setFixedWidth(StatusBar1->width() - StatusPercentWidth);
    statusPanels_[1]->setFixedWidth(StatusPercentWidth);
    statusPanels_[1]->setAlignment(Qt::AlignCenter);
    StatusBar1->hide();

    resize(836, 560);
}

void ProgressDisplay::InitStepGrid(bool reset)
{
    StringGrid->setRowCount(GridRows);
    StringGrid->setColumnCount(GridColumns);
    // The title row is drawn as an ordinary row; the hidden header carries the same titles for
    // assistive technology, which reads a table's columns from its header.
    StringGrid->setHorizontalHeaderLabels({QStringLiteral("Step"), QStringLiteral("Command"), QStringLiteral("State")});

    // Command and State share what the Step column leaves: a third of it for State, never less
    // than its longest text takes, so that "communication failed !" is read whole at any size.
    QFont stateFont = StringGrid->font();
    stateFont.setPointSize(12);
    const QFontMetrics metrics(stateFont);
    int stateNeed = 0;
    for (StepOutcome o : {StepOutcome::Succeed, StepOutcome::CommunicationFailed, StepOutcome::TestAbort, StepOutcome::CalibratingAbort})
        stateNeed = std::max(stateNeed, metrics.horizontalAdvance(StepOutcomeText(o).toLower()) + StateTextMargin);
    const int shared = std::max(0, width() - StepColumnWidth - GridFrameWidth);
    const int stateWidth = std::max({MinStateWidth, stateNeed, shared / 3});
    StringGrid->setColumnWidth(0, StepColumnWidth);
    StringGrid->setColumnWidth(1, std::max(0, shared - stateWidth));
    StringGrid->setColumnWidth(2, stateWidth);

    const int gridHeight = std::max(0, height() - TopAreaHeight);
    StringGrid->setGeometry(0, height() - gridHeight, width(), gridHeight);

    SetCell(StringGrid, 0, 0, QStringLiteral("Step"), true);
    SetCell(StringGrid, 0, 1, QStringLiteral("Command"), true);
    SetCell(StringGrid, 0, 2, QStringLiteral("State"), true);

    for (int row = 1; row < GridRows; ++row) {
        SetCell(StringGrid, row, 0, QString::number(row), true);
        if (reset) SetCell(StringGrid, row, StateColumn, QStringLiteral("---"));
    }
    if (reset) {
        Edit1->clear();
        ProgressBar1->setValue(0);
    }
    for (int row = 1; row < GridRows; ++row) SetCell(StringGrid, row, 1, QString::fromLatin1(RowText(row)));

    Image3->setGeometry(width() - 158, 4, 150, 72);
    StallLine->setGeometry(StallLineLeft, 4, std::max(0, width() - StallLineLeft - 166), TopAreaHeight - 8);
}

int ProgressDisplay::GridRowOfStep(int step)
{
    // A point's row shows its value step; its select and meter steps have none.
    if (const CalPoint* point = PointAtStep(step)) return point->valueStep == step ? point->gridRow : -1;
    for (const GridStage& s : OtherStages)
        if (s.step == step) return s.row;
    return -1;
}

void ProgressDisplay::SetStepState(int step, const QString& text)
{
    if (step >= 0 && step < MsgList.rowCount()) MsgList.setText(step, StateColumn, text);
    const int row = GridRowOfStep(step);
    if (row > 0 && row < StringGrid->rowCount()) SetCell(StringGrid, row, StateColumn, text);
}

QColor ProgressDisplay::StateTextColor(const QString& text)
{
    const QString lower = text.toLower();
    if (lower.contains(QLatin1String("succeed"))) return QColor(0, 0, 255);
    if (lower.contains(QLatin1String("failed")) || lower.contains(QLatin1String("abort")))
        return QColor(255, 0, 0);
    return QColor(0, 0, 0);
}

void ProgressDisplay::StringGridDrawCell(QPainter& painter, int column, int row, const QRect& rect,
                                         const QBrush& background) const
{
    if (column != StateColumn) return;
    const QString text = CellText(StringGrid, row, column).toLower();

    painter.save();
    painter.setClipRect(rect);
    painter.fillRect(rect, QBrush(background.color(), Qt::SolidPattern));
    QFont font = StringGrid->font();
    font.setPointSize(12);
    painter.setFont(font);
    painter.setPen(StateTextColor(text));
    painter.drawText(rect.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    painter.restore();
}

void ProgressDisplay::UpdateProgress()
{
    const int count = static_cast<int>(state_.FCalList.size());
    // An empty list has no share to show; dividing by it would put NaN on the bar.
    if (state_.FRunMode == RunMode::Calibration && count > 0) {
        const int step = state_.FStep;
        const QString description =
            step >= 1 && step <= count ? state_.FCalList[step - 1].Description : QString();
        const QString line = QString::asprintf("[Step %d]", step) + description;
        SetStatusPanel(0, line);
        const double percent = step * 100.0 / count;
        SetStatusPanel(1, QString::asprintf("%6.2f%%", percent));
        ProgressBar1->setValue(static_cast<int>(RoundHalfEven(percent)));
        ShowStepText(line);
    }
    if (ProgressBar1->value() == 100) Label4->setText(QStringLiteral("OK!"));
    StyleResultLabel();
}

void ProgressDisplay::ShowStepText(const QString& text)
{
    QString lower = text.toLower();
    const int cut = lower.indexOf(QLatin1Char(']'));
    if (cut >= 0) lower = lower.mid(cut + 1);
    Edit1->setText(lower);
}

void ProgressDisplay::StyleResultLabel()
{
    QFont font = Label4->font();
    font.setPointSize(15);
    Label4->setFont(font);
    QPalette pal = Label4->palette();
    pal.setColor(QPalette::WindowText, QColor(255, 0, 0));
    Label4->setPalette(pal);
}

void ProgressDisplay::ShowResultLabel(const QString& text)
{
    Label4->setText(text);
    StyleResultLabel();
}

void ProgressDisplay::ClearResultLabel() { Label4->clear(); }

void ProgressDisplay::FillMsgList()
{
    const int count = static_cast<int>(state_.FCalList.size());
    MsgList.setColumnCount(3);
    MsgList.setRowCount(count + 1);
    MsgList.setText(0, 0, QStringLiteral("Step"));
    MsgList.setText(0, 1, QStringLiteral("Order"));
    MsgList.setText(0, 2, QStringLiteral("State"));
    for (int i = 1; i <= count; ++i) {
        MsgList.setText(i, 0, QString::number(i));
        MsgList.setText(i, 1, state_.FCalList[i - 1].Description);
        MsgList.setText(i, 2, QString());
    }
}

void ProgressDisplay::ClearMsgListStates()
{
    for (int row = 1; row < MsgList.rowCount(); ++row) MsgList.setText(row, StateColumn, QString());
}

void TextGrid::setColumnCount(int columns)
{
    columns_ = std::max(0, columns);
    for (QStringList& row : rows_) row.resize(columns_);
}

void TextGrid::setRowCount(int rows)
{
    rows_.resize(std::max(0, rows), QStringList(columns_, QString()));
}

QString TextGrid::text(int row, int column) const
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= columns_) return QString();
    return rows_[row][column];
}

void TextGrid::setText(int row, int column, const QString& text)
{
    if (row < 0 || row >= rowCount() || column < 0 || column >= columns_) return;
    rows_[row][column] = text;
}

void ProgressDisplay::AddLogLine(const QString& text)
{
    if (EventLog->count() >= EventLogLimit)
        EventLog->clear();
    else
        EventLog->addItem(text);
    if (EventLog->count() > 0) EventLog->setCurrentRow(EventLog->count() - 1);
}

void ProgressDisplay::ClearLog() { EventLog->clear(); }

void ProgressDisplay::SetStatusPanel(int panel, const QString& text)
{
    if (panel == 0 || panel == 1) statusPanels_[panel]->setText(text);
}

QString ProgressDisplay::StatusPanelText(int panel) const
{
    return panel == 0 || panel == 1 ? statusPanels_[panel]->text() : QString();
}

void ProgressDisplay::SetProgressLine(const QString& text) { Edit1->setText(text); }

void ProgressDisplay::SetProgressBar(int percent) { ProgressBar1->setValue(percent); }

void ProgressDisplay::SetSerialBox(const QString& text) { EditSerial->setText(text); }

void ProgressDisplay::SetStallLine(const QString& text)
{
    StallLine->setText(text);
    StallLine->setVisible(!text.isEmpty());
}

void ProgressDisplay::Panel2Resize() { InitStepGrid(false); }

void ProgressDisplay::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Panel2Resize();
}
