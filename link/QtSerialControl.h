// The serial control over QSerialPort on Linux: port numbers resolved to devices, line errors polled.
#pragma once

#include "SerialControl.h"

#include <QObject>
#include <QSerialPort>
#include <QTimer>

#include <deque>
#include <functional>

class QtSerialControl : public QObject, public SerialControl {
    Q_OBJECT
public:
    // Maps a port number to its device path (e.g. 1 -> "/dev/ttyS0").
    using PortResolver = std::function<QString(int portNumber)>;

    explicit QtSerialControl(PortResolver resolver, QObject* parent = nullptr);
    ~QtSerialControl() override;

    void setCommPort(int port) override { commPort_ = port; }
    int commPort() const override { return commPort_; }
    void setSettings(const QString& settings) override { settings_ = settings; }
    QString settings() const override { return settings_; }
    bool setPortOpen(bool open) override;
    bool portOpen() const override { return port_.isOpen(); }
    bool setDTREnable(bool on) override;
    bool setRTSEnable(bool on) override;
    int inBufferCount() const override;
    bool setInBufferCount(int count) override;
    int outBufferCount() const override;
    bool setOutBufferCount(int count) override;
    QByteArray input() override;
    bool setOutput(const QByteArray& bytes) override;
    bool flushOutput() override;
    bool waitUntilSent(int timeoutMs) override;
    int commEvent() const override { return event_; }
    QString openFailure() const override { return openFailure_; }
    void setInputLen(int) override {}
    void setInputMode(int) override {}
    void setRThreshold(int) override {}
    void setSThreshold(int) override {}

    // The device path of the last opening attempt, and whether line errors are being watched.
    QString devicePath() const { return devicePath_; }
    bool pollingLineErrors() const { return errorPoll_.isActive(); }
    // How many read or resource errors the port has reported since it was created.
    int deviceErrorSignals() const { return deviceErrorSignals_; }

private:
    void post(int event);
    void dispatchOne();
    void onReadyRead();
    void onError(QSerialPort::SerialPortError error);
    void pollLineErrors();
    bool readCounters(int* frame, int* parity, int* overrun) const;
    bool modemLine(bool ok);
    QString describeOpenFailure() const;

    PortResolver resolver_;
    QSerialPort port_;
    QString devicePath_;
    QString openFailure_;
    int commPort_ = 1;
    QString settings_ = QStringLiteral("9600,n,8,1");
    int event_ = 0;

    // Events are raised from the event loop, never from inside QSerialPort's own signal, so a
    // handler that waits and pumps events still sees later arrivals as new events.
    std::deque<int> pending_;
    bool receivePending_ = false;
    bool hangUpPending_ = false;
    int deviceErrorSignals_ = 0;
    QTimer dispatch_;

    QTimer errorPoll_;
    int frameErrors_ = 0;
    int parityErrors_ = 0;
    int overruns_ = 0;
};
