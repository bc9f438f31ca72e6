// A reading of the meter at one calibration point: queries repeated until two readings agree.
#pragma once

#include "MeterLink.h"
#include "ScpiReply.h"

#include <QString>

#include <functional>
#include <vector>

struct MeterResult {
    bool ok = false;
    double value = 0.0;  // the last reading, in volts or amperes
    int reads = 0;
    double spread = 0.0;  // largest minus smallest reading taken
    double deviation = 0.0;   // the readings' experimental standard deviation; 0 with one
    double resolution = 0.0;  // the step of the last reading's last digit; 0: not known
    bool settled = false;  // two consecutive readings agreed within the tolerance
    QString message;       // why there is no value, for the operator
    bool advice = false;   // the message says what the meter shows and what to do about it
};

class MeterReader {
public:
    MeterReader(MeterChannel& channel, double settleShare, int maxReads);
    ~MeterReader();
    MeterReader(const MeterReader&) = delete;
    MeterReader& operator=(const MeterReader&) = delete;

    // Reads until two consecutive readings agree within the settle share of the reading, at most
    // maxReads times; `done` is called once. Any reply that is not a reading ends the reading
    // with its message: nothing is made up from the readings before it.
    void Read(MeterQuantity quantity, const QByteArray& query, std::function<void(const MeterResult&)> done);
    // Stops a reading; its `done` is never called.
    void Cancel();

    // The text the value dialog shows for a result: "3 readings, spread 0.0012 V" and the like.
    static QString Describe(const MeterResult& result, MeterQuantity quantity);

private:
    void Next();
    void OnReply(const MeterReply& reply, const QString& error);
    void Finish(MeterResult result);

    MeterChannel& channel_;
    double settleShare_;
    int maxReads_;
    MeterQuantity quantity_ = MeterQuantity::Voltage;
    QByteArray query_;
    std::vector<double> readings_;
    std::function<void(const MeterResult&)> done_;
};
