// The splash window TForm1: the start-up picture, closed by its own timer or by a click.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QTimer>

// A picture that reports a left click, which a plain label does not.
class ClickableImage : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

class TForm1 : public QDialog {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);

    ClickableImage* Image1;
    // Runs from creation to the end of the process, so the splash stays up until the first tick
    // after it is shown: never longer than one period.
    QTimer Timer1;

public slots:
    void Timer1Timer();
    void Image1Click();

protected:
    void showEvent(QShowEvent* event) override;
};
