// What a meter driven by libsigrok reports, checked for the quantity a calibration point needs,
// and who a meter says it is, for the record.
#pragma once

#include "ScpiReply.h"

#include <QString>

#include <cstdint>

// One sample of an analog packet: the value with libsigrok's quantity (SR_MQ_*), unit (SR_UNIT_*)
// and quantity flags (SR_MQFLAG_* mask), as the driver reported them.
struct MeterSample {
    double value = 0.0;
    int mq = 0;
    int unit = 0;
    std::uint64_t flags = 0;
    // The places the meter shows after the decimal point (negative: zeros before it), when the
    // driver reports them.
    int digits = 0;
    bool hasDigits = false;
};

// A value only for a DC voltage in volts (DC current in amperes) without hold, relative, min/max or
// average; otherwise what the meter shows and what the operator is to do about it.
MeterReply CheckSample(const MeterSample& sample, MeterQuantity expected);
// The sample as the meter's display would show it: "12.3 Ω", "5.0012 V AC", "OL V DC".
QString SampleText(const MeterSample& sample);

// The meter that gave a run's readings: the libsigrok driver (or "SCPI"), what the meter reports
// of itself and where it is connected.
struct MeterIdentity {
    QString source;
    QString vendor;
    QString model;
    QString version;
    QString serial;
    QString connection;
    bool isEmpty() const { return vendor.isEmpty() && model.isEmpty(); }
    // "Fluke 287 V1.16 on /dev/ttyUSB0", with the serial number when there is one.
    QString describe() const;
};

// An SCPI meter's answer to *IDN? ("maker,model,serial,firmware"); fewer fields leave the rest empty.
MeterIdentity ParseIdn(const QByteArray& line, const QString& connection);
