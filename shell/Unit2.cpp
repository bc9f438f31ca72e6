// The help window TForm2: a heading, two tab pages and an OK button.
#include "Unit2.h"

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
    columns->setColumnStretch(1, 1);
    columns->setRowStretch(1, 1);
    columns->setColumnMinimumWidth(0, 110);

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
