// The about box TFormAbout: the maker's logo, the program's name and its version line.
#pragma once

#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

class TFormAbout : public QDialog {
    Q_OBJECT
public:
    explicit TFormAbout(QWidget* parent = nullptr);

    QFrame* Bevel1;
    QLabel* Image1;
    QLabel* Label6;
    QLabel* Label1;
    // The version line; whoever opens the box writes it first, the text set here is only a
    // placeholder.
    QLabel* Label2;
    QPushButton* Button1;

public slots:
    void Button1Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FitTexts();
};
