// A hand-held meter driven by libsigrok: its session runs on a thread of its own, and each sample
// is posted back to the window's thread and checked there for the point's quantity.
#pragma once

#include "SigrokModule.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

struct SigrokMailbox;

class SigrokMeter : public QObject, public SigrokDevice {
    Q_OBJECT
public:
    // `conn`: the connection as libsigrok takes it, COMn already mapped (see MeterDevicePath).
    SigrokMeter(MeterSettings settings, QString conn, QObject* parent = nullptr);
    ~SigrokMeter() override;

    // A libsigrok meter takes no SCPI: every question is answered with that error.
    void Query(const QByteArray& command, Answer answer) override;
    // Waits for the next sample, at most the settings' TimeoutMs; starts the session if it is not
    // running (the first reading, or the first after the meter failed).
    void Measure(MeterQuantity quantity, const QByteArray& query, Reading done) override;
    void Cancel() override;
    MeterIdentity Identity() const override { return identity_; }

    void Sample(Sampled done) override;

private:
    void Start();
    void Stop();
    void OnSample(std::uint64_t generation, const MeterSample& sample);
    void OnOpened(std::uint64_t generation, const MeterIdentity& identity);
    void OnEnded(std::uint64_t generation, const QString& why);
    void OnTimeout();
    void Finish(const MeterSample* sample, const QString& error);

    MeterSettings settings_;
    QString conn_;
    QTimer timeout_;
    std::shared_ptr<SigrokMailbox> mailbox_;  // the running session's, shared with its thread
    // Held by each session's thread while it has the port: a new session waits for the old one.
    std::shared_ptr<std::mutex> port_ = std::make_shared<std::mutex>();
    std::uint64_t generation_ = 0;
    MeterIdentity identity_;
    Sampled pending_;
};
