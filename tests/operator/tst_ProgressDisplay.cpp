// Tests of the display panel: step grid layout and states, cell colours, progress texts, the hidden
// step list and the event log.
#include "LabelFit.h"
#include "ProgressDisplay.h"
#include "RunTexts.h"

#include <QAction>
#include <QFontMetrics>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QProgressBar>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOption>
#include <QTableWidget>
#include <QTest>

namespace {

QString Cell(const QTableWidget* grid, int row, int column)
{
    const QTableWidgetItem* item = grid->item(row, column);
    return item ? item->text() : QString();
}

TEventQueue ListOf(int count)
{
    TEventQueue list(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) list[static_cast<std::size_t>(i)].Description = QStringLiteral("Step Text %1").arg(i + 1);
    return list;
}

bool HasPixel(const QImage& image, const QRect& area, const std::function<bool(QColor)>& pred)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (pred(image.pixelColor(x, y))) return true;
    return false;
}

// A display panel in a shown window of the main window's size, its grid reset.
struct ShownPanel {
    TRunState state;
    QWidget window;
    ProgressDisplay display{state, &window};

    bool Show()
    {
        window.resize(836, 560);
        display.setGeometry(0, 0, 836, 560);
        window.show();
        const bool exposed = QTest::qWaitForWindowExposed(&window);
        display.InitStepGrid(true);
        return exposed;
    }
};

}  // namespace

// Command and State share the width the Step column leaves, the larger share Command's wherever
// there is room; every State text is drawn whole.
void CheckColumnsShare(const ProgressDisplay& display, int width)
{
    const QTableWidget* grid = display.StringGrid;
    const int command = grid->columnWidth(1), state = grid->columnWidth(2);
    QCOMPARE(command + state, std::max(state, width - 70));
    if (width >= 836) QVERIFY2(command > state && state > 150, qPrintable(QStringLiteral("%1 %2").arg(command).arg(state)));
    QFont font = grid->font();
    font.setPointSize(12);
    for (StepOutcome o : {StepOutcome::Succeed, StepOutcome::CommunicationFailed, StepOutcome::TestAbort, StepOutcome::CalibratingAbort}) {
        const QString text = StepOutcomeText(o).toLower();
        QVERIFY2(QFontMetrics(font).horizontalAdvance(text) + 2 < state, qPrintable(text));
    }
}

class TestProgressDisplay : public QObject {
    Q_OBJECT
private slots:
    void stepGridLayout_data();
    void stepGridLayout();
    void stepGridTexts();
    void stateColumnEmptyBeforeReset();
    void resetClearsStatesAndProgress();
    void setStepState_data();
    void setStepState();
    void stateColours_data();
    void stateColours();
    void drawCell_data();
    void drawCell();
    void drawCellLeavesOtherColumns();
    void gridCells_data();
    void gridCells();
    void progressBarDrawn_data();
    void progressBarDrawn();
    void updateProgress_data();
    void updateProgress();
    void updateProgressOutsideCalibration();
    void showStepText_data();
    void showStepText();
    void resultLabel();
    void fillMsgList();
    void eventLog();
    void eventLogFullEmpties();
    void eventLogMenu();
    void statusPanelShowsText();
    void resizeKeepsStates();
    void titleRowDragWidensColumn();
};

void TestProgressDisplay::stepGridLayout_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("main window size") << 836 << 560;
    QTest::newRow("maximised on 1920x1080") << 1920 << 1020;
    QTest::newRow("maximised on 1366x768") << 1366 << 700;
    QTest::newRow("smallest window") << 513 << 250;
    QTest::newRow("narrower than the fixed columns") << 200 << 60;
}

void TestProgressDisplay::stepGridLayout()
{
    QFETCH(int, width);
    QFETCH(int, height);
    TRunState state;
    QWidget window;
    ProgressDisplay display(state, &window);
    window.show();
    display.setGeometry(0, 0, width, height);
    display.InitStepGrid(false);

    QCOMPARE(display.StringGrid->rowCount(), 15);
    QCOMPARE(display.StringGrid->columnCount(), 3);
    QCOMPARE(display.StringGrid->columnWidth(0), 50);
    CheckColumnsShare(display, width);
    const int gridHeight = std::max(0, height - 80);
    QCOMPARE(display.StringGrid->height(), gridHeight);
    QCOMPARE(display.StringGrid->geometry().bottom(), height - 1);
}

void TestProgressDisplay::stepGridTexts()
{
    TRunState state;
    ProgressDisplay display(state);
    display.InitStepGrid(true);
    const QStringList commands{
        "Command",
        "Set the power to PC control mode",
        "Enable the calibration",
        "Read the serial number",
        "Calibrate the 1st voltage point",
        "Calibrate the 2nd voltage point",
        "Calibrate the 3rd voltage point",
        "Calibrate the 4th voltage point",
        "Calibrate the 5th voltage point",
        "Calibrate the 1st current point",
        "Calibrate the 2st current point",
        "Set the calibration marker",
        "Disable the calibration",
        "Set the power to PC control mode, output is OFF",
        "Set the power to local mode, output is OFF",
    };
    for (int row = 0; row < 15; ++row) {
        QCOMPARE(Cell(display.StringGrid, row, 1), commands[row]);
        QCOMPARE(Cell(display.StringGrid, row, 0), row == 0 ? QStringLiteral("Step") : QString::number(row));
        QCOMPARE(Cell(display.StringGrid, row, 2), row == 0 ? QStringLiteral("State") : QStringLiteral("---"));
        // The operator reads the grid; nothing in it can be edited.
        for (int column = 0; column < 3; ++column)
            QVERIFY(!(display.StringGrid->item(row, column)->flags() & Qt::ItemIsEditable));
    }
}

void TestProgressDisplay::stateColumnEmptyBeforeReset()
{
    TRunState state;
    ProgressDisplay display(state);
    display.InitStepGrid(false);
    for (int row = 1; row < 15; ++row) QCOMPARE(Cell(display.StringGrid, row, 2), QString());
    QCOMPARE(Cell(display.StringGrid, 0, 2), QStringLiteral("State"));
}

void TestProgressDisplay::resetClearsStatesAndProgress()
{
    TRunState state;
    state.FCalList = ListOf(29);
    ProgressDisplay display(state);
    display.FillMsgList();
    display.InitStepGrid(true);
    display.SetStepState(6, QStringLiteral("Succeed !"));
    display.SetProgressLine(QStringLiteral("Calibrating Abort !"));
    display.SetProgressBar(45);

    display.InitStepGrid(false);
    QCOMPARE(Cell(display.StringGrid, 4, 2), QStringLiteral("Succeed !"));
    QCOMPARE(display.Edit1->text(), QStringLiteral("Calibrating Abort !"));
    QCOMPARE(display.ProgressBar1->value(), 45);

    display.InitStepGrid(true);
    QCOMPARE(Cell(display.StringGrid, 4, 2), QStringLiteral("---"));
    QCOMPARE(display.Edit1->text(), QString());
    QCOMPARE(display.ProgressBar1->value(), 0);
}

void TestProgressDisplay::setStepState_data()
{
    QTest::addColumn<int>("listSize");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("gridRow");
    QTest::addColumn<bool>("inList");

    QTest::newRow("step 1") << 29 << 1 << 1 << true;
    QTest::newRow("step 3") << 29 << 3 << 3 << true;
    QTest::newRow("step 4 has no row") << 29 << 4 << -1 << true;
    QTest::newRow("meter step 5 has no row") << 29 << 5 << -1 << true;
    QTest::newRow("step 6 is row 4") << 29 << 6 << 4 << true;
    QTest::newRow("step 15 is row 7") << 29 << 15 << 7 << true;
    QTest::newRow("step 24 is row 10") << 29 << 24 << 10 << true;
    QTest::newRow("step 28 is row 14") << 29 << 28 << 14 << true;
    QTest::newRow("step 29 has no row") << 29 << 29 << -1 << true;
    QTest::newRow("beyond the list") << 29 << 30 << -1 << false;
    QTest::newRow("list still empty") << 0 << 6 << 4 << false;
}

void TestProgressDisplay::setStepState()
{
    QFETCH(int, listSize);
    QFETCH(int, step);
    QFETCH(int, gridRow);
    QFETCH(bool, inList);

    TRunState state;
    state.FCalList = ListOf(listSize);
    ProgressDisplay display(state);
    display.FillMsgList();
    display.InitStepGrid(true);

    display.SetStepState(step, QStringLiteral("Test abort"));

    for (int row = 1; row < 15; ++row)
        QCOMPARE(Cell(display.StringGrid, row, 2), row == gridRow ? QStringLiteral("Test abort") : QStringLiteral("---"));
    QCOMPARE(display.MsgList.rowCount(), listSize + 1);
    for (int row = 1; row < display.MsgList.rowCount(); ++row)
        QCOMPARE(display.MsgList.text(row, 2), inList && row == step ? QStringLiteral("Test abort") : QString());
    QCOMPARE(display.MsgList.text(0, 2), QStringLiteral("State"));
}

void TestProgressDisplay::stateColours_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("colour");
    const QColor blue(0, 0, 255), red(255, 0, 0), black(0, 0, 0);
    QTest::newRow("succeed") << "Succeed !" << blue;
    QTest::newRow("communication failed") << "Communication failed !" << red;
    QTest::newRow("test abort") << "Test abort" << red;
    QTest::newRow("calibrating abort") << "Calibrating Abort !" << red;
    QTest::newRow("dashes") << "---" << black;
    QTest::newRow("title") << "State" << black;
    QTest::newRow("empty") << "" << black;
    QTest::newRow("failed and succeed") << "FAILED then SUCCEED" << blue;
    QTest::newRow("abort and failed") << "abort failed" << red;
}

void TestProgressDisplay::stateColours()
{
    QFETCH(QString, text);
    QFETCH(QColor, colour);
    QCOMPARE(ProgressDisplay::StateTextColor(text), colour);
}

void TestProgressDisplay::drawCell_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("succeed blue") << "Succeed !" << QColor(0, 0, 255);
    QTest::newRow("abort red") << "Calibrating Abort !" << QColor(255, 0, 0);
    QTest::newRow("dashes black") << "---" << QColor(0, 0, 0);
}

// The handler's drawing: lower-case text in the state colour, 2 px in from the top-left corner,
// on the background it is given, and nothing outside the cell.
void TestProgressDisplay::drawCell()
{
    QFETCH(QString, text);
    QFETCH(QColor, colour);

    TRunState state;
    state.FCalList = ListOf(29);
    ProgressDisplay display(state);
    display.FillMsgList();
    display.InitStepGrid(true);
    display.SetStepState(6, text);

    const QColor outside(10, 200, 10);
    const QColor background(250, 250, 170);
    const QRect cell(20, 10, 150, 30);
    QImage drawn(200, 60, QImage::Format_RGB32);
    drawn.fill(outside);
    {
        QPainter painter(&drawn);
        display.StringGridDrawCell(painter, 2, 4, cell, QBrush(background));
    }

    // The same text written by hand in lower case at the promised place.
    QImage expected(200, 60, QImage::Format_RGB32);
    expected.fill(outside);
    {
        QPainter painter(&expected);
        painter.fillRect(cell, background);
        painter.setClipRect(cell);
        QFont font = display.StringGrid->font();
        font.setPointSize(12);
        painter.setFont(font);
        painter.setPen(colour);
        painter.drawText(cell.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop, text.toLower());
    }
    QCOMPARE(drawn, expected);

    QVERIFY(HasPixel(drawn, cell, [&](QColor c) {
        return std::abs(c.red() - colour.red()) < 60 && std::abs(c.green() - colour.green()) < 60 &&
               std::abs(c.blue() - colour.blue()) < 60;
    }));
    // The two pixel rows and columns at the corner stay background.
    QVERIFY(!HasPixel(drawn, QRect(cell.topLeft(), QSize(cell.width(), 2)), [&](QColor c) { return c != background; }));
    QVERIFY(!HasPixel(drawn, QRect(cell.topLeft(), QSize(2, cell.height())), [&](QColor c) { return c != background; }));
}

void TestProgressDisplay::drawCellLeavesOtherColumns()
{
    TRunState state;
    ProgressDisplay display(state);
    display.InitStepGrid(true);
    QImage image(100, 40, QImage::Format_RGB32);
    image.fill(Qt::white);
    const QImage before = image;
    {
        QPainter painter(&image);
        display.StringGridDrawCell(painter, 1, 4, QRect(0, 0, 100, 40), QBrush(Qt::yellow));
        display.StringGridDrawCell(painter, 0, 0, QRect(0, 0, 100, 40), QBrush(Qt::yellow));
    }
    QCOMPARE(image, before);
}

void TestProgressDisplay::gridCells_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<bool>("selected");
    QTest::addColumn<int>("backgroundRole");
    QTest::newRow("title cell on the button face") << 0 << 1 << false << int(QPalette::Button);
    QTest::newRow("number cell on the button face") << 3 << 0 << false << int(QPalette::Button);
    QTest::newRow("command cell on the base") << 13 << 1 << false << int(QPalette::Base);
    QTest::newRow("selected command cell highlighted") << 13 << 1 << true << int(QPalette::Highlight);
}

// The grid as the operator sees it: each cell's background, its text drawn 2 px in from the top-left
// corner, and its grid lines.
void TestProgressDisplay::gridCells()
{
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(bool, selected);
    QFETCH(int, backgroundRole);

    ShownPanel panel;
    QVERIFY(panel.Show());
    ProgressDisplay& display = panel.display;
    QTableWidget* grid = display.StringGrid;
    if (selected) grid->setCurrentCell(row, column);

    const QImage shot = grid->viewport()->grab().toImage();
    const QColor background = grid->palette().color(static_cast<QPalette::ColorRole>(backgroundRole));
    const QRect cell = grid->visualRect(grid->model()->index(row, column));
    // The cell's grid lines take its last pixel column and row.
    const QRect inside = cell.adjusted(0, 0, -1, -1);
    auto notBackground = [&](QColor c) { return c != background; };
    QVERIFY(!HasPixel(shot, QRect(inside.topLeft(), QSize(inside.width(), 2)), notBackground));
    QVERIFY(!HasPixel(shot, QRect(inside.topLeft(), QSize(2, inside.height())), notBackground));
    QVERIFY(HasPixel(shot, inside, notBackground));

    QStyleOption option;
    option.initFrom(grid);
    const QColor line = QColor::fromRgba(static_cast<QRgb>(grid->style()->styleHint(QStyle::SH_Table_GridLineColor, &option, grid)));
    auto notLine = [&](QColor c) { return c != line; };
    QVERIFY(line != background);
    QVERIFY(!HasPixel(shot, QRect(cell.right(), cell.top(), 1, cell.height()), notLine));
    QVERIFY(!HasPixel(shot, QRect(cell.left(), cell.bottom(), cell.width(), 1), notLine));
}

void TestProgressDisplay::progressBarDrawn_data()
{
    QTest::addColumn<int>("percent");
    QTest::addColumn<bool>("leftFilled");
    QTest::addColumn<bool>("rightFilled");
    QTest::newRow("empty") << 0 << false << false;
    QTest::newRow("under half") << 45 << true << false;
    QTest::newRow("full") << 100 << true << true;
}

// The bar fills its field, on the base colour, from the left as far as its value.
void TestProgressDisplay::progressBarDrawn()
{
    QFETCH(int, percent);
    QFETCH(bool, leftFilled);
    QFETCH(bool, rightFilled);

    TRunState state;
    ProgressDisplay display(state);
    display.SetProgressBar(percent);
    QProgressBar* bar = display.ProgressBar1;
    const QImage shot = bar->grab().toImage();
    const QColor base = bar->palette().color(QPalette::Base);
    const int middle = shot.height() / 2;
    QCOMPARE(shot.pixelColor(4, middle) != base, leftFilled);
    QCOMPARE(shot.pixelColor(shot.width() - 5, middle) != base, rightFilled);
}

void TestProgressDisplay::updateProgress_data()
{
    QTest::addColumn<int>("listSize");
    QTest::addColumn<int>("step");
    QTest::addColumn<QString>("percentText");
    QTest::addColumn<int>("bar");
    QTest::addColumn<QString>("result");

    QTest::newRow("step 1 of 29") << 29 << 1 << "  3.45%" << 3 << "";
    QTest::newRow("step 6 of 29") << 29 << 6 << " 20.69%" << 21 << "";
    QTest::newRow("step 29 of 29") << 29 << 29 << "100.00%" << 100 << "OK!";
    QTest::newRow("half goes down to even") << 8 << 1 << " 12.50%" << 12 << "";
    QTest::newRow("half goes up to even") << 8 << 3 << " 37.50%" << 38 << "";
}

void TestProgressDisplay::updateProgress()
{
    QFETCH(int, listSize);
    QFETCH(int, step);
    QFETCH(QString, percentText);
    QFETCH(int, bar);
    QFETCH(QString, result);

    TRunState state;
    state.FCalList = ListOf(listSize);
    state.FRunMode = RunMode::Calibration;
    state.FStep = static_cast<std::uint8_t>(step);
    ProgressDisplay display(state);
    display.InitStepGrid(true);

    display.UpdateProgress();

    const QString line = QStringLiteral("[Step %1]Step Text %1").arg(step);
    QCOMPARE(display.StatusPanelText(0), line);
    QCOMPARE(display.StatusPanelText(1), percentText);
    QCOMPARE(display.ProgressBar1->value(), bar);
    QCOMPARE(display.Edit1->text(), QStringLiteral("step text %1").arg(step));
    QCOMPARE(display.Label4->text(), result);
    QCOMPARE(display.Label4->font().pointSize(), 15);
    QCOMPARE(display.Label4->palette().color(QPalette::WindowText), QColor(255, 0, 0));
}

void TestProgressDisplay::updateProgressOutsideCalibration()
{
    TRunState state;
    state.FRunMode = RunMode::Clearing;
    state.FStep = 2;
    state.FCalList = ListOf(29);
    ProgressDisplay display(state);
    display.SetStatusPanel(1, QStringLiteral("Clearing,finished- 40.00%"));
    display.ShowStepText(QStringLiteral("Clearing,finished- 40.00%"));
    display.SetProgressBar(40);

    display.UpdateProgress();

    // Only a calibration run's progress is shown here; the clearing run's texts stay.
    QCOMPARE(display.ProgressBar1->value(), 40);
    QCOMPARE(display.StatusPanelText(1), QStringLiteral("Clearing,finished- 40.00%"));
    QCOMPARE(display.Edit1->text(), QStringLiteral("clearing,finished- 40.00%"));
    QCOMPARE(display.Label4->text(), QString());
}

void TestProgressDisplay::showStepText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("shown");
    QTest::newRow("status line") << "[Step 6]Setting point 1 value for PS" << "setting point 1 value for ps";
    QTest::newRow("no bracket") << "Clearing,finished- 60.00%" << "clearing,finished- 60.00%";
    QTest::newRow("cut at the first bracket only") << "[A]b]C" << "b]c";
    QTest::newRow("bracket last") << "Done]" << "";
}

void TestProgressDisplay::showStepText()
{
    QFETCH(QString, text);
    QFETCH(QString, shown);
    TRunState state;
    ProgressDisplay display(state);
    display.ShowStepText(text);
    QCOMPARE(display.Edit1->text(), shown);
}

void TestProgressDisplay::resultLabel()
{
    TRunState state;
    ProgressDisplay display(state);
    display.ShowResultLabel(QStringLiteral("Failed!"));
    QCOMPARE(display.Label4->text(), QStringLiteral("Failed!"));
    QCOMPARE(display.Label4->font().pointSize(), 15);
    QCOMPARE(display.Label4->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    // The result and the captions beside the bar and the two lines are shown whole.
    QVERIFY2(CutLabels(display).isEmpty(), qPrintable(CutLabels(display).join(QStringLiteral(" | "))));
    display.ClearResultLabel();
    QCOMPARE(display.Label4->text(), QString());
}

void TestProgressDisplay::fillMsgList()
{
    TRunState state;
    ProgressDisplay display(state);
    display.FillMsgList();
    QCOMPARE(display.MsgList.rowCount(), 1);
    QCOMPARE(display.MsgList.columnCount(), 3);
    QCOMPARE(display.MsgList.text(0, 0), QStringLiteral("Step"));
    QCOMPARE(display.MsgList.text(0, 1), QStringLiteral("Order"));
    QCOMPARE(display.MsgList.text(0, 2), QStringLiteral("State"));

    state.FCalList = ListOf(29);
    display.FillMsgList();
    QCOMPARE(display.MsgList.rowCount(), 30);
    QCOMPARE(display.MsgList.text(29, 0), QStringLiteral("29"));
    QCOMPARE(display.MsgList.text(29, 1), QStringLiteral("Step Text 29"));

    display.SetStepState(5, QStringLiteral("Succeed !"));
    display.SetStepState(29, QStringLiteral("Succeed !"));
    display.ClearMsgListStates();
    for (int row = 1; row < 30; ++row) QCOMPARE(display.MsgList.text(row, 2), QString());
    QCOMPARE(display.MsgList.text(0, 2), QStringLiteral("State"));

    // A refill after a shorter list leaves no stale rows behind.
    state.FCalList = ListOf(5);
    display.FillMsgList();
    QCOMPARE(display.MsgList.rowCount(), 6);
    QCOMPARE(display.MsgList.text(5, 1), QStringLiteral("Step Text 5"));
    QCOMPARE(display.MsgList.text(6, 1), QString());
}

void TestProgressDisplay::eventLog()
{
    TRunState state;
    ProgressDisplay display(state);
    display.AddLogLine(QStringLiteral("[Step 1] : AA 00 82"));
    display.AddLogLine(QStringLiteral("Rece : AA 00 12"));
    QCOMPARE(display.EventLog->count(), 2);
    QCOMPARE(display.EventLog->item(1)->text(), QStringLiteral("Rece : AA 00 12"));
    QCOMPARE(display.EventLog->currentRow(), 1);
    display.ClearLog();
    QCOMPARE(display.EventLog->count(), 0);
    QVERIFY(display.EventLog->isHidden());
}

void TestProgressDisplay::eventLogFullEmpties()
{
    TRunState state;
    ProgressDisplay display(state);
    const int limit = ProgressDisplay::EventLogLimit;
    for (int i = 1; i <= limit; ++i) display.AddLogLine(QStringLiteral("line %1").arg(i));
    QCOMPARE(display.EventLog->count(), limit);

    display.AddLogLine(QStringLiteral("one line too many"));
    QCOMPARE(display.EventLog->count(), 0);

    display.AddLogLine(QStringLiteral("line 5"));
    QCOMPARE(display.EventLog->count(), 1);
    QCOMPARE(display.EventLog->item(0)->text(), QStringLiteral("line 5"));
    QCOMPARE(display.EventLog->currentRow(), 0);
}

void TestProgressDisplay::eventLogMenu()
{
    TRunState state;
    ProgressDisplay display(state);
    display.AddLogLine(QStringLiteral("Rece : AA"));
    const QList<QAction*> actions = display.EventLog->actions();
    QCOMPARE(actions.size(), 3);
    QCOMPARE(actions[0]->text(), QStringLiteral("保存到文件"));
    QVERIFY(actions[1]->isSeparator());
    QCOMPARE(actions[2]->text(), QStringLiteral("清除"));

    actions[0]->trigger();
    QCOMPARE(display.EventLog->count(), 1);
    actions[2]->trigger();
    QCOMPARE(display.EventLog->count(), 0);
}

void TestProgressDisplay::statusPanelShowsText()
{
    TRunState state;
    ProgressDisplay display(state);
    display.SetStatusPanel(0, QStringLiteral("Ver : 1.1.0.19"));
    QCOMPARE(display.StatusPanelText(0), QStringLiteral("Ver : 1.1.0.19"));
    QCOMPARE(display.StatusPanelText(1), QString());
    QVERIFY(display.StatusBar1->isHidden());
}

void TestProgressDisplay::resizeKeepsStates()
{
    TRunState state;
    state.FCalList = ListOf(29);
    QWidget window;
    ProgressDisplay display(state, &window);
    window.resize(900, 600);
    display.setGeometry(0, 0, 836, 560);
    window.show();
    display.FillMsgList();
    display.InitStepGrid(true);
    display.SetStepState(6, QStringLiteral("Succeed !"));
    display.SetStepState(15, QStringLiteral("Calibrating Abort !"));
    display.SetProgressBar(50);

    display.resize(600, 400);

    QCOMPARE(display.StringGrid->columnWidth(0), 50);
    CheckColumnsShare(display, 600);
    QCOMPARE(display.StringGrid->height(), 320);
    QCOMPARE(Cell(display.StringGrid, 4, 2), QStringLiteral("Succeed !"));
    QCOMPARE(Cell(display.StringGrid, 7, 2), QStringLiteral("Calibrating Abort !"));
    QCOMPARE(Cell(display.StringGrid, 5, 2), QStringLiteral("---"));
    QCOMPARE(display.ProgressBar1->value(), 50);

    display.resize(900, 500);
    CheckColumnsShare(display, 900);
    QCOMPARE(Cell(display.StringGrid, 4, 2), QStringLiteral("Succeed !"));
}

void TestProgressDisplay::titleRowDragWidensColumn()
{
    ShownPanel panel;
    QVERIFY(panel.Show());
    ProgressDisplay& display = panel.display;

    QWidget* viewport = display.StringGrid->viewport();
    const int border = display.StringGrid->columnViewportPosition(0) + display.StringGrid->columnWidth(0);
    const int titleY = display.StringGrid->rowViewportPosition(0) + 5;

    // Dragging in a body row changes nothing.
    const int bodyY = display.StringGrid->rowViewportPosition(3) + 5;
    QTest::mousePress(viewport, Qt::LeftButton, {}, QPoint(border, bodyY));
    QTest::mouseMove(viewport, QPoint(border + 40, bodyY));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, QPoint(border + 40, bodyY));
    QCOMPARE(display.StringGrid->columnWidth(0), 50);

    QTest::mousePress(viewport, Qt::LeftButton, {}, QPoint(border, titleY));
    QTest::mouseMove(viewport, QPoint(border + 40, titleY));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, QPoint(border + 40, titleY));
    QCOMPARE(display.StringGrid->columnWidth(0), 90);
}

QTEST_MAIN(TestProgressDisplay)
#include "tst_ProgressDisplay.moc"
