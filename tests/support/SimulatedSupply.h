// Runs the simulated supply as a child process on its own pseudo-terminal and keeps what it prints.
#pragma once

#include <QProcess>
#include <QStringList>

#include <vector>

class SimulatedSupply {
public:
    explicit SimulatedSupply(QString program);
    ~SimulatedSupply();
    SimulatedSupply(const SimulatedSupply&) = delete;
    SimulatedSupply& operator=(const SimulatedSupply&) = delete;

    // Starts it with the given options; returns its pseudo-terminal's path, empty when it failed.
    QString start(const QStringList& args, int timeoutMs = 5000);
    // Ends it the way an operator would (SIGTERM); it prints its final state on the way out.
    bool stop(int timeoutMs = 5000);

    // Everything printed so far.
    QString output();
    // Keeps a copy of everything printed in this file, rewritten the moment more arrives.
    void teeTo(const QString& path) { teePath_ = path; }
    QStringList linesStartingWith(const QString& prefix);
    // Every frame the supply took as addressed to it, in order, with when it arrived and when its
    // answer went out (-1: not answered), in the supply's milliseconds.
    struct Received {
        int step = 0;
        int command = 0;
        qint64 atMs = 0;
        qint64 answeredAtMs = -1;
    };
    std::vector<Received> received();
    // The fields of the last "STATE ..." line ("serial=000042", "V1=100", ...).
    QStringList lastStateFields();
    QString errorString() const { return process_.errorString(); }

private:
    QString program_;
    QProcess process_;
    QByteArray printed_;
    QString teePath_;

    void take(const QByteArray& bytes);
};
