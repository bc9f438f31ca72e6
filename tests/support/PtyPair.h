// A pseudo-terminal pair held by a test: the test plays the supply on the master side.
#pragma once

#include <QByteArray>
#include <QString>

class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool isValid() const { return master_ >= 0 && slave_ >= 0; }
    // The device the link opens.
    QString slavePath() const { return slavePath_; }
    // Writes to the link's side; returns false on a short write.
    bool write(const QByteArray& bytes);
    // Whatever the link has written so far, without waiting.
    QByteArray readAvailable();
    // Suspends or resumes the link's output, as a line held by flow control (nothing leaves).
    bool stopOutput(bool stopped);
    // The supply goes away. The slave stays held so that its number is not reused meanwhile.
    void closeMaster();

private:
    int master_ = -1;
    int slave_ = -1;
    QString slavePath_;
};
