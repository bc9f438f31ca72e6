// Text from outside the program (a meter's answer, an operator's entry, a file's name) as a
// terminal may be shown it.
#pragma once

#include <QString>

// Every control character (escape sequences, which can move the cursor, rename the window or hide
// what follows, among them) becomes '?'; line breaks and tabs stay unless `oneLine`, when they
// become blanks.
QString TerminalText(QString text, bool oneLine = false);
