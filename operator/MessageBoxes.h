// Every message box of the program: notices, warnings, errors, information and the two questions.
#pragma once

#include "RunView.h"

#include <QString>

class QWidget;

namespace MessageBoxes {

// The title of plain notices.
QString AppTitle();

// OK button, the application's title, no icon.
void Notice(QWidget* parent, const QString& text);
// A single Yes button with the titles "Warning", "Error" and "Information" and their icons.
void Warning(QWidget* parent, const QString& text);
void Error(QWidget* parent, const QString& text);
void Information(QWidget* parent, const QString& text);
// Yes and No under the title "Confirm"; Closed when the box is dismissed by Esc or its close box,
// which callers that go on only on Yes treat like No.
BoxAnswer Question(QWidget* parent, const QString& text);
// Yes and No under the title "Warning" with its icon, Yes the default. Esc and the close box
// answer No, so a dismissed box never lets a destructive action go ahead.
BoxAnswer WarningQuestion(QWidget* parent, const QString& text);
// Yes and No under the title "Warning", No the default and the answer to Esc: for going ahead with
// something doubtful only on a deliberate Yes.
BoxAnswer QuestionDefaultNo(QWidget* parent, const QString& text);

}  // namespace MessageBoxes
