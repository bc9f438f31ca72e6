// Answers the modal windows a test opens: each window that becomes modal is handed to the next
// queued step, which looks at it and closes it; a window nobody expected is rejected and counted.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <functional>

class ModalAnswerer : public QObject {
public:
    using Step = std::function<void(QWidget*)>;

    struct BoxSeen {
        QString title;
        QString text;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton defaultButton;
    };

    ModalAnswerer()
    {
        timer_.setInterval(5);
        connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start();
    }

    void then(Step step) { steps_.push_back(std::move(step)); }

    // Presses a standard button of the next message box.
    void pressBox(QMessageBox::StandardButton button)
    {
        then([this, button](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box) {
                ++unexpected;
                w->close();
                return;
            }
            record(box);
            if (QAbstractButton* b = box->button(button))
                b->click();
            else
                ++unexpected;
        });
    }

    // Records the next message box and lets `act` dismiss it (Esc, close box).
    void dismissBox(std::function<void(QMessageBox*)> act)
    {
        then([this, act = std::move(act)](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            if (!box) {
                ++unexpected;
                w->close();
                return;
            }
            record(box);
            act(box);
        });
    }

    bool done() const { return steps_.empty(); }

    std::vector<BoxSeen> boxes;
    int unexpected = 0;

private:
    void record(QMessageBox* box)
    {
        QMessageBox::StandardButton def = QMessageBox::NoButton;
        if (box->defaultButton()) def = box->standardButton(box->defaultButton());
        boxes.push_back({box->windowTitle(), box->text(), box->icon(), box->standardButtons(), def});
    }

    void poll()
    {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || w == last_) return;
        last_ = w;
        if (steps_.empty()) {
            ++unexpected;
            if (auto* dialog = qobject_cast<QDialog*>(w))
                dialog->reject();
            else
                w->close();
            return;
        }
        Step step = std::move(steps_.front());
        steps_.pop_front();
        // Run outside this timer's slot: a step that opens a box needs the timer again, and a
        // timer does not fire while its own slot runs.
        QPointer<QWidget> target(w);
        QMetaObject::invokeMethod(
            this, [step = std::move(step), target] { if (target) step(target); }, Qt::QueuedConnection);
    }

    QTimer timer_;
    QPointer<QWidget> last_;
    std::deque<Step> steps_;
};
