// Every message box of the program: notices, warnings, errors, information and the two questions.
#include "MessageBoxes.h"

#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>

namespace {

// A question box that tells a button press apart from a dismissal: QMessageBox would otherwise
// turn Esc and the close box into a press of its No button.
class DismissibleBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;
    bool dismissed = false;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->matches(QKeySequence::Cancel)) {
            dismissed = true;
            reject();
            return;
        }
        QMessageBox::keyPressEvent(event);
    }
    void closeEvent(QCloseEvent* event) override
    {
        dismissed = true;
        QDialog::closeEvent(event);
    }
};

void ShowSingle(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                QMessageBox::StandardButton button)
{
    QMessageBox box(icon, title, text, button, parent);
    box.setDefaultButton(button);
    box.setEscapeButton(button);
    box.exec();
}

}  // namespace

namespace MessageBoxes {

QString AppTitle() { return QStringLiteral("Korvex Power Calibrator"); }

void Notice(QWidget* parent, const QString& text)
{
    ShowSingle(parent, QMessageBox::NoIcon, AppTitle(), text, QMessageBox::Ok);
}

void Warning(QWidget* parent, const QString& text)
{
    ShowSingle(parent, QMessageBox::Warning, QStringLiteral("Warning"), text, QMessageBox::Yes);
}

void Error(QWidget* parent, const QString& text)
{
    ShowSingle(parent, QMessageBox::Critical, QStringLiteral("Error"), text, QMessageBox::Yes);
}

void Information(QWidget* parent, const QString& text)
{
    ShowSingle(parent, QMessageBox::Information, QStringLiteral("Information"), text, QMessageBox::Yes);
}

BoxAnswer Question(QWidget* parent, const QString& text)
{
    DismissibleBox box(QMessageBox::Question, QStringLiteral("Confirm"), text,
                       QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::Yes);
    box.exec();
    if (box.dismissed || !box.clickedButton()) return BoxAnswer::Closed;
    return box.clickedButton() == box.button(QMessageBox::Yes) ? BoxAnswer::Yes : BoxAnswer::No;
}

BoxAnswer WarningQuestion(QWidget* parent, const QString& text)
{
    // Asked before something that cannot be undone (a supply's calibration erased, a far-off value
    // written): going ahead takes a deliberate Yes, an Enter meant for something else answers No.
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Warning"), text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    box.exec();
    return box.clickedButton() == box.button(QMessageBox::Yes) ? BoxAnswer::Yes : BoxAnswer::No;
}

}  // namespace MessageBoxes
