// The simulated bench multimeter on the supply's terminals: SCPI over a pseudo-terminal or a
// loopback socket, or a hand-held Fluke 287 on the pseudo-terminal, answering with what the
// simulated supply outputs at that moment.
#pragma once

#include "PsuSim.h"

#include <QByteArray>
#include <QObject>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <memory>
#include <random>

struct MeterSimOptions {
    double offset = 0.0;  // added to every reading, in volts or amperes
    double noise = 0.0;   // each reading off by up to this much either way
    int delayMs = 0;      // before each answer
    // Faults, each for the first N questions (-1: for ever): no answer, an answer that is no
    // number, the overload value.
    int silent = 0;
    int garbage = 0;
    int overload = 0;
    unsigned seed = 1;
    // The pseudo-terminal speaks the Fluke 287's remote protocol (ID, QM) instead of SCPI.
    bool fluke = false;
    // Counted in the levels the terminals carry (1: the first point): at this one the dial is on
    // ohms, at this one the display shows OL, from this one on the cable is pulled (no answers).
    int wrongDialPoint = 0;
    int overloadPoint = 0;
    int unplugPoint = 0;
};

class MeterSim : public QObject {
    Q_OBJECT
public:
    MeterSim(MeterSimOptions options, std::function<OutputLevel()> terminals, QObject* parent = nullptr);
    ~MeterSim() override;

    // Returns the slave path, or an empty text with the reason in `error`.
    QString openPty(QString* error);
    // Listens on 127.0.0.1; port 0 takes a free one. Returns the port, 0 on failure.
    quint16 listenTcp(quint16 port, QString* error);

    // The answer to one question line, before faults and delay.
    QByteArray answerTo(const QByteArray& question);

private:
    void onPtyReadable();
    void onConnection();
    void handle(QByteArray* inbox, const std::function<void(const QByteArray&)>& reply);
    void handleFluke(const std::function<void(const QByteArray&)>& reply);
    QByteArray flukeMeasurement();
    void send(const std::function<void(const QByteArray&)>& reply, const QByteArray& bytes);
    bool spend(int* budget);

    MeterSimOptions opt_;
    std::function<OutputLevel()> terminals_;
    std::mt19937 rng_;
    int fd_ = -1;
    int slaveFd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QByteArray ptyInbox_;
    OutputLevel lastLevel_;
    int levelNumber_ = 0;
    QTcpServer server_;
};
