// Every message box of the program: notices, warnings, errors, information and the two questions.
#pragma once

#include "RunView.h"

#include <QString>

class QWidget;

namespace MessageBoxes {

// The title of plain notices.
QString AppTitle();

// Every box is shown modal and returns at once, nothing waiting in a loop of its own for the
// operator. A box told while another of these four is up is shown when that one is closed.
// OK button, the application's title, no icon.
void Notice(QWidget* parent, const QString& text);
// A single Yes button with the titles "Warning", "Error" and "Information" and their icons.
void Warning(QWidget* parent, const QString& text);
void Error(QWidget* parent, const QString& text);
void Information(QWidget* parent, const QString& text);
// The questions are shown modal and return at once: nothing waits in a loop of its own for the
// operator, and `then` is called with the answer when the box closes.
// Yes and No under the title "Confirm"; Closed when the box is dismissed by Esc or its close box,
// which callers that go on only on Yes treat like No.
void Question(QWidget* parent, const QString& text, Answered then);
// Yes and No under the title "Warning" with its icon, No the default. Enter, Esc and the close box
// answer No, so only a deliberate Yes lets a destructive or doubtful action go ahead.
void WarningQuestion(QWidget* parent, const QString& text, Answered then);

}  // namespace MessageBoxes
