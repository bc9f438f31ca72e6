// The line to a bench multimeter: one SCPI query at a time over a serial port or raw TCP, each
// with its time limit, all of it event-driven so that nothing waits on the user-interface thread.
#pragma once

#include "MeterSample.h"
#include "MeterSettings.h"
#include "ScpiReply.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QObject>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

// What the meter's readers need of the line; tests stand in for it.
class MeterChannel {
public:
    virtual ~MeterChannel() = default;
    // Called once with the answer line (without its line end), or with a non-empty error; an
    // error found at once (no meter set up, a port that does not open) comes before Query returns.
    using Answer = std::function<void(const QByteArray& line, const QString& error)>;
    // Sends `command` (its own line end is replaced by the configured one). A query while another
    // is pending is answered at once with an error.
    virtual void Query(const QByteArray& command, Answer answer) = 0;
    // Forgets the pending query: its answer is never delivered.
    virtual void Cancel() = 0;

    // One reading of `quantity`, called once with the reply or a non-empty error. A line that
    // speaks SCPI sends `query` and parses the answer; a meter that reports its own quantity
    // checks that instead.
    using Reading = std::function<void(const MeterReply& reply, const QString& error)>;
    virtual void Measure(MeterQuantity quantity, const QByteArray& query, Reading done);
    // Who the meter said it is, once it has; empty before.
    virtual MeterIdentity Identity() const { return {}; }
};

class MeterLink : public QObject, public MeterChannel {
    Q_OBJECT
public:
    // `devicePath` serves a serial meter (see MeterDevicePath).
    MeterLink(MeterSettings settings, QString devicePath, QObject* parent = nullptr);
    ~MeterLink() override;

    void Query(const QByteArray& command, Answer answer) override;
    void Cancel() override;
    // The first reading asks the meter *IDN? first, for the record's name of it.
    void Measure(MeterQuantity quantity, const QByteArray& query, Reading done) override;
    MeterIdentity Identity() const override { return identity_; }
    void Close();

private:
    enum class Tcp { Closed, LookingUp, Connecting, Open };

    void Send();
    void OnReadable();
    void OnTimeout();
    void OnLost(const QString& why);
    void Finish(const QByteArray& line, const QString& error);
    void LookUp();
    void OnLookedUp(QByteArrayList addresses, const QString& why);
    void ConnectNext(QString why);
    void OnWritable();
    void CloseSocket();

    MeterSettings settings_;
    QString devicePath_;
    QSerialPort serial_;
    QTimer timeout_;
    // TCP over a plain non-blocking socket: the program then needs no network library at all.
    int fd_ = -1;
    Tcp tcp_ = Tcp::Closed;
    std::unique_ptr<QSocketNotifier> readable_;
    std::unique_ptr<QSocketNotifier> writable_;
    QByteArrayList addresses_;  // the looked-up addresses not yet tried, each a raw sockaddr
    quint64 attempt_ = 0;       // counts each Close, so that a look-up answers only its own attempt
    QByteArray command_;
    QByteArray received_;
    qint64 unasked_ = 0;  // bytes the meter sent with no question pending, since the last question
    Answer pending_;
    bool identityAsked_ = false;
    MeterIdentity identity_;
};
