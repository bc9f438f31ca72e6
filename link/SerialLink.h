// The serial port link: opening, writing frames, port events and the hand-over of whole answers.
#pragma once

#include "Clock.h"
#include "OPCPublic.h"
#include "ReplyAssembler.h"
#include "SerialControl.h"

#include <QString>

#include <functional>

class SerialLink {
public:
    SerialLink(SerialControl& comm, Clock& clock);

    // Hooks the owner wires: the run mode that decides whether chunks are used, the event log,
    // and the reply dispatch that reads FReply.
    void setRunModeSource(std::function<int()> source) { runMode_ = std::move(source); }
    void setLogSink(std::function<void(const QString&)> sink) { log_ = std::move(sink); }
    void setReplyHandler(std::function<void()> handler) { handleReply_ = std::move(handler); }

    // Start-up defaults of the control; the port stays closed.
    void SetDefaults();
    bool OpenPort(int port, int baud);
    void ClosePort();
    void WriteFabData(const std::uint8_t* bytes, int length);
    void WriteFabData(const TPsuFrame& frame, int length = TPsuFrame::Size)
    {
        WriteFabData(frame.bytes.data(), length);
    }
    // Waits until the frame just written has left the port, at most SendBoundMs; a line that does
    // not take it fails like a write. True when the bytes are out.
    bool WaitUntilSent();
    void Comm1Comm();
    static int BaudWaitMs(int baud);
    // The longest wait for one frame to leave: its line time at the baud rate and a margin.
    static int SendBoundMs(int baud);
    void ReceiveChunk(const QByteArray& chunk, int n);
    void ReassembleReply(const std::uint8_t* chunk, int n);
    void ResetPort();
    // Empties the partial answer; the sequencer does it before frames the supply is slow to answer.
    void ClearRx() { rx_.Clear(); }

    const ReplyAssembler& rx() const { return rx_; }
    int FRxCount() const { return rx_.count(); }

    bool FPortOpen = false;
    std::uint8_t FPortNo = 0;
    int FBaud = 9600;
    TPsuFrame FReply;
    QString FLogText;

private:
    void Log(const QString& line);
    void WriteFailed();

    SerialControl& comm_;
    Clock& clock_;
    ReplyAssembler rx_;
    std::function<int()> runMode_;
    std::function<void(const QString&)> log_;
    std::function<void()> handleReply_;
};
