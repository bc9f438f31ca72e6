// The serial control the link drives: the properties and the port event it relies on.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// Causes reported in CommEvent.
namespace CommEv {
constexpr int Receive = 2;
constexpr int Frame = 1004;
constexpr int RxOver = 1008;
constexpr int RxParity = 1009;
constexpr int TxFull = 1010;
constexpr int Dcb = 1011;
// Not one of the control's own codes: the device went away (adapter pulled, peer ended) and the
// control has closed the port.
constexpr int HangUp = 9001;
}  // namespace CommEv

// Property writes return false when the control refuses them (the port cannot be opened, a
// write to the device fails, ...); reads never fail.
class SerialControl {
public:
    virtual ~SerialControl() = default;

    virtual void setCommPort(int port) = 0;
    virtual int commPort() const = 0;
    virtual void setSettings(const QString& settings) = 0;
    virtual QString settings() const = 0;
    virtual bool setPortOpen(bool open) = 0;
    virtual bool portOpen() const = 0;
    virtual bool setDTREnable(bool on) = 0;
    virtual bool setRTSEnable(bool on) = 0;
    virtual int inBufferCount() const = 0;
    virtual bool setInBufferCount(int count) = 0;  // 0 discards waiting input
    virtual int outBufferCount() const = 0;
    virtual bool setOutBufferCount(int count) = 0;  // 0 discards pending output
    virtual QByteArray input() = 0;                  // takes every waiting byte
    virtual bool setOutput(const QByteArray& bytes) = 0;
    // Hands every queued byte to the device now instead of when the event loop next runs; false
    // when the device refuses them. Bytes the line cannot take yet stay queued.
    virtual bool flushOutput() = 0;
    // Waits, without handling events, until every byte written has left the port, for at most
    // timeoutMs; false when some are still waiting (a stopped, full or hung-up line).
    virtual bool waitUntilSent(int timeoutMs) = 0;
    virtual int commEvent() const = 0;
    // Why the last opening failed, in words for the operator; empty when it opened or the control
    // cannot tell.
    virtual QString openFailure() const { return {}; }

    // Start-up properties that only shape how Input and the receive event behave.
    virtual void setInputLen(int len) = 0;
    virtual void setInputMode(int mode) = 0;
    virtual void setRThreshold(int n) = 0;
    virtual void setSThreshold(int n) = 0;

    // Raised for every port event; CommEvent tells the cause.
    void setOnComm(std::function<void()> handler) { onComm_ = std::move(handler); }

protected:
    void raiseOnComm()
    {
        if (onComm_) onComm_();
    }

private:
    std::function<void()> onComm_;
};
