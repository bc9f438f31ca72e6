// The help window TForm2: a heading, two tab pages and an OK button.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>

class TForm2 : public QDialog {
    Q_OBJECT
public:
    explicit TForm2(QWidget* parent = nullptr);

    QLabel* Label1;
    QTabWidget* PageControl1;
    QWidget* TabSheet1;
    QWidget* TabSheet2;
    // How readings are typed and what the record's result words mean.
    QWidget* TabSheet3;
    QLabel* Label2;
    QLabel* Label3;
    QPushButton* BitBtn1;
};
