// The help window TForm2: a heading, two tab pages and an OK button.
#include "Unit2.h"

#include "CalPoints.h"
#include "OPCPublic.h"
#include "ReportPage.h"
#include "RunWords.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

TForm2::TForm2(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Help"));
    setModal(true);
    resize(515, 526);

    Label1 = new QLabel(QStringLiteral("Korvex Power Calibrator Help  "), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont headingFont = Label1->font();
    headingFont.setPixelSize(19);
    Label1->setFont(headingFont);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    TabSheet1 = new QWidget;
    TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
    TabSheet2 = new QWidget;
    TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
    PageControl1->addTab(TabSheet1, QStringLiteral("About Program"));
    PageControl1->addTab(TabSheet2, QStringLiteral("About PowerSupply"));

    Label2 = new QLabel(QStringLiteral("Button:"), TabSheet1);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label3 = new QLabel(QStringLiteral("Function"), TabSheet1);
    Label3->setObjectName(QStringLiteral("Label3"));
    auto* columns = new QGridLayout(TabSheet1);
    columns->addWidget(Label2, 0, 0, Qt::AlignLeft | Qt::AlignTop);
    columns->addWidget(Label3, 0, 1, Qt::AlignLeft | Qt::AlignTop);
    const char* const buttonHelp[][2] = {
        {"Setting", "Chooses the serial port, baud rate, supply address, model and operator; OK opens the port."},
        {"Calibrate", "Calibrates the connected supply: at each of its seven points, read the multimeter and type its value."},
        {"Reset", "Clears the calibration data held in the supply."},
        {"Abort", "Stops the calibration that is running."},
        {"Help", "Shows this window."},
        {"About", "Shows the program's version."},
        {"Exit", "Closes the program; not while a calibration is running."},
        {"Results...", "The record of every unit: its readings, its report or certificate, CSV exports and charts (Alt+U)."},
        {"Meter...", "The multimeter the program reads, its asset number, calibration due date, accuracy and checks (Alt+M)."},
    };
    int row = 1;
    for (const auto& [button, function] : buttonHelp) {
        columns->addWidget(new QLabel(QString::fromLatin1(button), TabSheet1), row, 0, Qt::AlignLeft | Qt::AlignTop);
        auto* what = new QLabel(QString::fromLatin1(function), TabSheet1);
        what->setWordWrap(true);
        columns->addWidget(what, row++, 1, Qt::AlignTop);
    }
    columns->setColumnStretch(1, 1);
    columns->setRowStretch(row, 1);
    columns->setColumnMinimumWidth(0, 110);

    // The points as the run takes them, from the run's own table.
    auto* points = new QGridLayout(TabSheet2);
    const QStringList heads{QStringLiteral("Point"), QStringLiteral("Reads")};
    for (int c = 0; c < heads.size(); ++c) points->addWidget(new QLabel(heads[c], TabSheet2), 0, c);
    for (int model = 0; model < OfferedModelCount; ++model)
        points->addWidget(new QLabel(ModelName(static_cast<std::uint8_t>(model)), TabSheet2), 0, 2 + model);
    points->addWidget(new QLabel(QStringLiteral("Wiring picture"), TabSheet2), 0, 2 + OfferedModelCount);
    for (const CalPoint& p : CalPoints()) {
        const bool current = p.quantity == Quantity::Current;
        points->addWidget(new QLabel(QString::number(p.number), TabSheet2), p.number, 0);
        points->addWidget(new QLabel(current ? QStringLiteral("current") : QStringLiteral("voltage"), TabSheet2), p.number, 1);
        for (int model = 0; model < OfferedModelCount; ++model) {
            points->addWidget(new QLabel(BareLevel(p, static_cast<std::uint8_t>(model)), TabSheet2), p.number, 2 + model);
        }
        const bool small = p.picture == WiringPicture::Millivolts || p.picture == WiringPicture::Milliamperes;
        points->addWidget(new QLabel(QStringLiteral("%1 (%2)").arg(static_cast<int>(p.picture))
                                         .arg(current ? (small ? "mA" : "A") : (small ? "mV" : "V")), TabSheet2),
                          p.number, 3 + OfferedModelCount - 1);
    }
    points->setRowStretch(CalPointCount + 1, 1);

    TabSheet3 = new QWidget;
    TabSheet3->setObjectName(QStringLiteral("TabSheet3"));
    PageControl1->addTab(TabSheet3, QStringLiteral("Readings and results"));
    auto* readings = new QGridLayout(TabSheet3);
    auto* typing = new QLabel(
        QStringLiteral("Type each reading in volts or amperes, with a decimal point: a meter showing 100.3 mV is typed 0.1003, "
                       "one showing 99.8 mA is typed 0.0998. The value dialog names the point and the unit it takes. A value far "
                       "from the point's level is asked about before it is written; No returns to the dialog. Esc during a run "
                       "asks whether to abort it."),
        TabSheet3);
    typing->setWordWrap(true);
    readings->addWidget(typing, 0, 0, 1, 2);
    readings->addWidget(new QLabel(QStringLiteral("Result"), TabSheet3), 1, 0, Qt::AlignLeft | Qt::AlignTop);
    readings->addWidget(new QLabel(QStringLiteral("Meaning"), TabSheet3), 1, 1, Qt::AlignLeft | Qt::AlignTop);
    int line = 2;
    for (const QString& word : ResultWords()) {
        readings->addWidget(new QLabel(word, TabSheet3), line, 0, Qt::AlignLeft | Qt::AlignTop);
        auto* meaning = new QLabel(ResultMeaningText(word), TabSheet3);
        meaning->setWordWrap(true);
        readings->addWidget(meaning, line++, 1, Qt::AlignTop);
    }
    readings->setColumnStretch(1, 1);
    readings->setRowStretch(line, 1);
    readings->setColumnMinimumWidth(0, 110);

    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, [this] { done(1); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BitBtn1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(PageControl1, 1);
    layout->addLayout(buttons);
}
