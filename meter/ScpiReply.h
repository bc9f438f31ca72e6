// What a bench multimeter answers to a measure query, taken apart without trusting it.
#pragma once

#include <QByteArray>
#include <QString>

enum class MeterQuantity { Voltage, Current };

struct MeterReply {
    enum class Kind {
        Value,     // a reading in volts or amperes
        Overload,  // the meter's overload value (9.9E37): the range is too small
        Empty,     // nothing but blanks and line ends
        Garbled,   // anything else
        OtherQuantity,  // a reading of another kind than the point's: the meter's dial is wrong
    };
    Kind kind = Kind::Empty;
    double value = 0.0;  // volts or amperes; only with Kind::Value
    // The step of the reading's last digit as the meter gave it (V or A); 0: not known.
    double resolution = 0.0;
    QString problem;     // what was wrong, in words for the operator
    // The problem is a whole sentence of what the meter shows and what to do ("The meter reads
    // 12.3 Ω: set its dial to DC volts"), not the reason there is no reading.
    bool advice = false;
};

// One answer line: an SCPI number ("+3.99912E+00", "4.0012", "-.5"), optionally followed by a
// unit suffix of the expected quantity (V, VDC or A, ADC, in any letter case). Several values,
// a suffix of the other quantity, NaN or infinity are garbled; a magnitude of 9.9E37 or more is
// the overload value.
// The step of the last digit of a number as written ("0.1003" 0.0001, "5" 1, "1.500E-03" 0.000001,
// "0,25" 0.01); 0 when the text is no number. Trailing zeros count: a meter that shows them
// resolves them.
double NumberResolution(const QString& text);

MeterReply ParseMeterReply(const QByteArray& line, MeterQuantity expected);
