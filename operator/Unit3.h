// The information window: the prompt of a calibration point beside its multimeter wiring picture.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

class TForm3 : public QDialog {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);

    // Shows the prompt text, in a smaller type where the machine's face would not fit it whole.
    void SetPrompt(const QString& text);
    // Makes picture 1..4 the visible one and hides the other three.
    void ShowPicture(int picture);
    // The picture now visible (1..4).
    int VisiblePicture() const;

    QLabel* Label1 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Image3 = nullptr;
    QLabel* Image4 = nullptr;
    QPushButton* Button1 = nullptr;

private:
    QLabel* image(int picture) const;
};
