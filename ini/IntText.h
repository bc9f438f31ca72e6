// Conversion of text to a 32-bit integer: decimal with a sign, or hexadecimal after "$" or "x".
#pragma once

#include <QString>
#include <QtGlobal>

// Leading blanks are skipped; an optional sign may precede "$", "x" or "X", which mark
// hexadecimal. Up to eight hexadecimal digits are taken as a 32-bit pattern ("$FFFFFFFF" is -1);
// a decimal value must fit a signed 32-bit integer. Anything else, trailing text included,
// is not an integer and leaves *out unchanged.
bool TryStrToInt(const QString& text, qint32* out);

// As TryStrToInt; throws AppError "'<text>' is not a valid integer value" when it fails.
qint32 StrToInt(const QString& text);
