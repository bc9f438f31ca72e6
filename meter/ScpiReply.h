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
    };
    Kind kind = Kind::Empty;
    double value = 0.0;  // volts or amperes; only with Kind::Value
    QString problem;     // what was wrong, in words for the operator
};

// One answer line: an SCPI number ("+3.99912E+00", "4.0012", "-.5"), optionally followed by a
// unit suffix of the expected quantity (V, VDC or A, ADC, in any letter case). Several values,
// a suffix of the other quantity, NaN or infinity are garbled; a magnitude of 9.9E37 or more is
// the overload value.
MeterReply ParseMeterReply(const QByteArray& line, MeterQuantity expected);
