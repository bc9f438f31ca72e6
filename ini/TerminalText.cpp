// Text from outside the program as a terminal may be shown it.
#include "TerminalText.h"

QString TerminalText(QString text, bool oneLine)
{
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        const bool layout = u == u'\n' || u == u'\t' || u == u'\r';
        if (layout) {
            if (oneLine) c = QLatin1Char(' ');
        } else if (u < 0x20 || (u >= 0x7F && u <= 0x9F)) {
            c = QLatin1Char('?');
        }
    }
    return text;
}
