// Every message box of the program: notices, warnings, errors, information and the two questions.
#include "MessageBoxes.h"

#include <QKeyEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

#include <deque>

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

// Shows a box modal, as exec() would, and hands its answer on when it closes; the box is gone
// after that.
void Ask(QMessageBox* box, std::function<BoxAnswer()> answer, Answered then)
{
    box->setWindowModality(Qt::ApplicationModal);
    QObject::connect(box, &QDialog::finished, box, [box, answer = std::move(answer), then = std::move(then)] {
        const BoxAnswer a = answer();
        box->deleteLater();
        if (then) then(a);
    });
    box->show();
}

// A box told while another is up waits for it, so that they are read in the order they were told.
struct Told {
    QPointer<QWidget> parent;
    bool hadParent;
    QMessageBox::Icon icon;
    QString title;
    QString text;
    QMessageBox::StandardButton button;
};
std::deque<Told>& Waiting()
{
    static std::deque<Told> waiting;
    return waiting;
}
QPointer<QMessageBox>& Showing()
{
    static QPointer<QMessageBox> showing;
    return showing;
}

void ShowNext()
{
    while (!Showing() && !Waiting().empty()) {
        Told told = std::move(Waiting().front());
        Waiting().pop_front();
        // The window it was told over is gone, and with it what the box was about.
        if (told.hadParent && !told.parent) continue;
        auto* box = new QMessageBox(told.icon, told.title, told.text, told.button, told.parent);
        box->setDefaultButton(told.button);
        box->setEscapeButton(told.button);
        Showing() = box;
        Ask(box, [] { return BoxAnswer::Yes; }, [](BoxAnswer) {
            Showing() = nullptr;
            ShowNext();
        });
    }
}

// Shown modal, as exec() would, and back at once: nothing waits in a loop of its own for the
// operator to read it.
void ShowSingle(QWidget* parent, QMessageBox::Icon icon, const QString& title, const QString& text,
                QMessageBox::StandardButton button)
{
    Waiting().push_back({parent, parent != nullptr, icon, title, text, button});
    ShowNext();
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

void Question(QWidget* parent, const QString& text, Answered then)
{
    auto* box = new DismissibleBox(QMessageBox::Question, QStringLiteral("Confirm"), text,
                                   QMessageBox::Yes | QMessageBox::No, parent);
    box->setDefaultButton(QMessageBox::Yes);
    Ask(box, [box] {
        if (box->dismissed || !box->clickedButton()) return BoxAnswer::Closed;
        return box->clickedButton() == box->button(QMessageBox::Yes) ? BoxAnswer::Yes : BoxAnswer::No;
    }, std::move(then));
}

void WarningQuestion(QWidget* parent, const QString& text, Answered then)
{
    // Asked before something that cannot be undone (a supply's calibration erased, a far-off value
    // written): going ahead takes a deliberate Yes, an Enter meant for something else answers No.
    auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Warning"), text, QMessageBox::Yes | QMessageBox::No, parent);
    box->setDefaultButton(QMessageBox::No);
    box->setEscapeButton(QMessageBox::No);
    Ask(box, [box] { return box->clickedButton() == box->button(QMessageBox::Yes) ? BoxAnswer::Yes : BoxAnswer::No; },
        std::move(then));
}

}  // namespace MessageBoxes
