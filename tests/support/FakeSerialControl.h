// A serial control for tests: records what is written, delivers injected bytes as receive events,
// raises any port event and can refuse property writes or hold output.
#pragma once

#include "OPCPublic.h"
#include "SerialControl.h"

#include <functional>
#include <vector>

class FakeSerialControl : public SerialControl {
public:
    void setCommPort(int port) override { commPort_ = port; }
    int commPort() const override { return commPort_; }
    void setSettings(const QString& settings) override { settings_ = settings; }
    QString settings() const override { return settings_; }
    bool setPortOpen(bool open) override;
    bool portOpen() const override { return open_; }
    bool setDTREnable(bool on) override;
    bool setRTSEnable(bool on) override;
    int inBufferCount() const override { return static_cast<int>(in_.size()); }
    bool setInBufferCount(int count) override;
    int outBufferCount() const override { return static_cast<int>(pending_.size()); }
    bool setOutBufferCount(int count) override;
    QByteArray input() override;
    bool setOutput(const QByteArray& bytes) override;
    bool flushOutput() override;
    bool waitUntilSent(int timeoutMs) override;
    int commEvent() const override { return event_; }
    void setInputLen(int len) override { inputLen_ = len; }
    void setInputMode(int mode) override { inputMode_ = mode; }
    void setRThreshold(int n) override { rThreshold_ = n; }
    void setSThreshold(int n) override { sThreshold_ = n; }

    // Bytes arrive on the line: they wait in the input and a receive event is raised.
    void inject(const QByteArray& bytes);
    void inject(const TPsuFrame& frame);
    // Bytes arrive without an event (a receive event that finds them comes later, or never).
    void arrive(const QByteArray& bytes) { in_.append(bytes); }
    void raise(int commEvent);

    // Called with every whole 26-byte frame that reached the line.
    void setFrameHandler(std::function<void(const TPsuFrame&)> handler) { onFrame_ = std::move(handler); }
    // Called at every wait until the output has left, before it answers.
    void setWaitHandler(std::function<void()> handler) { onWait_ = std::move(handler); }

    // Failure switches.
    bool failOpen = false;
    bool failDtr = false;
    bool failRts = false;
    int failWriteAfter = -1;  // refuse the output write after this many bytes (-1: never)
    bool holdOutput = false;  // written bytes stay pending instead of going out, even when flushed

    QByteArray sent;                  // every byte that went out, in order
    std::vector<TPsuFrame> frames;    // every whole frame that went out
    std::vector<QString> settingsLog; // the line settings at each opening
    std::vector<int> waitTimeouts;    // the time limit of every wait until sent
    int flushes = 0;
    int opens = 0;
    int closes = 0;
    bool dtr = false;
    bool rts = false;
    int inputLen_ = -1;
    int inputMode_ = -1;
    int rThreshold_ = -1;
    int sThreshold_ = -1;

private:
    void flushPending();

    int commPort_ = 0;
    QString settings_;
    bool open_ = false;
    int event_ = 0;
    QByteArray in_;
    QByteArray pending_;
    QByteArray frameBytes_;
    std::function<void(const TPsuFrame&)> onFrame_;
    std::function<void()> onWait_;
};
