// A simulated power supply on a pseudo-terminal or serial device: answers frames, keeps its state, injects faults.
#pragma once

#include "OPCPublic.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <array>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <vector>

// Which answers a fault applies to: every command or the listed ones, each for its first N
// occurrences or for ever.
class FaultSelector {
public:
    // "all", "0x8C", "8C", "0x8Cx2" (first two only), comma-separated; empty means none.
    bool parse(const QString& text, QString* error);
    bool empty() const { return !all_ && perCommand_.empty(); }
    // Consumes one occurrence when the command is selected.
    bool take(std::uint8_t command);

private:
    struct Budget {
        bool unlimited = true;
        int left = 0;
    };
    bool all_ = false;
    Budget allBudget_;
    std::map<std::uint8_t, Budget> perCommand_;
};

struct PsuSimOptions {
    int address = 0;
    std::array<char, 6> serial{{'0', '0', '0', '0', '4', '2'}};
    FaultSelector noAnswer;
    std::map<int, int> noAnswerSteps;  // step number -> times left (-1: for ever)
    int dropEvery = 0;
    FaultSelector badChecksum;
    FaultSelector wrongAddress;
    FaultSelector duplicate;
    FaultSelector noise;
    QByteArray noiseBytes = QByteArray::fromHex("55 00 13");
    std::vector<int> split;
    int gapMs = 5;
    int delayMs = 0;
    int hangupAfter = 0;
    // The faults above apply to the answers of this step only (0: to every step).
    int atStep = 0;
    // Close the line when the frame of this step arrives, unanswered (0: never).
    int hangupStep = 0;
    // Not 0: each answer may, by chance from this seed, be lost, cut in two, sent twice, late,
    // preceded by noise or carry a wrong checksum.
    unsigned randomSeed = 0;
    // Model code 0..2 (7211B, 7212B, 7213B): the levels of the 4th and 5th voltage points and the
    // 2nd current point.
    int model = 1;
};

// What the supply's terminals carry now, as a meter on them would measure it.
struct OutputLevel {
    enum Kind { Off, Volts, Amps };
    Kind kind = Off;
    double value = 0.0;
};

class PsuSim : public QObject {
    Q_OBJECT
public:
    explicit PsuSim(PsuSimOptions options, QObject* parent = nullptr);
    ~PsuSim() override;

    // Opens a pseudo-terminal pair and keeps both ends; returns the slave path or an empty text.
    QString openPty(QString* error);
    bool attach(const QString& path, int baud, QString* error);

    QString stateLine() const;
    OutputLevel output() const { return output_; }
    void printState() const;

    static void Print(const QString& line);

private:
    struct Outgoing {
        qint64 due;
        QByteArray bytes;
        bool hangup;
    };

    void startReading();
    void onReadable();
    void handleFrame(const TPsuFrame& frame);
    QString applyFrame(const TPsuFrame& frame, bool* changed);
    void answer(const TPsuFrame& frame);
    void schedule(qint64 afterMs, QByteArray bytes, bool hangup = false);
    void flushDue();
    void hangUp();

    PsuSimOptions opt_;
    int fd_ = -1;
    int slaveFd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QByteArray inbox_;
    QElapsedTimer clock_;
    QTimer outTimer_;
    std::deque<Outgoing> outbox_;

    // Supply state.
    int controlState_ = -1;
    bool calMode_ = false;
    bool cleared_ = false;
    OutputLevel output_;
    int voltagePoint_ = 0;
    int currentPoint_ = 0;
    std::array<std::optional<qint32>, 5> volts_{};
    std::array<std::optional<int>, 2> amps_{};
    std::optional<QByteArray> model_;
    std::optional<std::array<std::uint8_t, 6>> testInfo_;

    int frames_ = 0;
    int answersDue_ = 0;
    int answersSent_ = 0;
    int step_ = 0;
    qint64 lastAnswerDue_ = 0;  // ms after the current frame at which its answer's last piece goes out
    std::optional<TPsuFrame> previous_;
    std::mt19937 rng_;
};
