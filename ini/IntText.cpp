// Integer conversion rules shared by the settings dialog and the configuration file.
#include "IntText.h"

#include "AppError.h"

#include <cstdint>

namespace {

int HexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9') return u - u'0';
    if (u >= u'a' && u <= u'f') return u - u'a' + 10;
    if (u >= u'A' && u <= u'F') return u - u'A' + 10;
    return -1;
}

int DecimalDigit(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') ? u - u'0' : -1;
}

}  // namespace

bool TryStrToInt(const QString& text, qint32* out)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && (text[i] == u' ' || text[i] == u'\t')) ++i;

    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }

    bool hex = false;
    if (i < n && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        hex = true;
        ++i;
    }
    if (i >= n) return false;

    // Accumulate in 64 bits and stop as soon as the value leaves the 32-bit range, so a long
    // run of digits cannot wrap around into a plausible number.
    const std::uint64_t limit = hex ? 0xFFFFFFFFull : (negative ? 0x80000000ull : 0x7FFFFFFFull);
    const std::uint64_t base = hex ? 16 : 10;
    std::uint64_t value = 0;
    for (; i < n; ++i) {
        const int d = hex ? HexDigit(text[i]) : DecimalDigit(text[i]);
        if (d < 0) return false;
        value = value * base + static_cast<std::uint64_t>(d);
        if (value > limit) return false;
    }

    std::uint32_t bits = static_cast<std::uint32_t>(value);
    if (negative) bits = 0u - bits;
    if (out) *out = static_cast<qint32>(bits);
    return true;
}

qint32 StrToInt(const QString& text)
{
    qint32 value = 0;
    if (!TryStrToInt(text, &value))
        throw AppError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return value;
}
