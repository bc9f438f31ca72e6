// A reading of the meter at one calibration point: queries repeated until two readings agree.
#include "MeterReader.h"

#include <algorithm>
#include <cmath>

MeterReader::MeterReader(MeterChannel& channel, double settleShare, int maxReads)
    : channel_(channel), settleShare_(settleShare), maxReads_(std::max(1, maxReads))
{
}

MeterReader::~MeterReader() { Cancel(); }

void MeterReader::Cancel()
{
    if (!done_) return;
    done_ = {};
    channel_.Cancel();
}

void MeterReader::Read(MeterQuantity quantity, const QByteArray& query, std::function<void(const MeterResult&)> done)
{
    Cancel();
    quantity_ = quantity;
    query_ = query;
    readings_.clear();
    done_ = std::move(done);
    Next();
}

void MeterReader::Next()
{
    channel_.Measure(quantity_, query_, [this](const MeterReply& reply, const QString& error) { OnReply(reply, error); });
}

void MeterReader::OnReply(const MeterReply& reply, const QString& error)
{
    if (!done_) return;
    MeterResult result;
    result.reads = static_cast<int>(readings_.size());
    if (!error.isEmpty()) {
        result.message = error;
        Finish(result);
        return;
    }
    if (reply.kind != MeterReply::Kind::Value) {
        result.message = reply.problem;
        result.advice = reply.advice;
        Finish(result);
        return;
    }
    readings_.push_back(reply.value);
    const std::size_t n = readings_.size();
    const bool agreed = n >= 2 && std::fabs(readings_[n - 1] - readings_[n - 2]) <= settleShare_ * std::fabs(readings_[n - 1]);
    if (!agreed && static_cast<int>(n) < maxReads_) {
        Next();
        return;
    }
    const auto [low, high] = std::minmax_element(readings_.begin(), readings_.end());
    result.ok = true;
    result.value = readings_.back();
    result.reads = static_cast<int>(n);
    result.spread = *high - *low;
    result.resolution = reply.resolution;
    if (n >= 2) {
        double mean = 0;
        for (double v : readings_) mean += v / static_cast<double>(n);
        double squares = 0;
        for (double v : readings_) squares += (v - mean) * (v - mean);
        result.deviation = std::sqrt(squares / static_cast<double>(n - 1));
    }
    result.settled = agreed;
    Finish(result);
}

void MeterReader::Finish(MeterResult result)
{
    auto done = std::move(done_);
    done_ = {};
    if (done) done(result);
}

QString MeterReader::Describe(const MeterResult& r, MeterQuantity quantity)
{
    if (!r.ok && r.advice) return QStringLiteral("%1. Please type the value.").arg(r.message);
    if (!r.ok) return QStringLiteral("No reading from the meter: %1. Please type the value.").arg(r.message);
    const QString unit = quantity == MeterQuantity::Current ? QStringLiteral("A") : QStringLiteral("V");
    QString text = QStringLiteral("Meter: %1 reading%2, spread %3 %4")
                       .arg(r.reads)
                       .arg(r.reads == 1 ? QString() : QStringLiteral("s"))
                       .arg(r.spread, 0, 'g', 4)
                       .arg(unit);
    if (!r.settled && r.reads > 1) text += QStringLiteral(" (not settled)");
    return text;
}
